#pragma once

// Text encodings at the system's boundaries. Inside the programs every text is UTF-8
// in a std::string. The formats we exchange carry other encodings:
//   - UTF-16 (the IPC wire format as UTF-16LE bytes, the printing library's wide strings),
//   - Windows-1252, the fixed 8-bit code page of texts written by the Windows side of the
//     product (packed file headers, 8-bit strings of universal-list streams, JSON files
//     without a byte-order mark).
//
// Every conversion here is total: malformed input never throws. An invalid UTF-8 sequence
// or an unpaired UTF-16 surrogate becomes U+FFFD; a character that Windows-1252 cannot hold
// becomes the replacement byte given (by default '?').
//
// Thread-safe: pure functions without state.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform::Text {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// True when aText is well-formed UTF-8 (no overlong forms, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view aText);

std::u16string Utf8ToUtf16(std::string_view aText);
std::string Utf16ToUtf8(std::u16string_view aText);

std::u32string Utf8ToUtf32(std::string_view aText);
std::string Utf32ToUtf8(std::u32string_view aText);
// Appends the UTF-8 form of one code point (invalid code points as U+FFFD).
void AppendUtf8(std::string& aTarget, char32_t aCodePoint);

// Windows-1252. The five unassigned bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D map to the C1
// control characters of the same value, as the Windows conversion functions do, so every
// byte string survives a round trip through UTF-8.
std::string Cp1252ToUtf8(std::string_view aBytes);
std::string Utf8ToCp1252(std::string_view aText, char aReplacement = '?');
std::u16string Cp1252ToUtf16(std::string_view aBytes);
std::string Utf16ToCp1252(std::u16string_view aText, char aReplacement = '?');
// The Windows-1252 byte of one code point, or nothing.
std::optional<std::uint8_t> CodePointToCp1252(char32_t aCodePoint);
char32_t Cp1252ToCodePoint(std::uint8_t aByte);

// UTF-16LE byte strings (no terminator, no byte-order mark).
std::string Utf16ToLeBytes(std::u16string_view aText);
// nullopt when the byte count is odd.
std::optional<std::u16string> LeBytesToUtf16(std::string_view aBytes);
std::string Utf8ToUtf16LeBytes(std::string_view aText);
std::optional<std::string> Utf16LeBytesToUtf8(std::string_view aBytes);

// Case folding for comparisons without case (registry keys, file names on the Windows
// side): simple one-to-one folding of ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// letters. Locale-independent.
char32_t FoldCase(char32_t aCodePoint);
std::string FoldCase(std::string_view aText);
bool SameTextNoCase(std::string_view aLeft, std::string_view aRight);
// <0, 0, >0 like strcmp, on the folded code points.
int CompareTextNoCase(std::string_view aLeft, std::string_view aRight);

// ASCII-only helpers, for protocol tokens and identifiers.
std::string AsciiLower(std::string_view aText);
std::string AsciiUpper(std::string_view aText);
bool SameAsciiNoCase(std::string_view aLeft, std::string_view aRight);

}  // namespace Platform::Text
