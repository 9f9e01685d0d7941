#include "service/check/program_checker.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "service/check/file_manager.h"
#include "service/formats/crc.h"
#include "tests/service/check/check_fixture.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;

// Trees built in code, for what a feed cannot deliver: refused names, incomplete items,
// descriptions compared directly, the update's own folders inside an installed folder, the
// open calls of one reduction. Checks of feed-built trees are in file_check_feed_test.cpp.
class ProgramCheckerTest : public CheckConfigTest {
 protected:
  void SetUp() override {
    CheckConfigTest::SetUp();
    fDir = fRoot / "work";
    fs::create_directories(fDir);
    fCollection.fCrc = &fCrc;
    fCollection.fMainUrl = "http://127.0.0.1/feed";
  }

  void Write(const fs::path& aPath, const std::string& aText) {
    fs::create_directories(aPath.parent_path());
    std::ofstream(aPath, std::ios::binary) << aText;
  }
  std::int32_t CrcOf(const std::string& aText) {
    TCalcStreamCRC crc;
    crc.Update(aText.data(), aText.size());
    return static_cast<std::int32_t>(crc.CRC());
  }
  TStructItem& AddFile(TStructCollection& aItems, const std::string& aName, const std::string& aContent,
                       TFileCompareMode aMode) {
    TStructItem& item = aItems.Add();
    item.FName = aName;
    item.FIsDirectory = false;
    item.FreeDirObject();
    TFileInfo& info = item.NeedFileInfo();
    info.FPackedName = aName + ".z";
    info.FSize = static_cast<std::int32_t>(aContent.size());
    info.FCrc = CrcOf(aContent);
    info.FPackedSize = 10;
    info.FCompareMode = aMode;
    return item;
  }
  TMainStructItem& Root(bool aSync = false) {
    TMainStructItem& root = fCollection.fMergedItems.AddMain();
    root.FName = "Program";
    root.FSpecialDir = "[InstallDir]";
    root.NeedDir().FSync = aSync;
    return root;
  }
  TCheckConfig Config() const { return TCheckConfig::FromUpdateConfig(Common::UpdateConfig()); }

  fs::path fDir;
  TCalcStreamCRC fCrc;
  TProgramCollection fCollection;
};

TEST_F(ProgramCheckerTest, ConfigurationSnapshotComesFromTheUpdateConfiguration) {
  Common::UpdateConfig().SetUpdateChannelSwitchPending(true);
  const TCheckConfig config = Config();
  EXPECT_TRUE(config.UpdateChannelSwitchPending);
  EXPECT_EQ(config.UpdateDownloadDir, (fRoot / "opt/quorvane/Download/").string());
  EXPECT_EQ(config.UpdateLogDir, (fRoot / "opt/quorvane/Log/").string());
  EXPECT_EQ(config.Resolve("[installdir]"), (fRoot / "opt/quorvane/").string());
  EXPECT_EQ(config.Resolve("[ProgramDataDir]"), (fRoot / "var/lib/").string());
  EXPECT_EQ(config.Resolve("[Unknown]"), "");
  // A snapshot: a later change of the flag is seen by the next check only.
  Common::UpdateConfig().SetUpdateChannelSwitchPending(false);
  EXPECT_TRUE(config.UpdateChannelSwitchPending);
  EXPECT_FALSE(Config().UpdateChannelSwitchPending);
}

// A check that cannot read its configuration fails loudly and leaves the manager ready for
// the next one.
TEST_F(ProgramCheckerTest, DamagedConfigurationValueFailsTheCheckAndLeavesTheManagerIdle) {
  const auto machine = Platform::Registry::THive::HKEY_LOCAL_MACHINE;
  fRegistry.WriteValue(machine, "Software\\Quorvane\\Update", "UpdateChannelSwitchPending", std::string("yes"));
  TUpdateFileList files;
  TBlockingTaskQueue queue;
  TFileManager manager(files, fCollection, queue);
  bool done = false;
  manager.SetOnDone([&](TFileManager&) { done = true; });
  EXPECT_THROW(manager.CheckFiles(), Platform::Registry::ERegistryException);
  EXPECT_FALSE(manager.Busy());

  fRegistry.WriteValue(machine, "Software\\Quorvane\\Update", "UpdateChannelSwitchPending", std::uint32_t{1});
  ASSERT_TRUE(manager.CheckFiles());  // no programs: nothing to do
  ASSERT_TRUE(queue.RunOne(std::chrono::seconds(30)));
  EXPECT_TRUE(done);
}

