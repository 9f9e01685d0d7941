#include "tools/unilist/unilist_json.h"

#include <gtest/gtest.h>

#include "tests/uniobject/sample_list.h"

namespace UniListTool {
namespace {

std::vector<std::uint8_t> Canonical(UniObject::TUniversalList& aList) {
  UniObject::TMemoryStream stream;
  EXPECT_TRUE(aList.SaveTo_ExternMemoryStream(stream, false, 17));
  return stream.Bytes();
}

TEST(UniListJson, EveryKindRoundTripsExactly) {
  auto list = UniObject::Testing::MakeEveryKindList();
  const auto json = ToJson(*list);
  auto back = FromJson(nlohmann::ordered_json::parse(json.dump()));
  EXPECT_EQ(Canonical(*back), Canonical(*list));
}

TEST(UniListJson, BadJsonNamesItsPath) {
  auto json = ToJson(*UniObject::Testing::MakeEveryKindList());
  json["list"]["objects"][0]["id"] = "eins";
  try {
    FromJson(json);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "$.list.objects[0].id: an integer is expected");
  }
}

// The JSON pointer of the first non-empty "bytes" text below aJson.
std::optional<nlohmann::ordered_json::json_pointer> FirstBytes(const nlohmann::ordered_json& aJson,
                                                               const nlohmann::ordered_json::json_pointer& aAt) {
  if (aJson.is_object() && aJson.contains("bytes") && aJson["bytes"].is_string() &&
      !aJson["bytes"].get<std::string>().empty())
    return aAt / "bytes";
  if (aJson.is_object()) {
    for (const auto& [key, value] : aJson.items())
      if (auto found = FirstBytes(value, aAt / key))
        return found;
  } else if (aJson.is_array()) {
    for (std::size_t i = 0; i < aJson.size(); ++i)
      if (auto found = FirstBytes(aJson[i], aAt / i))
        return found;
  }
  return std::nullopt;
}

TEST(UniListJson, BytesAreHexDigitPairsOfEitherCase) {
  const auto json = ToJson(*UniObject::Testing::MakeEveryKindList());
  const auto at = FirstBytes(json, nlohmann::ordered_json::json_pointer());
  ASSERT_TRUE(at) << json.dump();
  auto edited = json;
  edited[*at] = "00aBcDfF";
  EXPECT_NO_THROW(FromJson(edited));
  for (const char* bad : {"0g", "g0", "-1", "+1", " 1", "0x"}) {
    edited[*at] = bad;
    try {
      FromJson(edited);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const std::runtime_error& error) {
      EXPECT_TRUE(std::string(error.what()).ends_with(".bytes: not a hex digit")) << bad << ": " << error.what();
    }
  }
  edited[*at] = "abc";
  EXPECT_THROW(FromJson(edited), std::runtime_error) << "odd digit count";
}

}  // namespace
}  // namespace UniListTool
