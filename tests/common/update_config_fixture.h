#pragma once

// A fresh update configuration for each test: QUORVANE_ROOT points at a new temporary
// folder, XDG_CONFIG_HOME at a fixed home below it, the registry is an in-memory store and
// the process-wide configuration is recreated on first use. Everything is undone when the
// test ends.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/config.h"
#include "platform/registry/registry.h"
#include "tests/support/temp_dir.h"

namespace QuorvaneTest {

class UpdateConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
  }

  // Sets (or with nullopt unsets) an environment variable until the test ends.
  void Remember(const std::string& aName, const std::optional<std::string>& aValue) { fEnv.Set(aName, aValue); }

  std::string Root() const { return fRoot.Dir(); }

  TTempRoot fRoot{"config"};
  TScopedEnv fEnv;
  Platform::Registry::TMemoryRegistry fRegistry;
};

}  // namespace QuorvaneTest
