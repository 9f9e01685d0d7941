#include "platform/guid/guid.h"

#include <random>
#include <stdexcept>

#include "platform/text/digits.h"

namespace Platform {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// The 16 bytes in text order: D1 and D2, D3 big-endian as written, then D4.
std::array<std::uint8_t, 16> TextOrderBytes(const TGUID& aGuid) {
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(aGuid.D1 >> (24 - 8 * i));
  }
  bytes[4] = static_cast<std::uint8_t>(aGuid.D2 >> 8);
  bytes[5] = static_cast<std::uint8_t>(aGuid.D2);
  bytes[6] = static_cast<std::uint8_t>(aGuid.D3 >> 8);
  bytes[7] = static_cast<std::uint8_t>(aGuid.D3);
  for (int i = 0; i < 8; ++i) {
    bytes[8 + i] = aGuid.D4[i];
  }
  return bytes;
}

TGUID FromTextOrderBytes(const std::array<std::uint8_t, 16>& aBytes) {
  TGUID guid;
  guid.D1 = (std::uint32_t{aBytes[0]} << 24) | (std::uint32_t{aBytes[1]} << 16) | (std::uint32_t{aBytes[2]} << 8) |
            std::uint32_t{aBytes[3]};
  guid.D2 = static_cast<std::uint16_t>((aBytes[4] << 8) | aBytes[5]);
  guid.D3 = static_cast<std::uint16_t>((aBytes[6] << 8) | aBytes[7]);
  for (int i = 0; i < 8; ++i) {
    guid.D4[i] = aBytes[8 + i];
  }
  return guid;
}

// Reads 32 hexadecimal digits from aText, skipping the positions listed in aSkip.
std::optional<TGUID> ParseDigits(std::string_view aText, std::string_view aSkipPositions) {
  std::array<std::uint8_t, 16> bytes{};
  std::size_t digit = 0;
  for (std::size_t i = 0; i < aText.size(); ++i) {
    if (aSkipPositions.find(static_cast<char>(i)) != std::string_view::npos) {
      continue;
    }
    const int value = Text::HexDigitValue(aText[i]);
    if (value < 0 || digit >= 32) {
      return std::nullopt;
    }
    bytes[digit / 2] = static_cast<std::uint8_t>((bytes[digit / 2] << 4) | value);
    ++digit;
  }
  if (digit != 32) {
    return std::nullopt;
  }
  return FromTextOrderBytes(bytes);
}

std::string HexDigits(const TGUID& aGuid, const char* aDigits) {
  std::string text;
  text.reserve(32);
  for (std::uint8_t byte : TextOrderBytes(aGuid)) {
    text += aDigits[byte >> 4];
    text += aDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

TGUID TGUID::NewGuid() {
  thread_local std::mt19937_64 engine{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    const std::uint64_t value = engine();
    for (std::size_t k = 0; k < 8; ++k) {
      bytes[i + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return FromTextOrderBytes(bytes);
}

std::string TGUID::ToString() const {
  const std::string hex = HexDigits(*this, kUpperDigits);
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20) + "}";
}

std::optional<TGUID> TGUID::TryParse(std::string_view aText) {
  if (aText.size() != 38 || aText.front() != '{' || aText.back() != '}' || aText[9] != '-' || aText[14] != '-' ||
      aText[19] != '-' || aText[24] != '-') {
    return std::nullopt;
  }
  static constexpr char kSkip[] = {0, 9, 14, 19, 24, 37};
  return ParseDigits(aText, std::string_view(kSkip, sizeof kSkip));
}

TGUID TGUID::Parse(std::string_view aText) {
  if (auto guid = TryParse(aText)) {
    return *guid;
  }
  throw std::invalid_argument("'" + std::string(aText) + "' is not a valid GUID");
}

std::string TGUID::ToHexString() const {
  return HexDigits(*this, kLowerDigits);
}

std::optional<TGUID> TGUID::TryParseHex(std::string_view aText) {
  if (aText.size() != 32) {
    return std::nullopt;
  }
  return ParseDigits(aText, {});
}

}  // namespace Platform
