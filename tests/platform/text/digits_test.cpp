#include "platform/text/digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

namespace Text = Platform::Text;

namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

TEST(Digits, HexDigitValueOfEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    int expected = -1;
    if (b >= '0' && b <= '9')
      expected = b - '0';
    else if (b >= 'a' && b <= 'f')
      expected = b - 'a' + 10;
    else if (b >= 'A' && b <= 'F')
      expected = b - 'A' + 10;
    EXPECT_EQ(Text::HexDigitValue(c), expected) << b;
  }
}

TEST(Digits, ParseDigitsReadsOnlyPlainDigitsWithinTheBound) {
  struct TCase {
    const char* Digits;
    unsigned Base;
    std::uint64_t Max;
    std::optional<std::uint64_t> Expected;
  };
  const TCase cases[] = {
      {"0", 10, kMax64, 0},
      {"007", 10, kMax64, 7},
      {"4294967295", 10, kMax64, 4294967295u},
      {"ffFFffFF", 16, 0xFFFFFFFF, 0xFFFFFFFF},
      {"00000000", 16, 0xFFFFFFFF, 0},
      {"1a", 16, 0xFF, 0x1A},
      {"A", 16, 0xFF, 10},
      {"101", 2, kMax64, 5},
      // Nothing to read, or a character that is no digit of the base.
      {"", 10, kMax64, std::nullopt},
      {"1a", 10, kMax64, std::nullopt},
      {"2", 2, kMax64, std::nullopt},
      {"g0", 16, kMax64, std::nullopt},
      {"-1", 10, kMax64, std::nullopt},
      {"+1", 10, kMax64, std::nullopt},
      {" 1", 10, kMax64, std::nullopt},
      {"1 ", 10, kMax64, std::nullopt},
      {"0x1f", 16, kMax64, std::nullopt},
      {"1\xC3\xA4", 10, kMax64, std::nullopt},
      // The bound, exactly and one above it, also where the sum or product would wrap.
      {"255", 10, 255, 255},
      {"256", 10, 255, std::nullopt},
      {"100", 16, 0xFF, std::nullopt},
      {"5", 10, 0, std::nullopt},
      {"0", 10, 0, 0},
      {"18446744073709551615", 10, kMax64, kMax64},
      {"18446744073709551616", 10, kMax64, std::nullopt},
      {"99999999999999999999", 10, kMax64, std::nullopt},
      {"ffffffffffffffff", 16, kMax64, kMax64},
      {"10000000000000000", 16, kMax64, std::nullopt},
      {"000000000000000000000000000001", 10, 1, 1},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Text::ParseDigits(c.Digits, c.Base, c.Max), c.Expected)
        << '"' << c.Digits << "\" base " << c.Base << " max " << c.Max;
  }
}

TEST(Digits, BaseOutsideTwoToSixteenIsAProgrammingError) {
  EXPECT_THROW(Text::ParseDigits("1", 1), std::invalid_argument);
  EXPECT_THROW(Text::ParseDigits("1", 17), std::invalid_argument);
  EXPECT_THROW(Text::ParseDigits("", 0), std::invalid_argument);
}

}  // namespace
