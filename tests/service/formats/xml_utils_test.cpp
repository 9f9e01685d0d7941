#include "service/formats/xml_utils.h"

#include <gtest/gtest.h>

#include "service/formats/structure.h"

namespace Update::Service {
namespace {

TEST(XmlUtilsTest, IntegerTextsConvertOrRaise) {
  struct TCase {
    const char* Text;
    bool Valid;
    std::int32_t Value;
  };
  const TCase cases[] = {
      {"0", true, 0},
      {" 42 ", true, 42},
      {"+7", true, 7},
      {"-2147483648", true, INT32_MIN},
      {"2147483647", true, INT32_MAX},
      {"2147483648", true, INT32_MIN},  // unsigned checksum texts wrap
      {"4294967295", true, -1},
      {"4294967296", false, 0},
      {"-2147483649", false, 0},
      {"", false, 0},
      {"12kB", false, 0},
      {"0x10", false, 0},
      {"1 2", false, 0},
  };
  for (const TCase& test : cases) {
    TFileInfo info;
    if (test.Valid) {
      TXmlUtils::SetPropFromString(info, "crc", test.Text);
      EXPECT_EQ(info.FCrc, test.Value) << test.Text;
      EXPECT_EQ(TXmlUtils::GetPropAsString(info, "CRC"), std::to_string(test.Value));
    } else {
      EXPECT_THROW(TXmlUtils::SetPropFromString(info, "CRC", test.Text), EXmlConvertError) << test.Text;
      EXPECT_EQ(info.FCrc, kNoCrc);
    }
  }
}

TEST(XmlUtilsTest, BooleansEnumerationsTextsAndUnknownNames) {
  TStructItem item;
  TXmlUtils::SetPropFromString(item, "ISDIRECTORY", "true");
  EXPECT_TRUE(item.FIsDirectory);
  EXPECT_EQ(TXmlUtils::GetPropAsString(item, "IsDirectory"), "True");
  TXmlUtils::SetPropFromString(item, "IsDirectory", "False");
  EXPECT_EQ(TXmlUtils::GetPropAsString(item, "isdirectory"), "False");
  TXmlUtils::SetPropFromString(item, "Name", "  spaced name  ");  // texts as they are
  EXPECT_EQ(item.FName, "  spaced name  ");

  TFileInfo info;
  TXmlUtils::SetPropFromString(info, "CompareMode", "fcmdate");
  EXPECT_EQ(info.FCompareMode, fcmDate);
  TXmlUtils::SetPropFromString(info, "CompareMode", "fcmDate2");
  EXPECT_EQ(info.FCompareMode, -1);

  // Unknown names and object properties are ignored, and have no text.
  TXmlUtils::SetPropFromString(item, "Url", "http://x");
  TXmlUtils::SetPropFromString(item, "FileInfo", "x");
  EXPECT_TRUE(item.FUrl.empty());
  EXPECT_NE(item.FileInfo(), nullptr);
  EXPECT_EQ(TXmlUtils::GetPropAsString(item, "Url"), std::nullopt);
  EXPECT_EQ(TXmlUtils::GetPropAsString(item, "FileInfo"), std::nullopt);
}

TEST(XmlUtilsTest, OnlyTextElementsSetSimpleProperties) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<FILE><PName><b>bold</b></PName><Size/><Time><![CDATA[77]]></Time><PSize>5<x/></PSize></FILE>"));
  TFileInfo info;
  TXmlUtils::XmlToObject(info, document.document_element());
  EXPECT_TRUE(info.FPackedName.empty());  // an element child is no text
  EXPECT_EQ(info.FSize, -1);              // an empty element keeps the default
  EXPECT_EQ(info.FTime, 77);              // CDATA is text
  EXPECT_EQ(info.FPackedSize, -1);        // more than one child
  EXPECT_TRUE(TXmlUtils::IsTextNode(document.document_element().child("Time")));
  EXPECT_FALSE(TXmlUtils::IsTextNode(document.document_element()));
}

}  // namespace
}  // namespace Update::Service