TEST_F(ProgramCheckerTest, CompareFileInfoOfEveryMode) {
  TFileInfo existing;
  existing.FVersionMajor = 2;
  existing.FCrc = 100;
  existing.FTime = 5000;
  const auto other = [&](std::int32_t aMajor, std::int32_t aCrc, std::int32_t aTime) {
    TFileInfo info = existing;
    info.FVersionMajor = aMajor;
    info.FCrc = aCrc;
    info.FTime = aTime;
    return info;
  };
  struct TCase {
    TFileCompareMode Mode;
    TFileInfo Other;
    int Expected;
  };
  const TCase cases[] = {
      {fcmDefault, other(3, 100, 5000), 1},
      {fcmDefault, other(1, 999, 5000), -1},
      {fcmDefault, other(2, 999, 5000), 1},
      {fcmDefault, other(2, 100, 9999), 0},
      {fcmCheckSum, other(1, 999, 5000), 1},
      {fcmCheckSum, other(9, 100, 5000), 0},
      {fcmVersion, other(1, 999, 5000), -1},
      {fcmVersion, other(2, 999, 5000), 0},
      {fcmDate, other(2, 100, 6000), 1},
      {fcmDate, other(2, 100, 4000), -1},
      {fcmDate, other(2, 999, 5000), 0},
      {fcmNever, other(9, 999, 9999), 0},
      {fcmAlways, other(2, 100, 5000), 1},
      {static_cast<TFileCompareMode>(99), other(2, 100, 5000), 1},
      // Without items around them, proxied descriptions have no ".version" sibling.
      {fcmProxy, other(2, 100, 5000), 1},
  };
  const TProgramCollectionChecker checker(fCollection, Config());
  for (const TCase& c : cases) {
    EXPECT_EQ(checker.CompareFileInfo(existing, c.Other, c.Mode), c.Expected)
        << static_cast<int>(c.Mode) << ": " << c.Other.FVersionMajor << " " << c.Other.FCrc << " " << c.Other.FTime;
  }
}

TEST_F(ProgramCheckerTest, SynchronisedInstallFolderKeepsTheUpdateFolders) {
  TMainStructItem& root = Root(true);
  Write(InstallDir() / "kept.txt", "kept");
  Write(InstallDir() / "surplus.txt", "x");
  Write(InstallDir() / "Log" / "update.service.log", "log");
  Write(InstallDir() / "Download" / "Program" / "old.z", "package");
  Write(InstallDir() / "Downloads" / "other.txt", "not ours");
  AddFile(root.Dir()->Items(), "kept.txt", "kept", fcmCheckSum);
  TProgramCollectionChecker checker(fCollection, Config());
  ASSERT_TRUE(checker.Reduce());
  std::vector<std::string> deleted;
  for (std::size_t i = 0; i < fCollection.fDeleteMeList.Count(); ++i) {
    deleted.push_back(fs::path(fCollection.fDeleteMeList.Items(i).Path()).lexically_relative(InstallDir()).string());
  }
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(deleted, (std::vector<std::string>{"Downloads", "surplus.txt"}));
  ASSERT_TRUE(checker.CollectFiles());
  EXPECT_EQ(fCollection.fFilesToInstall.Count(), 0u);
}

TEST_F(ProgramCheckerTest, UnsafeNameFailsTheReduction) {
  for (const char* name : {"../escape.txt", "/abs.txt", "a\\..\\..\\b.txt"}) {
    fCollection.fMergedItems.Clear();
    TMainStructItem& root = Root();
    AddFile(root.Dir()->Items(), name, "a", fcmAlways);
    EXPECT_FALSE(TProgramCollectionChecker(fCollection, Config()).Reduce()) << name;
  }
  EXPECT_FALSE(fs::exists(fRoot / "opt" / "escape.txt"));
}

TEST_F(ProgramCheckerTest, VerificationRefusesMissingParts) {
  TMainStructItem& root = Root();
  TStructItem& item = AddFile(root.Dir()->Items(), "a.txt", "a", fcmAlways);
  TProgramCollectionChecker checker(fCollection, Config());
  item.NeedInst().FSourceFile = (fDir / "none.z").string();
  EXPECT_EQ(checker.VerifyDownloadedFile(&item), STG_E_FILENOTFOUND);
  EXPECT_EQ(checker.VerifyDownloadedFile(nullptr), STG_E_INVALIDPOINTER);
  fCollection.fCrc = nullptr;
  EXPECT_EQ(checker.VerifyDownloadedFile(&item), E_POINTER);
}

// Opens of the files in one folder, seen by the kernel (inotify), so the count cannot be
// fooled by the code under test.
std::vector<std::string> OpenedDuring(const fs::path& aFolder, const std::function<void()>& aAction) {
  const int fd = ::inotify_init1(IN_NONBLOCK);
  EXPECT_GE(fd, 0);
  EXPECT_GE(::inotify_add_watch(fd, aFolder.c_str(), IN_OPEN), 0);
  aAction();
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[8192];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->len > 0 && (event->mask & IN_ISDIR) == 0) {
        names.emplace_back(event->name);
      }
      p += sizeof(inotify_event) + event->len;
    }
  }
  ::close(fd);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ProgramCheckerTest, InstalledFilesAreReadOnlyForAChecksumOfTheRightSize) {
  struct TCase {
    TFileCompareMode Mode;
    std::vector<std::string> Opened;
  };
  for (const TCase& c : {TCase{fcmCheckSum, {"same.txt"}}, TCase{fcmDate, {}}}) {
    fCollection.fMergedItems.Clear();
    TMainStructItem& root = Root();
    Write(InstallDir() / "same.txt", "same");
    Write(InstallDir() / "longer.txt", "longer on disk");
    AddFile(root.Dir()->Items(), "same.txt", "same", c.Mode);
    AddFile(root.Dir()->Items(), "longer.txt", "short", c.Mode);
    TProgramCollectionChecker checker(fCollection, Config());
    EXPECT_EQ(OpenedDuring(InstallDir(), [&] { EXPECT_TRUE(checker.Reduce()); }), c.Opened)
        << FileCompareModeToString(c.Mode);
  }
}

}  // namespace
}  // namespace Update::Service
