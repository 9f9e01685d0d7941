#pragma once

// A fresh temporary folder that holds the service log while the object lives: the log is
// initialised into aLogFolder below it (into the folder itself when aLogFolder is empty)
// and switched off again before the folder is removed.

#include <filesystem>
#include <string>
#include <string_view>

#include "service/host/log.h"
#include "tests/support/temp_dir.h"

namespace QuorvaneTest {

class TServiceLogDir : public TTempDir {
 public:
  explicit TServiceLogDir(std::string_view aPrefix, const std::string& aLogFolder = "log") : TTempDir(aPrefix) {
    std::filesystem::create_directories(*this / aLogFolder);
    Update::Service::InitLog(aLogFolder.empty() ? Path().string() : File(aLogFolder));
  }
  ~TServiceLogDir() { Update::Service::InitLog(""); }

  // What the service log holds so far.
  static std::string ServiceLog() { return ReadFile(Update::Service::ServiceLogPath()); }
};

}  // namespace QuorvaneTest
