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

TEST_F(ProgramCheckerTest, CompareModesDecideTheDownload) {
  TMainStructItem& root = Root();
  Write(InstallDir() / "same.txt", "same");
  Write(InstallDir() / "changed.txt", "abcd");
  AddFile(root.Dir()->Items(), "same.txt", "same", fcmCheckSum);
  AddFile(root.Dir()->Items(), "changed.txt", "wxyz", fcmCheckSum);
  AddFile(root.Dir()->Items(), "missing.txt", "new", fcmNever);
  AddFile(root.Dir()->Items(), "never.txt", "other", fcmNever);
  Write(InstallDir() / "never.txt", "on disk");

  TProgramCollectionChecker checker(fCollection, Config());
  ASSERT_TRUE(checker.Reduce());
  fCollection.fMergedItems.CleanRedundantObjects();
  ASSERT_TRUE(checker.CollectFiles());
  std::vector<std::string> names;
  for (const TStructItem* item : fCollection.fFilesToDownload) {
    names.push_back(item->FName);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"changed.txt", "missing.txt"}));
  EXPECT_EQ(fCollection.fPackedSize, 2 * (10 + 352));
  const TStructItem* missing = fCollection.fMergedItems.Items(0).Dir()->Items().GetFileByName("missing.txt");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->FUrl, "http://127.0.0.1/feed/Program/missing.txt.z");
}

TEST_F(ProgramCheckerTest, PendingChannelSwitchForcesTheChecksum) {
  TMainStructItem& root = Root();
  Write(InstallDir() / "a.txt", "abcd");
  AddFile(root.Dir()->Items(), "a.txt", "wxyz", fcmNever);
  Common::UpdateConfig().SetUpdateChannelSwitchPending(true);
  TProgramCollectionChecker checker(fCollection, Config());
  ASSERT_TRUE(checker.Reduce());
  ASSERT_TRUE(checker.CollectFiles());
  EXPECT_EQ(fCollection.fFilesToDownload.Count(), 1u);
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

TEST_F(ProgramCheckerTest, MissingInstallFolderOrUnsafeNameFailsTheReduction) {
  {
    TMainStructItem& root = Root();
    AddFile(root.Dir()->Items(), "a.txt", "a", fcmAlways);
    fs::remove_all(InstallDir());
    EXPECT_FALSE(TProgramCollectionChecker(fCollection, Config()).Reduce());
  }
  fs::create_directories(InstallDir());
  fCollection.fMergedItems.Clear();
  TMainStructItem& root = Root();
  AddFile(root.Dir()->Items(), "../escape.txt", "a", fcmAlways);
  EXPECT_FALSE(TProgramCollectionChecker(fCollection, Config()).Reduce());
  EXPECT_FALSE(fs::exists(fRoot / "opt" / "escape.txt"));
}

TEST_F(ProgramCheckerTest, ShortPackageHasAnInvalidHeader) {
  TMainStructItem& root = Root();
  TStructItem& item = AddFile(root.Dir()->Items(), "a.txt", "a", fcmAlways);
  item.NeedInst().FSourceFile = (fDir / "short.z").string();
  Write(fDir / "short.z", std::string(351, 'x'));
  TProgramCollectionChecker checker(fCollection, Config());
  EXPECT_EQ(checker.VerifyDownloadedFile(&item), STG_E_INVALIDHEADER);
  item.NeedInst().FSourceFile = (fDir / "none.z").string();
  EXPECT_EQ(checker.VerifyDownloadedFile(&item), STG_E_FILENOTFOUND);
  EXPECT_EQ(checker.VerifyDownloadedFile(nullptr), STG_E_INVALIDPOINTER);
}

TEST_F(ProgramCheckerTest, FileManagerReportsAFailedReductionAsError) {
  const fs::path script = fDir / "Program.xml";
  {
    TMainStructCollection structure;
    TMainStructItem& root = structure.AddMain();
    root.FName = "Program";
    root.FSpecialDir = "[Unknown]";
    AddFile(root.Dir()->Items(), "a.txt", "a", fcmAlways);
    ASSERT_TRUE(structure.SaveToFile(script.string()));
  }
  fCollection.Add().fFileName = script.string();
  TUpdateFileList files;
  TBlockingTaskQueue queue;
  TFileManager manager(files, fCollection, queue);
  int errors = 0;
  int done = 0;
  manager.SetOnError([&](TFileManager&) { ++errors; });
  manager.SetOnDone([&](TFileManager&) { ++done; });
  ASSERT_TRUE(manager.CheckFiles());
  ASSERT_TRUE(queue.RunOne(std::chrono::seconds(30)));
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done, 0);
  EXPECT_FALSE(manager.Busy());
}

TEST_F(ProgramCheckerTest, MergeKeepsTheHigherVersionAndTheLaterChecksum) {
  for (const int version : {3, 2}) {
    TMainStructItem& root = fCollection.Add().fItems.AddMain();
    root.FName = "Program";
    root.FSpecialDir = version == 3 ? "[InstallDir]" : "[installdir]";
    TStructItem& byVersion = AddFile(root.Dir()->Items(), "v.dll", "v" + std::to_string(version), fcmVersion);
    byVersion.FileInfo()->FVersionMajor = version;
    AddFile(root.Dir()->Items(), "d.txt", "content " + std::to_string(version), fcmDefault);
  }
  TProgramCollectionChecker checker(fCollection, Config());
  ASSERT_EQ(checker.Merge(), 2);
  ASSERT_EQ(fCollection.fMergedItems.Count(), 1u);
  EXPECT_EQ(checker.CountMergedFiles(), 2);
  const TStructCollection& merged = fCollection.fMergedItems.Items(0).Dir()->Items();
  EXPECT_EQ(merged.GetFileByName("v.dll")->FileInfo()->FVersionMajor, 3);
  EXPECT_EQ(merged.GetFileByName("d.txt")->FileInfo()->FCrc, CrcOf("content 2"));
}

TEST_F(ProgramCheckerTest, ValidPackageIsTakenFromTheDownloadFolderDamagedOneIsNot) {
  for (const bool damaged : {false, true}) {
    fCollection.fMergedItems.Clear();
    TMainStructItem& root = Root();
    AddFile(root.Dir()->Items(), "a.txt", "payload", fcmCheckSum);
    Write(fDir / "src" / "a.txt", std::string("payload"));
    const fs::path package = DownloadDir() / "Program" / "a.txt.z";
    fs::create_directories(package.parent_path());
    TZlibHandler zip;
    zip.SetInput((fDir / "src" / "a.txt").string());
    zip.SetOutput(package.string());
    ASSERT_EQ(zip.Compress(), TZlibResult::zrOK);
    if (damaged) {
      std::fstream file(package, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(-1, std::ios::end);
      file.put('\x55');
    }
    TProgramCollectionChecker checker(fCollection, Config());
    ASSERT_TRUE(checker.Reduce());
    ASSERT_TRUE(checker.CollectFiles());
    EXPECT_EQ(fCollection.fFilesToInstall.Count(), 1u) << damaged;
    EXPECT_EQ(fCollection.fFilesToDownload.Count(), damaged ? 1u : 0u) << damaged;
  }
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
