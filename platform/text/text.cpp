#include "platform/text/text.h"

#include <array>

namespace Platform::Text {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the unassigned ones keep their
// C1 value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Decodes one code point at aPos and advances aPos. Returns U+FFFD for a malformed
// sequence and then skips only the first byte, so decoding resynchronises on the next
// lead byte.
char32_t DecodeUtf8(std::string_view aText, size_t& aPos, bool& aValid) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(aText[i]); };
  const unsigned char b0 = byte(aPos);
  aValid = true;
  if (b0 < 0x80) {
    ++aPos;
    return b0;
  }
  int length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2;
    cp = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3;
    cp = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4;
    cp = b0 & 0x07;
    minimum = 0x10000;
  } else {
    aValid = false;
    ++aPos;
    return kReplacementCharacter;
  }
  if (aPos + length > aText.size()) {
    aValid = false;
    ++aPos;
    return kReplacementCharacter;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char b = byte(aPos + i);
    if ((b & 0xC0) != 0x80) {
      aValid = false;
      ++aPos;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || IsSurrogate(cp)) {
    aValid = false;
    ++aPos;
    return kReplacementCharacter;
  }
  aPos += length;
  return cp;
}

template <typename F>
void ForEachUtf16CodePoint(std::u16string_view aText, F&& aVisit) {
  for (size_t i = 0; i < aText.size(); ++i) {
    const char16_t u = aText[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < aText.size() && aText[i + 1] >= 0xDC00 && aText[i + 1] <= 0xDFFF) {
      aVisit(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (aText[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      aVisit(kReplacementCharacter);
    } else {
      aVisit(u);
    }
  }
}

template <typename F>
void ForEachUtf8CodePoint(std::string_view aText, F&& aVisit) {
  size_t pos = 0;
  bool valid = true;
  while (pos < aText.size())
    aVisit(DecodeUtf8(aText, pos, valid));
}

void AppendUtf16(std::u16string& aTarget, char32_t aCodePoint) {
  if (aCodePoint > 0x10FFFF || IsSurrogate(aCodePoint))
    aCodePoint = kReplacementCharacter;
  if (aCodePoint >= 0x10000) {
    aCodePoint -= 0x10000;
    aTarget.push_back(static_cast<char16_t>(0xD800 + (aCodePoint >> 10)));
    aTarget.push_back(static_cast<char16_t>(0xDC00 + (aCodePoint & 0x3FF)));
  } else {
    aTarget.push_back(static_cast<char16_t>(aCodePoint));
  }
}

}  // namespace

bool IsValidUtf8(std::string_view aText) {
  size_t pos = 0;
  bool valid = true;
  while (pos < aText.size()) {
    DecodeUtf8(aText, pos, valid);
    if (!valid)
      return false;
  }
  return true;
}

void AppendUtf8(std::string& aTarget, char32_t aCodePoint) {
  if (aCodePoint > 0x10FFFF || IsSurrogate(aCodePoint))
    aCodePoint = kReplacementCharacter;
  if (aCodePoint < 0x80) {
    aTarget.push_back(static_cast<char>(aCodePoint));
  } else if (aCodePoint < 0x800) {
    aTarget.push_back(static_cast<char>(0xC0 | (aCodePoint >> 6)));
    aTarget.push_back(static_cast<char>(0x80 | (aCodePoint & 0x3F)));
  } else if (aCodePoint < 0x10000) {
    aTarget.push_back(static_cast<char>(0xE0 | (aCodePoint >> 12)));
    aTarget.push_back(static_cast<char>(0x80 | ((aCodePoint >> 6) & 0x3F)));
    aTarget.push_back(static_cast<char>(0x80 | (aCodePoint & 0x3F)));
  } else {
    aTarget.push_back(static_cast<char>(0xF0 | (aCodePoint >> 18)));
    aTarget.push_back(static_cast<char>(0x80 | ((aCodePoint >> 12) & 0x3F)));
    aTarget.push_back(static_cast<char>(0x80 | ((aCodePoint >> 6) & 0x3F)));
    aTarget.push_back(static_cast<char>(0x80 | (aCodePoint & 0x3F)));
  }
}

std::u16string Utf8ToUtf16(std::string_view aText) {
  std::u16string result;
  result.reserve(aText.size());
  ForEachUtf8CodePoint(aText, [&](char32_t cp) { AppendUtf16(result, cp); });
  return result;
}

std::string Utf16ToUtf8(std::u16string_view aText) {
  std::string result;
  result.reserve(aText.size());
  ForEachUtf16CodePoint(aText, [&](char32_t cp) { AppendUtf8(result, cp); });
  return result;
}

std::u32string Utf8ToUtf32(std::string_view aText) {
  std::u32string result;
  result.reserve(aText.size());
  ForEachUtf8CodePoint(aText, [&](char32_t cp) { result.push_back(cp); });
  return result;
}

std::string Utf32ToUtf8(std::u32string_view aText) {
  std::string result;
  result.reserve(aText.size());
  for (char32_t cp : aText)
    AppendUtf8(result, cp);
  return result;
}

char32_t Cp1252ToCodePoint(std::uint8_t aByte) {
  return aByte >= 0x80 && aByte < 0xA0 ? kCp1252High[aByte - 0x80] : aByte;
}

std::optional<std::uint8_t> CodePointToCp1252(char32_t aCodePoint) {
  if (aCodePoint < 0x80 || (aCodePoint >= 0xA0 && aCodePoint <= 0xFF))
    return static_cast<std::uint8_t>(aCodePoint);
  for (size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == aCodePoint)
      return static_cast<std::uint8_t>(0x80 + i);
  return std::nullopt;
}

std::string Cp1252ToUtf8(std::string_view aBytes) {
  std::string result;
  result.reserve(aBytes.size());
  for (char c : aBytes)
    AppendUtf8(result, Cp1252ToCodePoint(static_cast<std::uint8_t>(c)));
  return result;
}

std::string Utf8ToCp1252(std::string_view aText, char aReplacement) {
  std::string result;
  result.reserve(aText.size());
  ForEachUtf8CodePoint(aText, [&](char32_t cp) {
    const auto byte = CodePointToCp1252(cp);
    result.push_back(byte ? static_cast<char>(*byte) : aReplacement);
  });
  return result;
}

std::u16string Cp1252ToUtf16(std::string_view aBytes) {
  std::u16string result;
  result.reserve(aBytes.size());
  for (char c : aBytes)
    result.push_back(static_cast<char16_t>(Cp1252ToCodePoint(static_cast<std::uint8_t>(c))));
  return result;
}

std::string Utf16ToCp1252(std::u16string_view aText, char aReplacement) {
  std::string result;
  result.reserve(aText.size());
  ForEachUtf16CodePoint(aText, [&](char32_t cp) {
    const auto byte = CodePointToCp1252(cp);
    result.push_back(byte ? static_cast<char>(*byte) : aReplacement);
  });
  return result;
}

std::string Utf16ToLeBytes(std::u16string_view aText) {
  std::string result(aText.size() * 2, '\0');
  for (size_t i = 0; i < aText.size(); ++i) {
    result[2 * i] = static_cast<char>(aText[i] & 0xFF);
    result[2 * i + 1] = static_cast<char>(aText[i] >> 8);
  }
  return result;
}

std::optional<std::u16string> LeBytesToUtf16(std::string_view aBytes) {
  if (aBytes.size() % 2 != 0)
    return std::nullopt;
  std::u16string result(aBytes.size() / 2, u'\0');
  for (size_t i = 0; i < result.size(); ++i)
    result[i] = static_cast<char16_t>(static_cast<unsigned char>(aBytes[2 * i]) |
                                      (static_cast<unsigned char>(aBytes[2 * i + 1]) << 8));
  return result;
}

std::string Utf8ToUtf16LeBytes(std::string_view aText) {
  return Utf16ToLeBytes(Utf8ToUtf16(aText));
}

std::optional<std::string> Utf16LeBytesToUtf8(std::string_view aBytes) {
  auto text = LeBytesToUtf16(aBytes);
  if (!text)
    return std::nullopt;
  return Utf16ToUtf8(*text);
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80)
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7))  // Latin-1 capitals, except the multiplication sign
    return c + 32;
  if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: pairs, with a shifted run
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
      return c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
      return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x178)
      return 0xFF;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)  // Greek capitals
    return c + 32;
  if (c >= 0x410 && c <= 0x42F)  // Cyrillic capitals
    return c + 32;
  if (c >= 0x400 && c <= 0x40F)
    return c + 80;
  return c;
}

