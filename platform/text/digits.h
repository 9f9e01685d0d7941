#pragma once

// Whole numbers written as plain digits, as file formats and encoded values store them:
// no sign, no "0x" prefix, no spaces, no separators. Every value is checked against an
// upper bound while it is read, so an overlong digit string never wraps around.
//
// Thread-safe: pure functions without state.

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace Platform::Text {

// 0..9 for '0'..'9', 10..15 for 'a'..'f' and 'A'..'F', -1 for any other character.
int HexDigitValue(char aChar);

// The value of aDigits in aBase (2 to 16; letters of either case above 9). Nothing when
// aDigits is empty, holds a character that is no digit of aBase, or its value is greater
// than aMax. Leading zeros are allowed. A base outside 2..16 throws std::invalid_argument.
std::optional<std::uint64_t> ParseDigits(std::string_view aDigits, unsigned aBase,
                                         std::uint64_t aMax = std::numeric_limits<std::uint64_t>::max());

}  // namespace Platform::Text
