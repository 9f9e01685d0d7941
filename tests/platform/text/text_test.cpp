#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace Text = Platform::Text;

namespace {

TEST(Text, Cp1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  const std::string utf8 = Text::Cp1252ToUtf8(all);
  EXPECT_TRUE(Text::IsValidUtf8(utf8));
  EXPECT_EQ(Text::Utf8ToCp1252(utf8), all);
  EXPECT_EQ(Text::Utf16ToCp1252(Text::Cp1252ToUtf16(all)), all);
}

TEST(Text, Cp1252MapsTheHighBlock) {
  // Values from the published Windows-1252 table.
  EXPECT_EQ(Text::Cp1252ToUtf8("\x80"), "\u20AC");
  EXPECT_EQ(Text::Cp1252ToUtf8("\x9F"), "\u0178");
  EXPECT_EQ(Text::Cp1252ToUtf8("\xE4\xF6\xFC\xDF"), "äöüß");
  EXPECT_EQ(Text::Utf8ToCp1252("Größe €"),
            "Gr\xF6\xDF"
            "e \x80");
  EXPECT_EQ(Text::Utf8ToCp1252("Ω", '#'), "#");
}

TEST(Text, Utf16HandlesSurrogatesAndMalformedInput) {
  EXPECT_EQ(Text::Utf8ToUtf16("a\U0001F600"), (std::u16string{u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(Text::Utf16ToUtf8(std::u16string{u'a', 0xD83D, 0xDE00}), "a\U0001F600");
  EXPECT_EQ(Text::Utf16ToUtf8(std::u16string{0xDE00, u'b'}), "\uFFFDb");  // lone low surrogate
  EXPECT_EQ(Text::Utf16ToUtf8(std::u16string{0xD83D}), "\uFFFD");         // truncated pair
  // Invalid UTF-8: stray continuation, overlong form, encoded surrogate, truncated sequence.
  for (const char* bad : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82"}) {
    EXPECT_FALSE(Text::IsValidUtf8(bad)) << bad;
    EXPECT_EQ(Text::Utf8ToUtf16(bad).front(), 0xFFFD) << bad;
  }
  EXPECT_TRUE(Text::IsValidUtf8("plain äöü \U0010FFFF"));
}

TEST(Text, Utf16LeBytes) {
  const std::string bytes = Text::Utf8ToUtf16LeBytes("Beta");
  EXPECT_EQ(bytes, std::string("B\0e\0t\0a\0", 8));
  EXPECT_EQ(Text::Utf16LeBytesToUtf8(bytes), "Beta");
  EXPECT_EQ(Text::Utf8ToUtf16LeBytes("\u20AC"), std::string("\xAC\x20", 2));
  EXPECT_FALSE(Text::LeBytesToUtf16(std::string("abc")));
}

TEST(Text, ComparesWithoutCase) {
  EXPECT_TRUE(Text::SameTextNoCase("Software\\Quorvane\\Update", "SOFTWARE\\quorvane\\update"));
  EXPECT_TRUE(Text::SameTextNoCase("ÄÖÜ Łódź Ω Ж", "äöü łÓDŹ ω ж"));
  EXPECT_FALSE(Text::SameTextNoCase("abc", "abcd"));
  EXPECT_LT(Text::CompareTextNoCase("Apple", "banana"), 0);
  EXPECT_GT(Text::CompareTextNoCase("b", "A"), 0);
  EXPECT_EQ(Text::FoldCase("MiXeD Ä"), "mixed ä");
  EXPECT_EQ(Text::AsciiLower("ÄBC"), "Äbc");  // only ASCII letters change
  EXPECT_TRUE(Text::SameAsciiNoCase("Content-Length", "content-length"));
}

}  // namespace