std::string FoldCase(std::string_view aText) {
  std::string result;
  result.reserve(aText.size());
  ForEachUtf8CodePoint(aText, [&](char32_t cp) { AppendUtf8(result, FoldCase(cp)); });
  return result;
}

int CompareTextNoCase(std::string_view aLeft, std::string_view aRight) {
  size_t l = 0, r = 0;
  bool valid = true;
  while (l < aLeft.size() && r < aRight.size()) {
    const char32_t a = FoldCase(DecodeUtf8(aLeft, l, valid));
    const char32_t b = FoldCase(DecodeUtf8(aRight, r, valid));
    if (a != b)
      return a < b ? -1 : 1;
  }
  if (l < aLeft.size())
    return 1;
  if (r < aRight.size())
    return -1;
  return 0;
}

bool SameTextNoCase(std::string_view aLeft, std::string_view aRight) {
  return CompareTextNoCase(aLeft, aRight) == 0;
}

std::string AsciiLower(std::string_view aText) {
  std::string result(aText);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  return result;
}

std::string AsciiUpper(std::string_view aText) {
  std::string result(aText);
  for (char& c : result)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return result;
}

bool SameAsciiNoCase(std::string_view aLeft, std::string_view aRight) {
  if (aLeft.size() != aRight.size())
    return false;
  for (size_t i = 0; i < aLeft.size(); ++i) {
    char a = aLeft[i], b = aRight[i];
    if (a >= 'A' && a <= 'Z')
      a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z')
      b = static_cast<char>(b + 32);
    if (a != b)
      return false;
  }
  return true;
}

}  // namespace Platform::Text
