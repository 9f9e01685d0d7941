// Compress and UnCompress of one large file next to plain zlib deflate/inflate of the
// same bytes, file to file in 65536-byte blocks. The handler adds the two checksum passes
// and the header; the goal is at most 1.2 times the plain time.
//
// Run: build/tests/service/formats/packed_file_bench [--benchmark_repetitions=N]
// QV_BENCH_MIB sets the file size (default 256).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/formats/packed_file.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace Update::Service;

constexpr std::size_t kBlock = 65536;

struct TFixture {
  QuorvaneTest::TTempDir Dir{"packed_bench"};
  std::string Input, Packed, ZlibOnly;
  std::int64_t Bytes = 0;

  TFixture() {
    const char* mib = std::getenv("QV_BENCH_MIB");
    Bytes = static_cast<std::int64_t>(mib != nullptr ? std::atoll(mib) : 256) * 1024 * 1024;
    Input = Dir.File("input.bin");
    Packed = Dir.File("input.bin.z");
    ZlibOnly = Dir.File("input.zlib");
    // Text-like data that compresses about 3:1, like program and resource files.
    std::mt19937 random(11);
    std::vector<std::string> words;
    for (int i = 0; i < 4096; ++i) {
      std::string word(3 + random() % 9, ' ');
      for (auto& c : word)
        c = static_cast<char>(33 + random() % 90);
      words.push_back(word + ' ');
    }
    std::ofstream out(Input, std::ios::binary);
    std::string block;
    for (std::int64_t written = 0; written < Bytes;) {
      block.clear();
      while (block.size() < kBlock)
        block += words[random() % words.size()];
      block.resize(static_cast<std::size_t>(std::min<std::int64_t>(kBlock, Bytes - written)));
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      written += static_cast<std::int64_t>(block.size());
    }
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

// Plain zlib, stream to stream, as the baseline.
void PlainZlib(const std::string& aIn, const std::string& aOut, bool aDeflate) {
  std::ifstream in(aIn, std::ios::binary);
  std::ofstream out(aOut, std::ios::binary | std::ios::trunc);
  z_stream zs{};
  if ((aDeflate ? deflateInit(&zs, Z_DEFAULT_COMPRESSION) : inflateInit(&zs)) != Z_OK)
    throw std::runtime_error("zlib init");
  std::vector<char> inBlock(kBlock), outBlock(kBlock);
  int status = Z_OK;
  bool end = false;
  while (!end) {
    in.read(inBlock.data(), kBlock);
    zs.next_in = reinterpret_cast<Bytef*>(inBlock.data());
    zs.avail_in = static_cast<uInt>(in.gcount());
    end = in.gcount() == 0 || in.eof();
    do {
      zs.next_out = reinterpret_cast<Bytef*>(outBlock.data());
      zs.avail_out = kBlock;
      status = aDeflate ? deflate(&zs, end ? Z_FINISH : Z_NO_FLUSH) : inflate(&zs, Z_NO_FLUSH);
      out.write(outBlock.data(), static_cast<std::streamsize>(kBlock - zs.avail_out));
    } while (zs.avail_out == 0);
    if (!aDeflate && status == Z_STREAM_END)
      end = true;
  }
  aDeflate ? deflateEnd(&zs) : inflateEnd(&zs);
}

void BM_PlainDeflate(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState)
    PlainZlib(f.Input, f.ZlibOnly, true);
  aState.SetBytesProcessed(aState.iterations() * f.Bytes);
}

void BM_Compress(benchmark::State& aState) {
  auto& f = Fixture();
  TZlibHandler handler;
  handler.SetInput(f.Input);
  handler.SetOutput(f.Packed);
  for (auto _ : aState)
    if (handler.Compress() != TZlibResult::zrOK)
      aState.SkipWithError("Compress failed");
  aState.SetBytesProcessed(aState.iterations() * f.Bytes);
}

void BM_PlainInflate(benchmark::State& aState) {
  auto& f = Fixture();
  if (!fs::exists(f.ZlibOnly))
    PlainZlib(f.Input, f.ZlibOnly, true);
  const std::string out = f.Dir.File("plain.out");
  for (auto _ : aState)
    PlainZlib(f.ZlibOnly, out, false);
  aState.SetBytesProcessed(aState.iterations() * f.Bytes);
}

void BM_UnCompress(benchmark::State& aState) {
  auto& f = Fixture();
  TZlibHandler handler;
  if (!fs::exists(f.Packed)) {
    handler.SetInput(f.Input);
    handler.SetOutput(f.Packed);
    handler.Compress();
  }
  handler.SetInput(f.Packed);
  handler.SetOutput(f.Dir.File("out") + "/");
  std::string name;
  for (auto _ : aState)
    if (handler.UnCompress(name) != TZlibResult::zrOK)
      aState.SkipWithError("UnCompress failed");
  aState.SetBytesProcessed(aState.iterations() * f.Bytes);
}

BENCHMARK(BM_PlainDeflate)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Compress)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PlainInflate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UnCompress)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
