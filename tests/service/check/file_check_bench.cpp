// The check of an unchanged tree in checksum mode next to one plain read of the same files,
// and in date mode next to a plain stat walk. Tree size: QV_CHECK_BENCH_FILES files of
// QV_CHECK_BENCH_KIB KiB (default 20000 x 52 KiB, about 1 GiB) below $TMPDIR.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "service/check/program_checker.h"
#include "service/formats/crc.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;

long EnvOr(const char* aName, long aDefault) {
  const char* value = std::getenv(aName);
  return value != nullptr ? std::atol(value) : aDefault;
}

struct TTree {
  fs::path Dir = fs::temp_directory_path() / ("qv_check_bench_" + std::to_string(::getpid()));
  std::vector<std::string> Files;
  std::vector<std::int32_t> Crcs;
  std::vector<std::int32_t> Dates;
  long Size = EnvOr("QV_CHECK_BENCH_KIB", 52) * 1024;

  TTree() {
    const long count = EnvOr("QV_CHECK_BENCH_FILES", 20000);
    std::string data(static_cast<std::size_t>(Size), '\0');
    for (long i = 0; i < count; ++i) {
      const fs::path folder = Dir / "install" / ("d" + std::to_string(i / 500));
      fs::create_directories(folder);
      for (std::size_t b = 0; b < data.size(); b += 997) {
        data[b] = static_cast<char>(i + b);
      }
      const std::string path = (folder / ("f" + std::to_string(i))).string();
      std::ofstream(path, std::ios::binary) << data;
      TCalcStreamCRC crc;
      crc.Update(data.data(), data.size());
      Files.push_back(path);
      Crcs.push_back(static_cast<std::int32_t>(crc.CRC()));
      Dates.push_back(0);
    }
  }
  ~TTree() { fs::remove_all(Dir); }

  // The structure of the tree with every file current.
  void Fill(TProgramCollection& aCollection, TFileCompareMode aMode) const {
    aCollection.fMergedItems.Clear();
    TMainStructItem& root = aCollection.fMergedItems.AddMain();
    root.FName = "Program";
    root.FSpecialDir = "[InstallDir]";
    std::map<std::string, TStructItem*> folders;
    for (std::size_t i = 0; i < Files.size(); ++i) {
      const fs::path path(Files[i]);
      TStructItem*& folder = folders[path.parent_path().filename().string()];
      if (folder == nullptr) {
        folder = &root.NeedDir().Items().Add();
        folder->FName = path.parent_path().filename().string();
        folder->FIsDirectory = true;
        folder->FreeFileObject();
      }
      TStructItem& item = folder->NeedDir().Items().Add();
      item.FName = path.filename().string();
      item.FreeDirObject();
      TFileInfo& info = item.NeedFileInfo();
      info.FPackedName = item.FName + ".z";
      info.FSize = static_cast<std::int32_t>(Size);
      info.FCrc = Crcs[i];
      info.FTime = Dates[i];
      info.FCompareMode = aMode;
    }
  }
};

const TTree& Tree() {
  static const TTree tree;
  return tree;
}

void RunCheck(benchmark::State& aState, TFileCompareMode aMode) {
  const TTree& tree = Tree();
  TCalcStreamCRC crc;
  TCheckConfig config;
  config.ResolveSpecialDir = [&](const std::string&) { return (tree.Dir / "install").string() + "/"; };
  config.UpdateDownloadDir = (tree.Dir / "download").string() + "/";
  for (auto _ : aState) {
    aState.PauseTiming();
    TProgramCollection collection;
    collection.fCrc = &crc;
    tree.Fill(collection, aMode);
    aState.ResumeTiming();
    TProgramCollectionChecker checker(collection, config);
    if (!checker.Reduce() || !checker.CollectFiles() || collection.fFilesToDownload.Count() != 0) {
      aState.SkipWithError("the unchanged tree was not found current");
    }
  }
}

void BM_CheckChecksum(benchmark::State& aState) {
  RunCheck(aState, fcmCheckSum);
}
void BM_CheckDate(benchmark::State& aState) {
  RunCheck(aState, fcmDate);
}

void BM_PlainRead(benchmark::State& aState) {
  std::vector<char> buffer(65536);
  for (auto _ : aState) {
    for (const std::string& path : Tree().Files) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      while (::read(fd, buffer.data(), buffer.size()) > 0) {
      }
      ::close(fd);
    }
  }
}

void BM_PlainStat(benchmark::State& aState) {
  for (auto _ : aState) {
    for (const std::string& path : Tree().Files) {
      struct stat st {};
      benchmark::DoNotOptimize(::stat(path.c_str(), &st));
    }
  }
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckChecksum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainStat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckDate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Update::Service

BENCHMARK_MAIN();
