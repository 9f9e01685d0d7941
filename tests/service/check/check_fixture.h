#pragma once

// The setting of the file-check tests: a fresh update configuration below a temporary
// QUORVANE_ROOT (see tests/common/update_config_fixture.h) whose install folder lies below
// that root too (the product's lies next to the running program), and the service log's
// lines collected for inspection.

#include <filesystem>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

#include "common/customer_config.h"
#include "platform/paths/paths.h"
#include "service/host/log.h"
#include "tests/common/update_config_fixture.h"

namespace Update::Service {

// The product's configuration, installed to <root>/opt/quorvane/ (so its download folder is
// <root>/opt/quorvane/Download/).
class TCheckTestConfig : public Common::TUpdateConfig {
 public:
  std::string Dir_Install() const override { return Platform::Paths::UnderRoot("opt/quorvane/"); }
};

// Collects the lines the service log echoes; safe to read while other threads log.
class TLogLines : private std::streambuf, public std::ostream {
 public:
  TLogLines() : std::ostream(static_cast<std::streambuf*>(this)) { SetLogEcho(this); }
  ~TLogLines() override { SetLogEcho(nullptr); }

  std::string Text() const {
    const std::lock_guard lock(fSync);
    return fText;
  }
  bool Contains(const std::string& aLine) const { return Text().find(aLine) != std::string::npos; }

 private:
  int overflow(int aChar) override {
    if (aChar != std::char_traits<char>::eof()) {
      const std::lock_guard lock(fSync);
      fText.push_back(static_cast<char>(aChar));
    }
    return aChar;
  }
  std::streamsize xsputn(const char* aData, std::streamsize aCount) override {
    const std::lock_guard lock(fSync);
    fText.append(aData, static_cast<std::size_t>(aCount));
    return aCount;
  }

  mutable std::mutex fSync;
  std::string fText;
};

class CheckConfigTest : public QuorvaneTest::UpdateConfigTest {
 protected:
  void SetUp() override {
    UpdateConfigTest::SetUp();
    Common::SetUpdateConfigClass([] { return Common::TCustomUpdateConfig::Create<TCheckTestConfig>(); });
    std::filesystem::create_directories(InstallDir());
  }

  static std::filesystem::path InstallDir() { return Common::UpdateConfig().Paths().InstallDir; }
  static std::filesystem::path DownloadDir() { return Common::UpdateConfig().Paths().UpdateDownloadDir; }
};

}  // namespace Update::Service
