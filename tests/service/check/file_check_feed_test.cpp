// File checks of feed-built trees: "quorvane-feed build" publishes source trees as modules,
// and the file manager loads, merges and reduces their structure files against folders
// below the test's root, as the update service does after it fetched the structure files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/check/file_manager.h"
#include "service/check/program_checker.h"
#include "service/formats/crc.h"
#include "tests/service/check/check_fixture.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kFeedUrl = "http://127.0.0.1:8080/feed/";
constexpr std::time_t kSourceTime = 1700000000;  // even: DOS times have two-second steps

std::string Read(const fs::path& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& aText) {
  std::string quoted = "'";
  for (const char c : aText) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

void Put(std::string& aData, std::size_t aAt, std::uint64_t aValue, std::size_t aWidth) {
  if (aData.size() < aAt + aWidth) {
    aData.resize(aAt + aWidth);
  }
  for (std::size_t i = 0; i < aWidth; ++i) {
    aData[aAt + i] = static_cast<char>(aValue >> (8 * i));
  }
}

// A minimal ELF64 image that carries our version stamp (the note section
// ".note.quorvane.version"), so the packer and the check read a file version from it.
std::string Stamped(std::uint16_t aMajor, std::uint16_t aMinor = 0, std::uint16_t aRelease = 0,
                    std::uint16_t aBuild = 0) {
  std::string image(64, '\0');
  image.replace(0, 7,
                "\x7F"
                "ELF\x02\x01\x01");
  const std::string names = std::string("\0.shstrtab\0.note.quorvane.version\0", 35);
  const std::size_t namesAt = image.size();
  image += names;
  while (image.size() % 4) {
    image.push_back('\0');
  }
  const std::size_t noteAt = image.size();
  Put(image, noteAt, 9, 4);  // "Quorvane" and its NUL
  Put(image, noteAt + 4, 8, 4);
  Put(image, noteAt + 8, 1, 4);
  image += std::string("Quorvane\0\0\0\0", 12);
  for (const std::uint16_t part : {aMajor, aMinor, aRelease, aBuild}) {
    Put(image, image.size(), part, 2);
  }
  const std::size_t noteSize = image.size() - noteAt;
  while (image.size() % 8) {
    image.push_back('\0');
  }
  const std::size_t sections = image.size();
  image.resize(sections + 3 * 64, '\0');
  const auto section = [&](std::size_t aIndex, std::uint32_t aName, std::uint32_t aType, std::size_t aOffset,
                           std::size_t aSize) {
    const std::size_t at = sections + aIndex * 64;
    Put(image, at, aName, 4);
    Put(image, at + 4, aType, 4);
    Put(image, at + 24, aOffset, 8);
    Put(image, at + 32, aSize, 8);
    Put(image, at + 48, 4, 8);
  };
  section(1, 1, 3, namesAt, names.size());
  section(2, 11, 7, noteAt, noteSize);
  Put(image, 0x28, sections, 8);
  Put(image, 0x3A, 64, 2);
  Put(image, 0x3C, 3, 2);
  Put(image, 0x3E, 1, 2);
  return image;
}

std::int32_t CrcOf(const std::string& aText) {
  TCalcStreamCRC crc;
  crc.Update(aText.data(), aText.size());
  return static_cast<std::int32_t>(crc.CRC());
}

class FileCheckFeedTest : public CheckConfigTest {
 protected:
  void SetUp() override {
    CheckConfigTest::SetUp();
    fTool = QUORVANE_FEED_TOOL;
    ASSERT_TRUE(fs::exists(fTool)) << fTool;
    fWork = fRoot / "work";
    fCollection = std::make_unique<TProgramCollection>();
  }

  // A file of a module's source tree.
  void Source(const std::string& aModule, const std::string& aPath, const std::string& aContent) {
    Write(fWork / "src" / aModule / aPath, aContent, kSourceTime);
  }
  // A file below the test's root (an installed file, a package in the download folder).
  static void Write(const fs::path& aPath, const std::string& aContent, std::time_t aTime = kSourceTime) {
    fs::create_directories(aPath.parent_path());
    std::ofstream(aPath, std::ios::binary | std::ios::trunc) << aContent;
    const timespec times[2] = {{aTime, 0}, {aTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, aPath.c_str(), times, 0), 0) << aPath;
  }

  // Publishes the modules ("Name[@SPECIALDIR][,compare=MODE][,sync]", sources from Source)
  // as one channel and makes them the programs of a fresh collection, in this order.
  void Build(const std::vector<std::string>& aModules) {
    fs::remove_all(fWork / "feed");
    std::string command = Quote(fTool.string()) + " build --out " + Quote((fWork / "feed").string()) +
                          " --name Test --channel Release --version 1 --quiet";
    fCollection = std::make_unique<TProgramCollection>();
    fCollection->fCrc = &fCrc;
    fCollection->fMainUrl = kFeedUrl;
    for (const std::string& spec : aModules) {
      const std::string name = spec.substr(0, spec.find_first_of("@,"));
      const std::string options = spec.substr(name.size());
      fs::create_directories(fWork / "src" / name);
      command += " --module " + Quote(name + "=" + (fWork / "src" / name).string() + options);
      TProgramItem& program = fCollection->Add();
      program.fName = name;
      program.fFileName = (fWork / "feed" / (name + ".xml")).string();
    }
    const fs::path output = fWork / "build.txt";
    const int status = std::system((command + " >" + Quote(output.string()) + " 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << Read(output);
  }
  fs::path Package(const std::string& aModule, const std::string& aPath) const {
    return fWork / "feed" / aModule / (aPath + ".z");
  }

  struct TResult {
    bool Done = false;
    bool Error = false;
    // Install targets and delete-list paths relative to the test's root, sorted.
    std::vector<std::string> Download;
    std::vector<std::string> Install;
    std::vector<std::string> Deleted;
  };

  // One check by the file manager, driven to its end on this thread.
  TResult Check() {
    TResult result;
    TBlockingTaskQueue queue;
    TFileManager manager(fFiles, *fCollection, queue);
    manager.SetOnDone([&](TFileManager&) { result.Done = true; });
    manager.SetOnError([&](TFileManager&) { result.Error = true; });
    if (!manager.CheckFiles()) {
      ADD_FAILURE() << "CheckFiles refused";
      return result;
    }
    EXPECT_TRUE(queue.RunOne(60s)) << "the check did not end";
    EXPECT_FALSE(manager.Busy());
    const auto relative = [this](const std::string& aPath) {
      return fs::path(aPath).lexically_relative(fRoot.Path()).string();
    };
    for (const TStructItem* item : fCollection->fFilesToDownload) {
      result.Download.push_back(relative(item->Inst()->FTarget));
    }
    for (const TStructItem* item : fCollection->fFilesToInstall) {
      result.Install.push_back(relative(item->Inst()->FTarget));
    }
    for (std::size_t i = 0; i < fCollection->fDeleteMeList.Count(); ++i) {
      result.Deleted.push_back(relative(fCollection->fDeleteMeList.Items(i).Path()));
    }
    for (auto* list : {&result.Download, &result.Install, &result.Deleted}) {
      std::sort(list->begin(), list->end());
    }
    return result;
  }

  fs::path fTool;
  fs::path fWork;
  TCalcStreamCRC fCrc;
  std::unique_ptr<TProgramCollection> fCollection;
  TUpdateFileList fFiles;
  TLogLines fLog;
};

using TNames = std::vector<std::string>;

TEST_F(FileCheckFeedTest, EachCompareModeDecidesTheDownloadOfAnInstalledFile) {
  struct TCase {
    const char* Mode;
    std::string Feed;
    std::optional<std::string> Installed;  // nullopt: not installed
    std::time_t InstalledTime;
    bool Pending;  // a channel switch is pending
    bool Download;
  };
  const std::time_t older = kSourceTime - 3600;
  const std::time_t newer = kSourceTime + 3600;
  const TCase cases[] = {
      {"checksum", "alpha", "alpha", kSourceTime, false, false},
      {"checksum", "alpha", "alphA", kSourceTime, false, true},  // same size, other checksum
      {"checksum", "alpha", "alpha+", kSourceTime, false, true},
      {"default", "alpha", "alpha", older, false, false},  // no version stamp: the checksum decides
      {"default", "alpha", "alphA", newer, false, true},
      {"default", Stamped(1), Stamped(2), kSourceTime, false, false},  // the version decides
      {"default", Stamped(2), Stamped(1), kSourceTime, false, true},
      {"version", Stamped(1, 0, 0, 1), Stamped(1), kSourceTime, false, true},
      {"version", Stamped(1), Stamped(1, 0, 0, 1), kSourceTime, false, false},
      {"version", Stamped(1), "no stamp", kSourceTime, false, true},  // counts as 0.0.0.0
      {"version", "no stamp", "other text", kSourceTime, false, false},
      {"date", "alpha", "alpha", older, false, true},
      {"date", "alpha", "changed", newer, false, false},
      {"date", "alpha", "changed", kSourceTime, false, false},
      {"never", "alpha", "changed", kSourceTime, false, false},
      {"never", "alpha", std::nullopt, kSourceTime, false, true},  // missing: always downloaded
      {"version", Stamped(1), std::nullopt, kSourceTime, false, true},
      {"always", "alpha", "alpha", kSourceTime, false, true},
      // While a channel switch is pending only the checksum counts.
      {"version", Stamped(1), Stamped(2), kSourceTime, true, true},
      {"never", "alpha", "changed", kSourceTime, true, true},
      {"date", "alpha", "changed", newer, true, true},
      {"always", "alpha", "alpha", kSourceTime, true, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Mode) + (c.Pending ? " (switch pending)" : "") + " installed " +
                 (c.Installed ? "\"" + c.Installed->substr(0, 8) + "\"" : "none"));
    fs::remove_all(fWork / "src");
    fs::remove_all(InstallDir());
    fs::create_directories(InstallDir());
    Source("App", "file.bin", c.Feed);
    Build({"App,compare=" + std::string(c.Mode)});
    if (c.Installed) {
      Write(InstallDir() / "file.bin", *c.Installed, c.InstalledTime);
    }
    Common::UpdateConfig().SetUpdateChannelSwitchPending(c.Pending);
    const TResult result = Check();
    EXPECT_TRUE(result.Done);
    EXPECT_EQ(result.Download, c.Download ? TNames{"opt/quorvane/file.bin"} : TNames{});
    EXPECT_EQ(result.Install, result.Download);
    EXPECT_EQ(fFiles.Count(), c.Download ? 1u : 0u);
  }
}

TEST_F(FileCheckFeedTest, TwoModulesDeliveringOneFileKeepTheWinnerOfTheMerge) {
  struct TCase {
    const char* Mode;
    std::string First;
    std::string Second;
    std::string Winner;
  };
  const TCase cases[] = {
      {"version", Stamped(2), Stamped(1), Stamped(2)},  // the later module is older: kept
      {"version", Stamped(1), Stamped(1, 5), Stamped(1, 5)},
      {"default", Stamped(2), Stamped(1), Stamped(2)},
      {"default", "first", "second", "second"},  // equal versions, other checksum: the later
      {"checksum", "first", "second", "second"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Mode) + " " + std::to_string(&c - cases));
    fs::remove_all(fWork / "src");
    Source("First", "bin/lib.so", c.First);
    Source("Second", "bin/lib.so", c.Second);
    // The install roots are the same token in another case: one top-level item.
    Build({"First,compare=" + std::string(c.Mode), "Second@[installdir],compare=" + std::string(c.Mode)});
    const TResult result = Check();
    EXPECT_TRUE(result.Done);
    ASSERT_EQ(result.Download, TNames{"opt/quorvane/bin/lib.so"});
    EXPECT_EQ(fCollection->fMergedItems.Count(), 1u);
    EXPECT_EQ(fCollection->fFileCount.GetFilesTotal(), 1);
    const TFileInfo& info = *fCollection->fFilesToDownload.Items(0)->FileInfo();
    EXPECT_EQ(info.FCrc, CrcOf(c.Winner));
    EXPECT_EQ(info.FSize, static_cast<std::int32_t>(c.Winner.size()));
  }
}

// A proxied file follows its ".version" sibling, delivered by a module of its own.
TEST_F(FileCheckFeedTest, ProxiedFileFollowsItsVersionSibling) {
  struct TCase {
    const char* Name;
    bool WithSibling;  // the feed delivers "data.bin.version"
    std::optional<std::string> Data;
    std::optional<std::string> Version;
    TNames Download;
  };
  const TNames both{"opt/quorvane/data.bin", "opt/quorvane/data.bin.version"};
  const TCase cases[] = {
      {"current sibling", true, "changed data", "v1", {}},
      {"outdated sibling", true, "data", "v0", both},
      {"sibling not installed", true, "data", std::nullopt, both},
      {"proxied file not installed", true, std::nullopt, "v1", {"opt/quorvane/data.bin"}},
      {"no sibling in the feed", false, "changed data", "v1", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(fWork / "src");
    fs::remove_all(InstallDir());
    fs::create_directories(InstallDir());
    Source("Data", "data.bin", "data");
    Source("Stamp", "data.bin.version", "v1");
    Build(c.WithSibling ? std::vector<std::string>{"Data,compare=proxy", "Stamp,compare=checksum"}
                        : std::vector<std::string>{"Data,compare=proxy"});
    if (c.Data) {
      Write(InstallDir() / "data.bin", *c.Data);
    }
    if (c.Version) {
      Write(InstallDir() / "data.bin.version", *c.Version);
    }
    const TResult result = Check();
    EXPECT_TRUE(result.Done);
    EXPECT_EQ(result.Download, c.Download);
  }
}

TEST_F(FileCheckFeedTest, SynchronisedFolderListsSurplusEntriesForDeletion) {
  Source("Shared", "keep.txt", "keep");
  Source("Shared", "sub/inner.txt", "inner");
  Source("Shared", "sub/new.txt", "new");
  Build({"Shared@[CommonFilesDir],compare=checksum,sync"});
  const fs::path folder = fRoot / "usr/share";
  Write(folder / "keep.txt", "keep");
  Write(folder / "surplus.txt", "surplus");
  Write(folder / "sub/inner.txt", "inner");
  Write(folder / "sub/extra.txt", "extra");
  Write(folder / "old/any.txt", "any");
  Write(folder / "Keep.TXT", "another name on Linux");

  const TResult result = Check();
  EXPECT_TRUE(result.Done);
  EXPECT_EQ(result.Deleted,
            (TNames{"usr/share/Keep.TXT", "usr/share/old", "usr/share/sub/extra.txt", "usr/share/surplus.txt"}));
  EXPECT_EQ(result.Download, TNames{"usr/share/sub/new.txt"});
  EXPECT_EQ(result.Install, TNames{"usr/share/sub/new.txt"});
  EXPECT_EQ(Read(folder / "keep.txt"), "keep");  // the check itself deletes nothing
  EXPECT_TRUE(fs::exists(folder / "surplus.txt"));
}

TEST_F(FileCheckFeedTest, PackageInTheDownloadFolderIsUsedOnlyWhenItIsValid) {
  struct TCase {
    const char* Package;  // what lies in the download folder
    bool Download;
    std::int32_t Verified;
  };
  const TCase cases[] = {
      {"none", true, STG_E_FILENOTFOUND},
      {"valid", false, S_OK},
      {"damaged", true, STG_E_INCOMPLETE},
      {"351 bytes", true, STG_E_INVALIDHEADER},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Package);
    fs::remove_all(DownloadDir());
    Source("App", "sub/a.txt", "payload of a");
    Build({"App,compare=checksum"});
    Write(InstallDir() / "sub/a.txt", "outdated");
    const fs::path downloaded = DownloadDir() / "App/sub/a.txt.z";
    std::string package = Read(Package("App", "sub/a.txt"));
    ASSERT_GT(package.size(), 352u);
    if (c.Package == std::string("damaged")) {
      package.back() = static_cast<char>(package.back() ^ 0x55);
    } else if (c.Package == std::string("351 bytes")) {
      package.resize(351);
    }
    if (c.Package != std::string("none")) {
      Write(downloaded, package);
    }

    const TResult result = Check();
    EXPECT_TRUE(result.Done);
    EXPECT_EQ(result.Install, TNames{"opt/quorvane/sub/a.txt"});
    EXPECT_EQ(result.Download, c.Download ? TNames{"opt/quorvane/sub/a.txt"} : TNames{});
    ASSERT_EQ(fCollection->fFilesToInstall.Count(), 1u);
    TStructItem* item = fCollection->fFilesToInstall.Items(0);
    EXPECT_EQ(item->Inst()->FSourceFile, downloaded.string());
    EXPECT_EQ(item->FileInfo()->FFromCache, !c.Download);
    EXPECT_EQ(TProgramCollectionChecker(*fCollection, TCheckConfig()).VerifyDownloadedFile(item), c.Verified);
    if (c.Download) {
      // The download entry: the package's URL in the module's folder, the install target and
      // the package path in the download folder; the sum counts the package with its header.
      ASSERT_EQ(fFiles.Count(), 1u);
      EXPECT_EQ(fFiles.Items(0),
                TUpdateFile(std::string(kFeedUrl) + "App/sub/a.txt.z", (InstallDir() / "sub/a.txt").string(),
                            fsCheck_NeedsUpdate, downloaded.string()));
      EXPECT_EQ(fCollection->fPackedSize, item->FileInfo()->FPackedSize + 352);
    } else {
      EXPECT_EQ(fFiles.Count(), 0u);
      EXPECT_EQ(fCollection->fPackedSize, 0);
    }
  }
  EXPECT_TRUE(fLog.Contains("TProgramCollection.GetPackedFileInfo: Error STG_E_INVALIDHEADER 351 < 352"));
}

TEST_F(FileCheckFeedTest, ModuleWithoutItsInstallFolderFailsTheCheck) {
  struct TCase {
    const char* SpecialDir;
    std::string Line;
  };
  const TCase cases[] = {
      {"[WinDir]", "\tInstall folder doesn't exist: " + (fRoot / "etc/").string()},  // not created
      {"[Unknown]", "\tInvalid Specialdir: [Unknown]"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.SpecialDir);
    Source("Other", "b.txt", "b");
    Source("App", "a.txt", "a");
    Build({"Other", std::string("App@") + c.SpecialDir});
    const TResult result = Check();
    EXPECT_TRUE(result.Error);
    EXPECT_FALSE(result.Done);
    EXPECT_TRUE(fLog.Contains(c.Line));
    EXPECT_TRUE(fLog.Contains("\tTProgramCollection.Reduce: Reduce_MainItem failed"));
    EXPECT_EQ(fFiles.Count(), 0u);
  }
}

// Cancel while the reduction computes the checksum of an installed file: the checksum
// calculator's progress event holds the check thread there until the cancel request is
// set, so the request arrives in the middle of the reduction.
TEST_F(FileCheckFeedTest, CancelStopsTheReductionAtItsNextCheckPointBeforeItReturns) {
  for (int i = 0; i < 10; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    Source("App", name, "content " + name);
    Write(InstallDir() / name, "content " + name);
  }
  Build({"App,compare=checksum"});

  std::mutex sync;
  std::condition_variable changed;
  int started = 0;  // checksums begun
  std::atomic<bool> waitedForCancel = false;
  fCrc.SetOnProgress([&](TCalcStreamCRC&, int aPercentage) {
    if (aPercentage != 0) {
      return;
    }
    {
      const std::lock_guard lock(sync);
      ++started;
    }
    changed.notify_all();
    if (started == 1) {
      // Polls a flag the file manager sets; nothing here decides the order of events.
      const auto deadline = std::chrono::steady_clock::now() + 60s;
      while (!fCollection->CancelReduce() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
      }
      waitedForCancel = fCollection->CancelReduce();
    }
  });

  TBlockingTaskQueue queue;
  TFileManager manager(fFiles, *fCollection, queue);
  int events = 0;
  manager.SetOnDone([&](TFileManager&) { ++events; });
  manager.SetOnError([&](TFileManager&) { ++events; });
  ASSERT_TRUE(manager.CheckFiles());
  {
    std::unique_lock lock(sync);
    ASSERT_TRUE(changed.wait_for(lock, 60s, [&] { return started > 0; }));
  }
  manager.Cancel();

  // The file whose checksum was running is finished, then the reduction stops.
  EXPECT_TRUE(waitedForCancel);
  EXPECT_EQ(fCollection->fFileCount.GetFilesDone(), 1);
  EXPECT_EQ(fCollection->fFileCount.GetFilesTotal(), 10);
  EXPECT_TRUE(fLog.Contains("\tTProgramCollection.Reduce_DirInfo: CancelReduce"));
  EXPECT_TRUE(fLog.Contains("\tReduce failed"));
  EXPECT_FALSE(manager.Busy());
  EXPECT_EQ(manager.FilesDone(), 0);
  {
    const std::lock_guard lock(sync);
    EXPECT_EQ(started, 1);
  }
  // No event of the cancelled check reaches the owner.
  queue.RunPending();
  EXPECT_EQ(events, 0);
  EXPECT_EQ(fFiles.Count(), 0u);
}

}  // namespace
}  // namespace Update::Service
