#include "platform/guid/guid.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Platform::TGUID;

const TGUID kSample{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

TEST(GuidTest, TextFormsOfAKnownValue) {
  EXPECT_EQ(kSample.ToString(), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(kSample.ToHexString(), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(TGUID{}.ToString(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GuidTest, ParsesBothFormsInEitherCase) {
  EXPECT_EQ(TGUID::TryParse("{01234567-89AB-CDEF-0123-456789ABCDEF}"), kSample);
  EXPECT_EQ(TGUID::TryParse("{01234567-89ab-cdef-0123-456789abcdef}"), kSample);
  EXPECT_EQ(TGUID::TryParseHex("0123456789ABCDEF0123456789abcdef"), kSample);
  EXPECT_EQ(TGUID::Parse(kSample.ToString()), kSample);
}

TEST(GuidTest, RejectsMalformedTexts) {
  for (const char* text : {"", "{}", "01234567-89AB-CDEF-0123-456789ABCDEF", "{01234567-89AB-CDEF-0123-456789ABCDE}",
                           "{01234567-89AB-CDEF-0123-456789ABCDEFF}", "{01234567_89AB-CDEF-0123-456789ABCDEF}",
                           "{0123456G-89AB-CDEF-0123-456789ABCDEF}", "{01234567-89AB-CDEF-0123-456789ABCDEF}x",
                           " {01234567-89AB-CDEF-0123-456789ABCDEF}"}) {
    EXPECT_FALSE(TGUID::TryParse(text).has_value()) << text;
  }
  EXPECT_FALSE(TGUID::TryParseHex("0123456789abcdef0123456789abcde").has_value());
  EXPECT_FALSE(TGUID::TryParseHex("0123456789abcdef0123456789abcdeg").has_value());
  EXPECT_THROW(TGUID::Parse("nope"), std::invalid_argument);
}

TEST(GuidTest, NewGuidsAreDistinctVersion4AndRoundTrip) {
  std::set<TGUID> seen;
  for (int i = 0; i < 1000; ++i) {
    const TGUID guid = TGUID::NewGuid();
    EXPECT_FALSE(guid.IsEmpty());
    EXPECT_EQ(guid.D3 >> 12, 4);
    EXPECT_EQ(guid.D4[0] & 0xC0, 0x80);
    EXPECT_EQ(TGUID::TryParse(guid.ToString()), guid);
    EXPECT_EQ(TGUID::TryParseHex(guid.ToHexString()), guid);
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
