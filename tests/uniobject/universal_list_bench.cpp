// Save and load of 100,000 objects with 10 short properties each, next to memcpy of the
// stream; LZRW1/KH and LZHUF on 64 MiB next to zlib levels 1 and 6.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "uniobject/packer.h"
#include "uniobject/universal_list.h"

namespace {

using namespace UniObject;

std::unique_ptr<TUniversalList> MakeList() {
  auto list = std::make_unique<TUniversalList>();
  for (int i = 0; i < 100000; ++i) {
    auto& shorts = list->NewItem(i, 0, 1, "Objekt " + std::to_string(i))->PreparePropertyListShort();
    for (int p = 0; p < 5; ++p)
      static_cast<TPr_LongInt_Short*>(shorts.NewItemByID(p, pkLongInt))->SetValue(i + p);
    for (int p = 5; p < 10; ++p)
      static_cast<TPr_Text_Short*>(shorts.NewItemByID(p, pkText))->Value_Text = "Wert " + std::to_string(p);
  }
  return list;
}

const TMemoryStream& SavedStream() {
  static TMemoryStream stream = [] {
    TMemoryStream saved;
    MakeList()->SaveTo_ExternMemoryStream(saved, false, 17);
    return saved;
  }();
  return stream;
}

void BM_Save(benchmark::State& aState) {
  auto list = MakeList();
  TMemoryStream stream;
  for (auto _ : aState)
    list->SaveTo_ExternMemoryStream(stream, false, 17);
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * stream.Size()));
}

void BM_Load(benchmark::State& aState) {
  const auto& saved = SavedStream();
  for (auto _ : aState) {
    TUniversalList list;
    TMemoryStream stream(saved.Bytes());
    list.LoadFrom_ExternMemoryStream(stream, {}, true);
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * saved.Size()));
}

void BM_MemcpyOfStream(benchmark::State& aState) {
  const auto& saved = SavedStream();
  std::vector<std::uint8_t> target(saved.Size());
  for (auto _ : aState) {
    std::memcpy(target.data(), saved.Bytes().data(), saved.Size());
    benchmark::ClobberMemory();
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * saved.Size()));
}

// 64 MiB of text-like data with repeats, as report data tends to be.
const std::vector<std::uint8_t>& Data() {
  static const std::vector<std::uint8_t> data = [] {
    std::vector<std::uint8_t> bytes(64u << 20);
    std::mt19937 random(1);
    const char* words[] = {"Wand ", "Decke ", "Last ", "Moment ", "1234.5 ", "Nachweis ", "\r\n"};
    std::size_t pos = 0;
    while (pos < bytes.size()) {
      const char* word = words[random() % 7];
      for (const char* c = word; *c && pos < bytes.size(); ++c)
        bytes[pos++] = static_cast<std::uint8_t>(*c);
    }
    return bytes;
  }();
  return data;
}

void BM_Pack(benchmark::State& aState) {
  const auto mode = static_cast<TPackerMode>(aState.range(0));
  for (auto _ : aState)
    benchmark::DoNotOptimize(PackStream(Data(), mode));
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * Data().size()));
}

void BM_Unpack(benchmark::State& aState) {
  const auto packed = PackStream(Data(), static_cast<TPackerMode>(aState.range(0)));
  for (auto _ : aState)
    benchmark::DoNotOptimize(UnpackStream(packed));
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * Data().size()));
}

void BM_ZlibCompress(benchmark::State& aState) {
  std::vector<std::uint8_t> out(compressBound(Data().size()));
  for (auto _ : aState) {
    uLongf length = out.size();
    compress2(out.data(), &length, Data().data(), Data().size(), static_cast<int>(aState.range(0)));
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * Data().size()));
}

void BM_ZlibUncompress(benchmark::State& aState) {
  std::vector<std::uint8_t> packed(compressBound(Data().size()));
  uLongf packedLength = packed.size();
  compress2(packed.data(), &packedLength, Data().data(), Data().size(), static_cast<int>(aState.range(0)));
  std::vector<std::uint8_t> out(Data().size());
  for (auto _ : aState) {
    uLongf length = out.size();
    uncompress(out.data(), &length, packed.data(), packedLength);
  }
  aState.SetBytesProcessed(static_cast<std::int64_t>(aState.iterations() * Data().size()));
}

BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyOfStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pack)->Arg(pmLZRW1KH)->Arg(pmLZHUF)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Unpack)->Arg(pmLZRW1KH)->Arg(pmLZHUF)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ZlibCompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ZlibUncompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
