// Printing and parsing a tree of 100,000 members, against nlohmann-json's own dump() and
// parse() of the same document in the same run. Report the ratios from the printed
// times (ours / nlohmann); the goal is a pretty printer no slower than dump(2).

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "common/persist_json.h"

namespace {

using namespace Update::Common;

constexpr int kMembers = 100000;

// 1,000 objects of 100 members each, mixing the scalar kinds of the stored files.
void BuildTree(TPersistValue_Object& aRoot) {
  auto* items = aRoot.Add_Array("items");
  for (int i = 0; i < kMembers / 100; ++i) {
    auto* item = items->Add_Object();
    for (int k = 0; k < 100; ++k) {
      const std::string key = "member" + std::to_string(k);
      switch (k % 5) {
        case 0:
          item->Add_String(key, "text value " + std::to_string(i * 100 + k));
          break;
        case 1:
          item->Add_Number(key, i * 100 + k);
          break;
        case 2:
          item->Add_Number(key, (i * 100 + k) * 0.125);
          break;
        case 3:
          item->Add_Boolean(key, (k & 1) != 0);
          break;
        default:
          item->Add_String(key, "2026-03-04 05:06:07.089");
          break;
      }
    }
  }
}

struct TFixture {
  TPersist Persist;
  TPersistValue_Object* Tree = Persist.CreateRootObject();
  std::string Pretty;
  std::string Compact;
  nlohmann::ordered_json Document;
  TFixture() {
    BuildTree(*Tree);
    Pretty = TPersist_Json::PersistObject_SaveToJsonString(Tree, SaveOptions_Pretty);
    Compact = TPersist_Json::PersistObject_SaveToJsonString(Tree, SaveOptions_Compact);
    Document = nlohmann::ordered_json::parse(Compact);
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

void BM_OurPrettyPrint(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    benchmark::DoNotOptimize(TPersist_Json::PersistObject_SaveToJsonString(f.Tree, SaveOptions_Pretty));
  }
}
void BM_NlohmannDump2(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    benchmark::DoNotOptimize(f.Document.dump(2));
  }
}
void BM_OurCompactPrint(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    benchmark::DoNotOptimize(TPersist_Json::PersistObject_SaveToJsonString(f.Tree, SaveOptions_Compact));
  }
}
void BM_NlohmannDump(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    benchmark::DoNotOptimize(f.Document.dump());
  }
}
void BM_OurParse(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    TPersist persist;
    TPersistValue_Object* tree = nullptr;
    benchmark::DoNotOptimize(TPersist_Json::PersistObject_LoadFromJsonString(f.Pretty, persist, tree));
  }
}
void BM_NlohmannParse(benchmark::State& aState) {
  auto& f = Fixture();
  for (auto _ : aState) {
    benchmark::DoNotOptimize(nlohmann::ordered_json::parse(f.Pretty));
  }
}

BENCHMARK(BM_OurPrettyPrint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NlohmannDump2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurCompactPrint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NlohmannDump)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
