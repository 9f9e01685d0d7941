#pragma once

// The JSON form of a universal list (docs/uniobject-json.md): every field that the stream
// carries, so that list -> JSON -> list -> stream gives the same stream bytes.
//
// ToJson never fails. FromJson throws std::runtime_error naming the JSON path of the first
// value that is missing or of the wrong type.

#include <memory>
#include <nlohmann/json.hpp>

#include "uniobject/universal_list.h"

namespace UniListTool {

nlohmann::ordered_json ToJson(const UniObject::TUniversalList& aList);
std::unique_ptr<UniObject::TUniversalList> FromJson(const nlohmann::ordered_json& aJson);

}  // namespace UniListTool
