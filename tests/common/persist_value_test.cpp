#include "common/persist_value.h"

#include <gtest/gtest.h>

namespace {

using namespace Update::Common;

TEST(PersistValueTest, ObjectKeepsInsertionOrderAndMovesReaddedKeysToTheEnd) {
  TPersistValue_Object object;
  object.Add_Number("a", 1);
  object.Add_String("b", "x");
  object.Add_Boolean("a", true);
  EXPECT_EQ(object.Keys(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(object.Get_Number("a"), nullptr) << "the old node is gone";
  ASSERT_NE(object.Get_Boolean("a"), nullptr);
  object.Add_PersistValue("b", nullptr);
  EXPECT_FALSE(object.HasKey("b")) << "adding no node only removes the key";
  EXPECT_EQ(object.Count(), 1u);
}

TEST(PersistValueTest, TypedGettersReturnNothingForOtherKinds) {
  TPersistValue_Object object;
  object.Add_Null("n");
  object.Add_Array("arr")->Add_Number(3);
  EXPECT_EQ(object.Get_Object("n"), nullptr);
  EXPECT_NE(object.Get_Null("n"), nullptr);
  EXPECT_EQ(object.Get_String("missing"), nullptr);
  EXPECT_EQ(object.Get_Array("arr")->Get_String(0), nullptr);
  EXPECT_EQ(object.Get_Array("arr")->Get_Number(0)->Value(), 3);
  EXPECT_EQ(object.Get_Array("arr")->Get_Value(1), nullptr);
}

TEST(PersistValueTest, GetAllFamiliesFilterAndSort) {
  TPersistValue_Object object;
  object.Add_Number("z", 1);
  object.Add_String("s", "t");
  object.Add_Number("b", 2);
  object.Add_Number("B", 3);
  auto numbers = object.GetAll_Number();
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers[0]->Value(), 1);
  auto sorted = object.GetAllPairs(TPersistValueKind::pvkNumber, true);
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(sorted[0].first, "B");
  EXPECT_EQ(sorted[1].first, "b");
  EXPECT_EQ(sorted[2].first, "z");
  EXPECT_EQ(object.GetAll_String().size(), 1u);
}

TEST(PersistValueTest, LargeObjectLookupStaysCorrectAcrossRemovals) {
  TPersistValue_Object object;
  for (int i = 0; i < 100; ++i) {
    object.Add_Number("k" + std::to_string(i), i);
  }
  EXPECT_EQ(object.Get_Number("k57")->Value(), 57);
  EXPECT_TRUE(object.Remove("k10"));
  EXPECT_FALSE(object.Remove("k10"));
  EXPECT_EQ(object.Get_Number("k57")->Value(), 57);
  object.Add_Number("k0", -1);
  EXPECT_EQ(object.Get_Number("k0")->Value(), -1);
  EXPECT_EQ(object.Keys().back(), "k0");
  EXPECT_EQ(object.Count(), 99u);
  auto taken = object.Take("k99");
  ASSERT_NE(taken, nullptr);
  EXPECT_FALSE(object.HasKey("k99"));
  EXPECT_EQ(object.Get_Number("k98")->Value(), 98);
}

TEST(PersistValueTest, ArrayDeleteAndRemove) {
  TPersistValue_Array array;
  array.Add_Number(1);
  auto* second = array.Add_String("2");
  array.Add_Null();
  EXPECT_TRUE(array.Remove(second));
  EXPECT_FALSE(array.Remove(second));
  EXPECT_TRUE(array.Delete(0));
  EXPECT_FALSE(array.Delete(5));
  ASSERT_EQ(array.Count(), 1u);
  EXPECT_NE(array.Get_Null(0), nullptr);
  EXPECT_EQ(array.Add_PersistValue(nullptr), nullptr);
}

TEST(PersistValueTest, MetaDictionary) {
  TPersistValue_Object a;
  TPersistValue_Object b;
  EXPECT_FALSE(a.Meta_HasKey("k"));
  a.Meta_Add("k", "v");
  b.Meta_Add("k", "old");
  b.Meta_Add("other", "o");
  b.Meta_Assign(a);
  EXPECT_EQ(b.Meta_TryGetValue("k"), "v");
  EXPECT_EQ(b.Meta_TryGetValue("other"), "o");
  EXPECT_EQ(a.Meta_TryGetValue("none"), std::nullopt);
}

TEST(PersistValueTest, NumberTruncationAndRange) {
  EXPECT_EQ(TPersistValue_Number(-2.9).AsInteger(), -2);
  EXPECT_EQ(TPersistValue_Number(2.9).AsInt64(), 2);
  EXPECT_EQ(TPersistValue_Number(1e10).AsInteger(), 0);
  EXPECT_EQ(TPersistValue_Number(1e10).AsInt64(), 10000000000);
  EXPECT_EQ(TPersistValue_Number(1e300).AsInt64(), 0);
}

TEST(PersistValueTest, Base64) {
  const std::vector<std::uint8_t> bytes{'M', 'a', 'n', 'y'};
  EXPECT_EQ(Base64Encode(bytes.data(), 4), "TWFueQ==");
  EXPECT_EQ(Base64Encode(bytes.data(), 3), "TWFu");
  EXPECT_EQ(Base64Encode(bytes.data(), 2), "TWE=");
  EXPECT_EQ(Base64Encode(nullptr, 0), "");
  EXPECT_EQ(Base64Decode("TWFueQ=="), bytes);
  EXPECT_EQ(Base64Decode("TW\r\nFu eQ=="), bytes);
  for (const char* bad : {"T", "TWFue", "TW=F", "TWF*", "TWFueQ==="}) {
    EXPECT_EQ(Base64Decode(bad), std::nullopt) << bad;
  }
}

}  // namespace
