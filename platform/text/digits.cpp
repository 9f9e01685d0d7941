#include "platform/text/digits.h"

#include <stdexcept>
#include <string>

namespace Platform::Text {

int HexDigitValue(char aChar) {
  if (aChar >= '0' && aChar <= '9')
    return aChar - '0';
  if (aChar >= 'a' && aChar <= 'f')
    return aChar - 'a' + 10;
  if (aChar >= 'A' && aChar <= 'F')
    return aChar - 'A' + 10;
  return -1;
}

std::optional<std::uint64_t> ParseDigits(std::string_view aDigits, unsigned aBase, std::uint64_t aMax) {
  if (aBase < 2 || aBase > 16)
    throw std::invalid_argument("ParseDigits: base " + std::to_string(aBase) + " is not from 2 to 16");
  if (aDigits.empty())
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : aDigits) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= aBase)
      return std::nullopt;
    const std::uint64_t next = static_cast<unsigned>(digit);
    // value * aBase + next <= aMax, checked without a sum or product that may wrap.
    if (next > aMax || value > (aMax - next) / aBase)
      return std::nullopt;
    value = value * aBase + next;
  }
  return value;
}

}  // namespace Platform::Text
