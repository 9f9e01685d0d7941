// The check of an unchanged tree in checksum mode next to one plain read of the same files,
// and in date mode next to a plain stat walk, all in the same run over the same files.
//
// Tree size: QV_CHECK_BENCH_FILES files of QV_CHECK_BENCH_KIB KiB each, below $TMPDIR. The
// default (2,000 x 16 KiB) is small enough for any machine; the full size (20,000 files,
// about 1 GiB) is
//   QV_CHECK_BENCH_FILES=20000 QV_CHECK_BENCH_KIB=52 TMPDIR=/tmp
//   build/tests/service/check/file_check_bench --benchmark_repetitions=5
// The tree is written and read once before any timing, so every side runs on a warm page
// cache: the check of an unchanged tree is meant to be measured against the cost of reading
// and stat-ing the files, not against the disk. Both "Time" (wall) and "CPU" (this process,
// user and system) are reported; on a shared machine CPU is the steadier of the two.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include "service/check/program_checker.h"
#include "service/formats/crc.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;

// The buffer of the plain read: as large as the checksum's block.
constexpr std::size_t kReadBuffer = TCalcStreamCRC::BlockSize;

long EnvOr(const char* aName, long aDefault) {
  const char* value = std::getenv(aName);
  return value != nullptr ? std::atol(value) : aDefault;
}

struct TTree {
  fs::path Dir = fs::temp_directory_path() / ("qv_check_bench_" + std::to_string(::getpid()));
  std::vector<std::string> Files;
  std::vector<std::int32_t> Crcs;
  std::vector<std::int32_t> Dates;
  long Size = EnvOr("QV_CHECK_BENCH_KIB", 16) * 1024;

  TTree() {
    const long count = EnvOr("QV_CHECK_BENCH_FILES", 2000);
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

std::unique_ptr<TTree> gTree;

void ReadAll(const TTree& aTree) {
  std::vector<char> buffer(kReadBuffer);
  for (const std::string& path : aTree.Files) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
}

void RunCheck(benchmark::State& aState, TFileCompareMode aMode) {
  const TTree& tree = *gTree;
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
  aState.SetBytesProcessed(aState.iterations() * static_cast<std::int64_t>(tree.Files.size()) * tree.Size);
}

void BM_CheckChecksum(benchmark::State& aState) {
  RunCheck(aState, fcmCheckSum);
}
void BM_CheckDate(benchmark::State& aState) {
  RunCheck(aState, fcmDate);
}

void BM_PlainRead(benchmark::State& aState) {
  for (auto _ : aState) {
    ReadAll(*gTree);
  }
  aState.SetBytesProcessed(aState.iterations() * static_cast<std::int64_t>(gTree->Files.size()) * gTree->Size);
}

void BM_PlainStat(benchmark::State& aState) {
  for (auto _ : aState) {
    for (const std::string& path : gTree->Files) {
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

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  using Update::Service::gTree;
  gTree = std::make_unique<Update::Service::TTree>();
  ::sync();
  Update::Service::ReadAll(*gTree);  // the page cache holds the whole tree from here on
  benchmark::AddCustomContext("files", std::to_string(gTree->Files.size()));
  benchmark::AddCustomContext("bytes", std::to_string(gTree->Files.size() * static_cast<std::size_t>(gTree->Size)));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gTree.reset();
  return 0;
}
