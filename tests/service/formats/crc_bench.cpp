// Checksum throughput (TCalcStreamCRC::Update: folding, or slicing without PCLMULQDQ) next
// to memcpy of the same buffer, and the byte-wise table rule (the reference form). Run:
// build/tests/service/formats/crc_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "service/formats/crc.h"

namespace {

using Update::Service::TCalcStreamCRC;

constexpr std::size_t kBufferSize = 16 * 1024 * 1024;

const std::vector<unsigned char>& Buffer() {
  static const std::vector<unsigned char> buffer = [] {
    std::vector<unsigned char> data(kBufferSize);
    std::mt19937 random(42);
    for (auto& byte : data)
      byte = static_cast<unsigned char>(random());
    return data;
  }();
  return buffer;
}

void BM_Memcpy(benchmark::State& aState) {
  const auto& source = Buffer();
  std::vector<unsigned char> target(source.size());
  for (auto _ : aState) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * source.size()));
}

void BM_CrcUpdate(benchmark::State& aState) {
  const auto& source = Buffer();
  TCalcStreamCRC crc;
  for (auto _ : aState) {
    crc.Reset();
    crc.Update(source.data(), source.size());
    benchmark::DoNotOptimize(crc.CRC());
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * source.size()));
}

void BM_CrcBytewise(benchmark::State& aState) {
  const auto& source = Buffer();
  TCalcStreamCRC crc;
  const auto& table = crc.Table();
  for (auto _ : aState) {
    std::uint32_t reg = TCalcStreamCRC::StartValue;
    for (unsigned char b : source)
      reg = table[(reg ^ b) & 0xFF] ^ (reg >> 8);
    benchmark::DoNotOptimize(reg);
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * source.size()));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrcUpdate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrcBytewise)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
