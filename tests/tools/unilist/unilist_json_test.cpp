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

}  // namespace
}  // namespace UniListTool
