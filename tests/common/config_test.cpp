#include "common/config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "common/customer_config.h"
#include "common/manifest.h"
#include "common/state.h"
#include "platform/paths/paths.h"
#include "tests/common/update_config_fixture.h"

namespace Update::Common {
namespace {

namespace Reg = Platform::Registry;
constexpr Reg::THive kMachine = Reg::THive::HKEY_LOCAL_MACHINE;
constexpr Reg::THive kUser = Reg::THive::HKEY_CURRENT_USER;
constexpr const char* kKey = "Software\\Quorvane\\Update";

using ConfigTest = QuorvaneTest::UpdateConfigTest;

TEST_F(ConfigTest, PathsAreResolvedBelowTheRootAndEndWithADelimiter) {
  const TUpdatePaths& paths = UpdateConfig().Paths();
  std::string exeDir = Platform::Paths::ExecutableDir();
  EXPECT_EQ(paths.CommonFilesDir, Root() + "usr/share/");
  EXPECT_EQ(paths.ProgramFilesDir, Root() + "opt/");
  EXPECT_EQ(paths.ProgramDataDir, Root() + "var/lib/");
  EXPECT_EQ(paths.WindowsDir, Root() + "etc/");
  EXPECT_EQ(paths.SystemDir, Root() + "usr/lib/");
  EXPECT_EQ(paths.InstallDir, exeDir);
  EXPECT_EQ(paths.UpdateDownloadDir, exeDir + "Download/");
  EXPECT_EQ(paths.UpdateLogDir, exeDir + "Log/");
  EXPECT_EQ(paths.UpdateConfigDir, Root() + "var/lib/Quorvane/Update/");
  EXPECT_EQ(UpdateConfig().File_UpdateClient(), exeDir + "quorvane-update");
  EXPECT_EQ(UpdateConfig().File_UpdateHelper(), exeDir + "quorvane-update-helper");
}

TEST_F(ConfigTest, NamesOfFilesMailslotsAndService) {
  const TCustomUpdateConfig& config = UpdateConfig();
  EXPECT_EQ(config.Mailslot_ServerName_Service(), "quorvane\\UpdateService\\Main");
  EXPECT_EQ(config.Mailslot_ServerName_Client(), "quorvane\\UpdateClient\\Main");
  EXPECT_EQ(config.ServiceName(), "QuorvaneUpdateSvc");
  EXPECT_EQ(config.FileName_UpdateState(), "update.state.json");
  EXPECT_EQ(config.FileName_MetaManifest(), "meta.json");
  TUpdateSettings defaults = config.DefaultSettings();
  EXPECT_EQ(defaults.AllowCheckForUpdates, TSettings_AllowCheckForUpdates::acAutoOnSystemStart);
  EXPECT_EQ(defaults.TrayVisible, TSettings_TrayVisible::tvOnUserInteractionRequired);
}

TEST_F(ConfigTest, ResolveSpecialDirMatchesWholeTokensWithoutCase) {
  const TCustomUpdateConfig& config = UpdateConfig();
  const TUpdatePaths& paths = config.Paths();
  struct TCase {
    const char* Token;
    std::string Expected;
  };
  const TCase cases[] = {
      {"[windir]", paths.WindowsDir},
      {"[WinSysDir]", paths.SystemDir},
      {"[COMMONFILESDIR]", paths.CommonFilesDir},
      {"[ProgramsDir]", paths.ProgramFilesDir},
      {"[ProgramDataDir]", paths.ProgramDataDir},
      {"[installdir]", paths.InstallDir},
      {"[WinDir]\\sub", ""},
      {"", ""},
      {"[Unknown]", ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(config.ResolveSpecialDir(c.Token), c.Expected) << c.Token;
  }
}

TEST_F(ConfigTest, UpdateFeedUrlWithAndWithoutTrailingSlash) {
  EXPECT_EQ(UpdateConfig().Url_UpdateFeed(),
            "http://updates.quorvane.example/Downloads/Quorvane/update/channels/meta.json");
  for (const char* feed : {"http://127.0.0.1:8080/Downloads/Quorvane/update/channels",
                           "http://127.0.0.1:8080/Downloads/Quorvane/update/channels/"}) {
    Remember("QUORVANE_UPDATE_FEED", feed);
    EXPECT_EQ(UpdateConfig().Url_UpdateFeed(), "http://127.0.0.1:8080/Downloads/Quorvane/update/channels/meta.json");
  }
}

TEST_F(ConfigTest, FormatBitsJobNameLeavesOutMidnight) {
  EXPECT_EQ(UpdateConfig().FormatBitsJobName("x", Platform::TDateTime::Encode(2016, 3, 4, 5, 6, 7)),
            "V&W Update - x (2016-03-04 05:06:07)");
  EXPECT_EQ(UpdateConfig().FormatBitsJobName("x", Platform::TDateTime::Encode(2016, 3, 4)),
            "V&W Update - x (2016-03-04)");
}

TEST_F(ConfigTest, RegistryPropertiesHaveTheirDefaultsWhenMissing) {
  const TCustomUpdateConfig& config = UpdateConfig();
  EXPECT_EQ(config.EulaVersion(), 0);
  EXPECT_EQ(config.AcceptedEulaVersion(), -1);
  EXPECT_EQ(config.LastUpdateCheck().Value(), 0.0);
  EXPECT_EQ(config.LastUpdateInstall().Value(), 0.0);
  EXPECT_TRUE(config.UpdateVersion().IsEmpty());
  EXPECT_EQ(config.UpdateChannelName(), "");
  EXPECT_FALSE(config.UpdateChannelSwitchPending());
}

TEST_F(ConfigTest, RegistryPropertiesUseTheirHivesAndStorageTypes) {
  const TCustomUpdateConfig& config = UpdateConfig();
  Platform::TDateTime when = Platform::TDateTime::Encode(2026, 5, 6, 7, 8, 9, 10);
  config.SetEulaVersion(2);
  config.SetAcceptedEulaVersion(1);
  config.SetLastUpdateCheck(when);
  config.SetUpdateChannelName("Beta");
  config.SetUpdateChannelSwitchPending(true);
  config.SetUpdateVersion(TFileVersion("4.2.0.117"));

  // One value name, two hives.
  EXPECT_EQ(Reg::ReadDWord(fRegistry, kMachine, kKey, "EulaVersion"), 2u);
  EXPECT_EQ(Reg::ReadDWord(fRegistry, kUser, kKey, "EulaVersion"), 1u);
  EXPECT_EQ(Reg::ReadBinary(fRegistry, kMachine, kKey, "LastUpdateCheck")->size(), 8u);
  EXPECT_EQ(Reg::ReadString(fRegistry, kMachine, kKey, "UpdateChannel"), "Beta");
  EXPECT_EQ(Reg::ReadDWord(fRegistry, kMachine, kKey, "UpdateChannelSwitchPending"), 1u);
  EXPECT_EQ(Reg::ReadString(fRegistry, kMachine, kKey, "UpdateVersion"), "4.2.0.117");

  EXPECT_EQ(config.EulaVersion(), 2);
  EXPECT_EQ(config.AcceptedEulaVersion(), 1);
  EXPECT_EQ(config.LastUpdateCheck(), when);
  EXPECT_EQ(config.UpdateChannelName(), "Beta");
  EXPECT_TRUE(config.UpdateChannelSwitchPending());

  // A short version text reads padded and is written back in full.
  fRegistry.WriteValue(kMachine, kKey, "UpdateVersion", std::string("3.1"));
  EXPECT_EQ(config.UpdateVersion().AsString(), "3.1.0.0");
  config.SetUpdateVersion(config.UpdateVersion());
  EXPECT_EQ(Reg::ReadString(fRegistry, kMachine, kKey, "UpdateVersion"), "3.1.0.0");

  // Any non-zero DWORD is true; a wrong type raises.
  fRegistry.WriteValue(kMachine, kKey, "UpdateChannelSwitchPending", std::uint32_t{7});
  EXPECT_TRUE(config.UpdateChannelSwitchPending());
  fRegistry.WriteValue(kMachine, kKey, "EulaVersion", std::string("2"));
  EXPECT_THROW(config.EulaVersion(), Reg::ERegistryException);
}

// A product that renames one value and disables another.
class TRenamingConfig : public TUpdateConfig {
 public:
  std::string RegValue_UpdateChannelName() const override { return ""; }
  std::string RegValue_EulaVersion() const override { return "Licence"; }
};

TEST_F(ConfigTest, AProductCanRenameOrDisableAValue) {
  SetUpdateConfigClass([] { return TCustomUpdateConfig::Create<TRenamingConfig>(); });
  const TCustomUpdateConfig& config = UpdateConfig();
  config.SetUpdateChannelName("Beta");
  EXPECT_EQ(fRegistry.ReadValue(kMachine, kKey, "UpdateChannel"), std::nullopt);
  EXPECT_EQ(config.UpdateChannelName(), "");
  config.SetEulaVersion(5);
  EXPECT_EQ(Reg::ReadDWord(fRegistry, kMachine, kKey, "Licence"), 5u);
}

TEST_F(ConfigTest, GetUpdateChannelPrefersTheStoredNameAndFallsBackToTheFirst) {
  TUpdateMetaManifest manifest;
  manifest.Channels().New()->Name = "Release";
  manifest.Channels().New()->Name = "Beta";
  const TCustomUpdateConfig& config = UpdateConfig();

  EXPECT_EQ(config.GetUpdateChannel(&manifest)->Name, "Release");  // nothing stored
  config.SetUpdateChannelName("beta");
  EXPECT_EQ(config.GetUpdateChannel(&manifest)->Name, "Beta");
  config.SetUpdateChannelName("Nightly");
  EXPECT_EQ(config.GetUpdateChannel(&manifest)->Name, "Release");
  TUpdateMetaManifest empty;
  EXPECT_EQ(config.GetUpdateChannel(&empty), nullptr);
  EXPECT_EQ(config.GetUpdateChannel(nullptr), nullptr);
}

TEST_F(ConfigTest, ConcurrentFirstUseGivesEveryThreadOneInstance) {
  static std::atomic<int> created{0};
  created = 0;
  class TCountingConfig : public TUpdateConfig {
   public:
    TCountingConfig() { ++created; }
  };
  SetUpdateConfigClass([] { return TCustomUpdateConfig::Create<TCountingConfig>(); });
  std::vector<const TCustomUpdateConfig*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &UpdateConfig(); });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(std::set<const TCustomUpdateConfig*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_GE(created.load(), 1);
  EXPECT_EQ(seen[0], &UpdateConfig());
}

TEST_F(ConfigTest, UpdateStateLivesInTheConfigFolder) {
  TUpdateState state;
  state.SetCanInstall(true);
  TUpdateState::Save(state);
  EXPECT_TRUE(std::filesystem::exists(UpdateConfig().Paths().UpdateConfigDir + "update.state.json"));
  TUpdateState loaded;
  TUpdateState::Load(loaded);
  EXPECT_TRUE(loaded.CanInstall());
}

}  // namespace
}  // namespace Update::Common
