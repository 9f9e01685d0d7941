#pragma once

// A fresh update configuration for each test: QUORVANE_ROOT and XDG_CONFIG_HOME point into
// a new temporary folder, the registry is an in-memory store and the process-wide
// configuration is recreated on first use. Everything is undone in TearDown.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "common/config.h"
#include "platform/registry/registry.h"

namespace QuorvaneTest {

class UpdateConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    fRoot = std::filesystem::temp_directory_path() /
            ("qv-config-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(fRoot);
    std::filesystem::create_directories(fRoot);
    Remember("QUORVANE_ROOT", fRoot.string());
    Remember("XDG_CONFIG_HOME", "/home/tester/.config");
    Remember("QUORVANE_UPDATE_FEED", std::nullopt);
    Platform::Registry::SetRegistry(&fRegistry);
    Update::Common::SetUpdateConfigClass(nullptr);
    Update::Common::FreeUpdateConfig();
  }

  void TearDown() override {
    Update::Common::FreeUpdateConfig();
    Update::Common::SetUpdateConfigClass(nullptr);
    Platform::Registry::SetRegistry(nullptr);
    for (auto& [name, value] : fSaved) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::filesystem::remove_all(fRoot);
  }

  // Sets (or with nullopt unsets) an environment variable until TearDown.
  void Remember(const std::string& aName, const std::optional<std::string>& aValue) {
    if (!fSaved.count(aName)) {
      const char* old = std::getenv(aName.c_str());
      fSaved[aName] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    aValue ? ::setenv(aName.c_str(), aValue->c_str(), 1) : ::unsetenv(aName.c_str());
  }

  std::string Root() const { return fRoot.string() + "/"; }

  std::filesystem::path fRoot;
  Platform::Registry::TMemoryRegistry fRegistry;
  std::map<std::string, std::optional<std::string>> fSaved;
};

}  // namespace QuorvaneTest
