#pragma once

// TGUID: a 128-bit globally unique identifier in the Windows field layout (D1 32 bits,
// D2 and D3 16 bits, D4 eight bytes). Stored files and the transfer engine identify
// jobs by it, so the layout and both text forms are fixed:
//   registry form  "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case; parsing accepts
//                  either case),
//   hex form       32 lower-case hexadecimal digits, D1 D2 D3 D4 in that order.
//
// Value type; thread-safe (NewGuid draws from a per-thread random engine seeded from
// std::random_device).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::array<std::uint8_t, 8> D4{};

  // A random (version 4, RFC 4122 variant) identifier; never the empty GUID.
  static TGUID NewGuid();
  static constexpr TGUID Empty() { return TGUID{}; }

  bool IsEmpty() const { return *this == TGUID{}; }

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
  std::string ToString() const;
  // Exactly the registry form, hexadecimal digits in either case; nothing otherwise.
  static std::optional<TGUID> TryParse(std::string_view aText);
  // As TryParse; throws std::invalid_argument naming the text when it is no GUID.
  static TGUID Parse(std::string_view aText);

  // 32 lower-case hexadecimal digits without braces or hyphens.
  std::string ToHexString() const;
  static std::optional<TGUID> TryParseHex(std::string_view aText);

  friend bool operator==(const TGUID&, const TGUID&) = default;
  friend auto operator<=>(const TGUID&, const TGUID&) = default;
};

}  // namespace Platform
