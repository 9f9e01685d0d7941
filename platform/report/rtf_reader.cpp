#include "platform/report/rtf_reader.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/text/text.h"

namespace Platform::Report {

namespace {

constexpr std::size_t kMaxControlWord = 32;
constexpr int kMaxParameterDigits = 10;
constexpr std::size_t kMaxFontName = 128;
constexpr std::size_t kMaxTableEntries = 4096;

// Pseudo code pages of fonts with the symbol character set. The Symbol font itself is
// read through its own encoding (Greek letters and mathematical signs at Latin
// positions); other symbol fonts keep Windows' mapping of byte b to U+F000 + b, which
// fonts with a symbol character map draw as intended.
constexpr int kSymbolCodePage = 42;
constexpr int kPrivateSymbolCodePage = -42;
// Longest byte sequence of one character in the supported code pages (UTF-8, GB18030).
constexpr std::size_t kMaxSequenceBytes = 4;

// Code page of a font's \fcharset value; 0 for the document's code page.
int CharsetToCodePage(int aCharset) {
  switch (aCharset) {
    case 2:
      return kSymbolCodePage;
    case 77:
      return 10000;
    case 128:
      return 932;
    case 129:
      return 949;
    case 130:
      return 1361;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    case 255:
      return 437;
    default:
      return 0;  // 0 ANSI, 1 default and unknown values
  }
}

// The iconv name of a Windows code page number.
std::string IconvName(int aCodePage) {
  switch (aCodePage) {
    case 65001:
      return "UTF-8";
    case 10000:
      return "MACINTOSH";
    case 1361:
      return "JOHAB";
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 51932:
      return "EUC-JP";
    case 51949:
      return "EUC-KR";
    case 54936:
      return "GB18030";
    default:
      break;
  }
  if (aCodePage >= 28591 && aCodePage <= 28606)
    return "ISO-8859-" + std::to_string(aCodePage - 28590);
  return "CP" + std::to_string(aCodePage);
}

// The Symbol font's encoding from 0x20 on; 0 where it has no character.
constexpr char32_t kSymbolFont[224] = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C, 0x2212,
    0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D,
    0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C,
    0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D,
    0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC,
    0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D,
    0x223C, 0,
    // 0x80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x90
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191,
    0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0,
    0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286,
    0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1,
    0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8,
    0x23A9, 0x23AA,
    // 0xF0
    0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD,
    0};

// One byte of a code page that needs no converter (Windows-1252 and the symbol fonts).
char32_t DecodeSingleByte(std::uint8_t aByte, int aCodePage) {
  if (aCodePage == kSymbolCodePage) {
    const char32_t codePoint = aByte < 0x20 ? aByte : kSymbolFont[aByte - 0x20];
    return codePoint ? codePoint : Platform::Text::kReplacementCharacter;
  }
  if (aCodePage == kPrivateSymbolCodePage)
    return aByte < 0x20 ? aByte : 0xF000 + aByte;
  return Platform::Text::Cp1252ToCodePoint(aByte);
}

bool NeedsConverter(int aCodePage) {
  return aCodePage != 1252 && aCodePage != kSymbolCodePage && aCodePage != kPrivateSymbolCodePage;
}

// An iconv descriptor from one code page to UTF-32. A descriptor keeps conversion state
// and must not be used by two threads at once: each read owns its own.
class TByteConverter {
 public:
  enum class Result { rComplete, rIncomplete, rInvalid };

  explicit TByteConverter(int aCodePage) : fHandle(iconv_open("UTF-32LE", IconvName(aCodePage).c_str())) {}
  ~TByteConverter() {
    if (Valid())
      iconv_close(fHandle);
  }
  TByteConverter(const TByteConverter&) = delete;
  TByteConverter& operator=(const TByteConverter&) = delete;

  bool Valid() const { return fHandle != reinterpret_cast<iconv_t>(-1); }

  // Converts the longest convertible prefix of `aBytes`, appending its code points.
  // `aUsed` receives the number of bytes converted; the result tells why it stopped:
  // rIncomplete when the rest starts a character that needs more bytes, rInvalid when
  // the rest starts with a byte that cannot begin a character here.
  Result Convert(std::string_view aBytes, std::u32string& aOut, std::size_t& aUsed) {
    iconv(fHandle, nullptr, nullptr, nullptr, nullptr);
    // iconv's input parameter is not const, but it only reads through it.
    char* in = const_cast<char*>(aBytes.data());
    std::size_t inLeft = aBytes.size();
    Result result = Result::rComplete;
    while (inLeft > 0) {
      char buffer[256];
      char* out = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t converted = iconv(fHandle, &in, &inLeft, &out, &outLeft);
      const int error = errno;
      Append(buffer, out, aOut);
      if (converted != static_cast<std::size_t>(-1))
        break;
      if (error == E2BIG && out != buffer)
        continue;
      result = error == EINVAL ? Result::rIncomplete : Result::rInvalid;
      break;
    }
    // Code pages with combining marks (1255, 1258) hold back the last character until
    // they know whether a mark follows: take it out now.
    char buffer[64];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(fHandle, nullptr, nullptr, &out, &outLeft);
    Append(buffer, out, aOut);
    aUsed = aBytes.size() - inLeft;
    return result;
  }

 private:
  static void Append(const char* aBegin, const char* aEnd, std::u32string& aOut) {
    for (const char* unit = aBegin; unit + 4 <= aEnd; unit += 4) {
      const auto byte = [unit](int aIndex) { return static_cast<char32_t>(static_cast<unsigned char>(unit[aIndex])); };
      aOut.push_back(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    }
  }

  iconv_t fHandle;
};

enum class Destination { dText, dSkip, dFontTable, dColorTable };

struct FontEntry {
  std::string Name;
  int CodePage = 0;  // 0: the document's code page
};

struct GroupState {
  TextStyle Style;
  Paragraph Format;  // paragraph properties only; runs stay empty
  int Uc = 1;
  int Font = -1;  // index of the selected font; -1: the document's default font
  Destination Dest = Destination::dText;
};

class TRtfReader {
 public:
  TRtfReader(const std::string& aText, const TextStyle& aDefault)
      : fText(aText.data()), fSize(std::min(aText.size(), kRtfMaxInputBytes)), fDefault(aDefault) {
    fState.Style = aDefault;
    fState.Format.EmptyStyle = aDefault;
  }

  StyledText Read() {
    while (fPos < fSize) {
      const char c = fText[fPos];
      if (c == '{') {
        ++fPos;
        FlushBytes();
        OpenGroup();
      } else if (c == '}') {
        ++fPos;
        FlushBytes();
        if (!CloseGroup())
          break;  // the document's group has ended: ignore what follows
      } else if (c == '\\') {
        ++fPos;
        ControlSequence();
      } else {
        ++fPos;
        if (c == '\r' || c == '\n')
          continue;
        Character(static_cast<std::uint8_t>(c));
      }
    }
    FlushBytes();
    FinishParagraph(true);
    return std::move(fResult);
  }

 private:
  void OpenGroup() {
    if (fSkipDepth > 0 || fStack.size() >= static_cast<std::size_t>(kRtfMaxDepth)) {
      ++fSkipDepth;  // too deep: read over the group without interpreting it
      return;
    }
    fStack.push_back(fState);
    fIgnorableNext = false;
  }

  bool CloseGroup() {
    if (fSkipDepth > 0) {
      --fSkipDepth;
      return true;
    }
    if (fState.Dest == Destination::dFontTable)
      FinishFontEntry(false);
    if (fStack.empty())
      return false;
    if (fStack.size() == 1)
      FinishParagraph(true);  // the document's last paragraph keeps its own formatting
    const Destination inner = fState.Dest;
    fState = fStack.back();
    fStack.pop_back();
    if (inner == Destination::dFontTable && fState.Dest == Destination::dFontTable)
      FinishFontEntry(false);
    return !fStack.empty();  // false once the document's own group has closed
  }

  void ControlSequence() {
    if (fPos >= fSize)
      return;
    const char c = fText[fPos];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++fPos;
      // \' and the escaped characters \\ \{ \} are bytes of the text and may continue a
      // multi-byte character; every other control ends it.
      if (c != '\'' && c != '\\' && c != '{' && c != '}')
        FlushBytes();
      switch (c) {
        case '\'': {
          if (fPos + 2 > fSize) {
            fPos = fSize;
            return;
          }
          const int high = HexValue(fText[fPos]);
          const int low = HexValue(fText[fPos + 1]);
          fPos += 2;
          if (high < 0 || low < 0)
            return;
          Character(static_cast<std::uint8_t>(high * 16 + low));
          return;
        }
        case '*':
          fIgnorableNext = true;
          return;
        case '~':
          CodePoint(0x00A0);
          return;
        case '_':
          CodePoint(0x2011);
          return;
        case '-':
          return;  // optional hyphen
        case '\r':
        case '\n':
          Word("par", false, 0);
          return;
        default:
          Character(static_cast<std::uint8_t>(c));  // \\ \{ \} and other symbols
          return;
      }
    }
    FlushBytes();
    std::string word;
    while (fPos < fSize && std::isalpha(static_cast<unsigned char>(fText[fPos]))) {
      if (word.size() < kMaxControlWord)
        word += fText[fPos];
      ++fPos;
    }
    bool hasParameter = false;
    long long parameter = 0;
    bool negative = false;
    if (fPos < fSize && fText[fPos] == '-') {
      negative = true;
      ++fPos;
    }
    int digits = 0;
    while (fPos < fSize && std::isdigit(static_cast<unsigned char>(fText[fPos]))) {
      if (digits < kMaxParameterDigits)
        parameter = parameter * 10 + (fText[fPos] - '0');
      ++digits;
      ++fPos;
      hasParameter = true;
    }
    if (negative)
      parameter = -parameter;
    if (fPos < fSize && fText[fPos] == ' ')
      ++fPos;
    const int value = static_cast<int>(std::clamp<long long>(parameter, -2147483647LL, 2147483647LL));
    if (word == "bin") {
      // Binary data: skip its bytes without interpreting them.
      const std::size_t count = static_cast<std::size_t>(std::max(0, value));
      fPos = count > fSize - fPos ? fSize : fPos + count;
      return;
    }
    if (fSkipDepth > 0)
      return;
    Word(word, hasParameter, value);
  }

  void Word(const std::string& aWord, bool aHasParameter, int aValue) {
    const bool ignorable = fIgnorableNext;
    fIgnorableNext = false;
    // Destinations.
    if (aWord == "fonttbl") {
      fState.Dest = Destination::dFontTable;
      return;
    }
    if (aWord == "colortbl") {
      fState.Dest = Destination::dColorTable;
      fColor = 0;
      return;
    }
    static const char* const kSkipped[] = {"stylesheet",   "info",      "pict",       "header",
                                           "headerl",      "headerr",   "headerf",    "footer",
                                           "footerl",      "footerr",   "footerf",    "footnote",
                                           "object",       "fldinst",   "listtable",  "listoverridetable",
                                           "rsidtbl",      "generator", "themedata",  "colorschememapping",
                                           "latentstyles", "datastore", "xmlnstbl",   "pntext",
                                           "pn",           "filetbl",   "revtbl",     "nonshppict",
                                           "shp",          "comment",   "annotation", "txe"};
    if (std::find(std::begin(kSkipped), std::end(kSkipped), aWord) != std::end(kSkipped)) {
      fState.Dest = Destination::dSkip;
      return;
    }
    if (fState.Dest == Destination::dSkip)
      return;
    if (ignorable) {
      // An unknown destination marked ignorable.
      if (!IsKnownWord(aWord)) {
        fState.Dest = Destination::dSkip;
        return;
      }
    }
    if (fState.Dest == Destination::dFontTable) {
      if (aWord == "f") {
        FinishFontEntry(false);
        fFontIndex = aValue;
      } else if (aWord == "fcharset") {
        fFontCharsetCodePage = CharsetToCodePage(aValue);
      } else if (aWord == "cpg") {
        fFontCpg = std::max(0, aValue);
      }
      return;
    }
    if (fState.Dest == Destination::dColorTable) {
      if (aWord == "red")
        fColor = (fColor & 0x00FFFF) | (static_cast<std::uint32_t>(std::clamp(aValue, 0, 255)) << 16);
      if (aWord == "green")
        fColor = (fColor & 0xFF00FF) | (static_cast<std::uint32_t>(std::clamp(aValue, 0, 255)) << 8);
      if (aWord == "blue")
        fColor = (fColor & 0xFFFF00) | static_cast<std::uint32_t>(std::clamp(aValue, 0, 255));
      return;
    }
    const bool on = !aHasParameter || aValue != 0;
    TextStyle& style = fState.Style;
    Paragraph& format = fState.Format;
    if (aWord == "ansicpg") {
      if (aValue > 0)
        fCodePage = aValue;
    } else if (aWord == "ansi") {
      fCodePage = 1252;
    } else if (aWord == "mac") {
      fCodePage = 10000;
    } else if (aWord == "pc") {
      fCodePage = 437;
    } else if (aWord == "pca") {
      fCodePage = 850;
    } else if (aWord == "deff") {
      fDefaultFont = aValue;
    } else if (aWord == "b") {
      style.Bold = on;
    } else if (aWord == "i") {
      style.Italic = on;
    } else if (aWord == "ul") {
      style.Underline = on;
    } else if (aWord == "ulnone") {
      style.Underline = false;
    } else if (aWord == "strike") {
      style.Strike = on;
    } else if (aWord == "plain") {
      style = fDefault;
      fState.Font = -1;
    } else if (aWord == "fs") {
      if (aHasParameter && aValue > 0 && aValue <= 3276)
        style.SizePt = aValue / 2.0;
    } else if (aWord == "f") {
      if (auto it = fFonts.find(aValue); it != fFonts.end()) {
        if (!it->second.Name.empty())
          style.Family = it->second.Name;
        fState.Font = aValue;
      }
    } else if (aWord == "cf") {
      style.Color = aValue > 0 && static_cast<std::size_t>(aValue) < fColors.size() ? fColors[aValue] : fDefault.Color;
    } else if (aWord == "par") {
      FinishParagraph(false);
    } else if (aWord == "line") {
      fLineBreak = true;
      FinishParagraph(false);
    } else if (aWord == "tab") {
      CodePoint('\t');
    } else if (aWord == "emdash") {
      CodePoint(0x2014);
    } else if (aWord == "endash") {
      CodePoint(0x2013);
    } else if (aWord == "bullet") {
      CodePoint(0x2022);
    } else if (aWord == "lquote") {
      CodePoint(0x2018);
    } else if (aWord == "rquote") {
      CodePoint(0x2019);
    } else if (aWord == "ldblquote") {
      CodePoint(0x201C);
    } else if (aWord == "rdblquote") {
      CodePoint(0x201D);
    } else if (aWord == "pard") {
      const TextStyle empty = format.EmptyStyle;
      format = Paragraph{};
      format.EmptyStyle = empty;
    } else if (aWord == "ql") {
      format.Alignment = TextAlignment::taLeft;
    } else if (aWord == "qc") {
      format.Alignment = TextAlignment::taCenter;
    } else if (aWord == "qr") {
      format.Alignment = TextAlignment::taRight;
    } else if (aWord == "qj") {
      format.Alignment = TextAlignment::taJustify;
    } else if (aWord == "li") {
      format.LeftIndent = Twips(aValue);
    } else if (aWord == "ri") {
      format.RightIndent = Twips(aValue);
    } else if (aWord == "fi") {
      format.FirstIndent = Twips(aValue);
    } else if (aWord == "sb") {
      format.SpaceBefore = std::max<Micro>(0, Twips(aValue));
    } else if (aWord == "sa") {
      format.SpaceAfter = std::max<Micro>(0, Twips(aValue));
    } else if (aWord == "uc") {
      fState.Uc = std::clamp(aValue, 0, 16);
    } else if (aWord == "u") {
      UnicodeCharacter(aValue);
    }
  }

  static bool IsKnownWord(const std::string& aWord) {
    static const char* const kKnown[] = {"b",  "i",   "ul",   "ulnone", "strike", "plain", "fs", "f",
                                         "cf", "par", "line", "tab",    "pard",   "ql",    "qc", "qr",
                                         "qj", "li",  "ri",   "fi",     "sb",     "sa",    "uc", "u"};
    return std::find(std::begin(kKnown), std::end(kKnown), aWord) != std::end(kKnown);
  }

  static Micro Twips(int aValue) { return std::llround(static_cast<double>(aValue) * kMicroPerInch / 1440.0); }

  static int HexValue(char c) {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  }

  void UnicodeCharacter(int aValue) {
    char32_t unit = static_cast<char32_t>(aValue < 0 ? aValue + 65536 : aValue) & 0xFFFF;
    if (unit >= 0xD800 && unit < 0xDC00) {
      fHighSurrogate = unit;
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      if (fHighSurrogate)
        CodePoint(0x10000 + ((fHighSurrogate - 0xD800) << 10) + (unit - 0xDC00));
      fHighSurrogate = 0;
    } else {
      fHighSurrogate = 0;
      CodePoint(unit);
    }
    fSkipChars = fState.Uc;
    fSkipBytes.clear();
  }

  void Character(std::uint8_t aByte) {
    if (fSkipDepth > 0)
      return;
    if (SkipFallback(aByte))
      return;
    switch (fState.Dest) {
      case Destination::dSkip:
        return;
      case Destination::dFontTable:
        if (aByte == ';') {
          FinishFontEntry(true);
        } else if (fFontName.size() < kMaxFontName) {
          fFontName += static_cast<char>(aByte);
        }
        return;
      case Destination::dColorTable:
        if (aByte == ';' && fColors.size() < kMaxTableEntries) {
          fColors.push_back(fColor);
          fColor = 0;
        }
        return;
      case Destination::dText:
        break;
    }
    TextByte(aByte);
  }

  // The code page of text in the current font.
  int CodePage() const {
    const int font = fState.Font >= 0 ? fState.Font : fDefaultFont;
    if (auto it = fFonts.find(font); it != fFonts.end() && it->second.CodePage != 0)
      return it->second.CodePage;
    return fCodePage;
  }

  // The converter of a code page, opened on first use; nullptr when iconv lacks it.
  TByteConverter* Converter(int aCodePage) {
    auto it = fConverters.find(aCodePage);
    if (it == fConverters.end())
      it = fConverters.emplace(aCodePage, std::make_unique<TByteConverter>(aCodePage)).first;
    return it->second->Valid() ? it->second.get() : nullptr;
  }

  // Decodes the bytes of `aBytes` in `aCodePage` into `aSink`. Without `aFinal` an
  // incomplete character at the end stays in `aBytes` for the bytes still to come; with
  // it, it becomes one U+FFFD. A byte that cannot start a character becomes U+FFFD and
  // decoding goes on with the next byte.
  template <typename Sink>
  void Decode(std::string& aBytes, int aCodePage, bool aFinal, Sink&& aSink) {
    TByteConverter* converter = NeedsConverter(aCodePage) ? Converter(aCodePage) : nullptr;
    if (!converter) {
      for (const char byte : aBytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        aSink(NeedsConverter(aCodePage) ? (value < 0x80 ? value : Platform::Text::kReplacementCharacter)
                                        : DecodeSingleByte(value, aCodePage));
      }
      aBytes.clear();
      return;
    }
    std::u32string decoded;
    while (!aBytes.empty()) {
      std::size_t used = 0;
      const TByteConverter::Result result = converter->Convert(aBytes, decoded, used);
      aBytes.erase(0, used);
      if (result == TByteConverter::Result::rComplete) {
        aBytes.clear();
        break;
      }
      if (result == TByteConverter::Result::rIncomplete) {
        if (aFinal || aBytes.size() >= kMaxSequenceBytes) {
          decoded.push_back(Platform::Text::kReplacementCharacter);
          aBytes.clear();
        }
        break;
      }
      decoded.push_back(Platform::Text::kReplacementCharacter);
      aBytes.erase(0, 1);
    }
    for (const char32_t codePoint : decoded)
      aSink(codePoint);
  }

  // True when `aBytes` starts a character of `aCodePage` that needs more bytes.
  bool IsIncomplete(const std::string& aBytes, int aCodePage) {
    if (aBytes.empty() || (aBytes.size() == 1 && static_cast<std::uint8_t>(aBytes[0]) < 0x80))
      return false;
    TByteConverter* converter = NeedsConverter(aCodePage) ? Converter(aCodePage) : nullptr;
    if (!converter)
      return false;
    std::u32string ignored;
    std::size_t used = 0;
    return converter->Convert(aBytes, ignored, used) == TByteConverter::Result::rIncomplete;
  }

  // Consumes the bytes that follow \u as its replacement text. \uc counts bytes; when the
  // count ends inside a multi-byte character (a writer counting characters), the rest of
  // that character is skipped too, so that no stray trail byte is decoded.
  bool SkipFallback(std::uint8_t aByte) {
    if (fSkipChars == 0 && fSkipBytes.empty())
      return false;
    if (fState.Dest != Destination::dText) {
      fSkipBytes.clear();
      if (fSkipChars == 0)
        return false;
      --fSkipChars;
      return true;
    }
    const int codePage = CodePage();
    fSkipBytes += static_cast<char>(aByte);
    if (fSkipChars == 0) {
      // Only completing a character begun inside the count: a byte that cannot
      // continue it is text again.
      std::u32string ignored;
      std::size_t used = 0;
      TByteConverter* converter = Converter(codePage);
      if (!converter || converter->Convert(fSkipBytes, ignored, used) == TByteConverter::Result::rInvalid) {
        fSkipBytes.clear();
        return false;
      }
    } else {
      --fSkipChars;
    }
    if (fSkipBytes.size() >= kMaxSequenceBytes || !IsIncomplete(fSkipBytes, codePage))
      fSkipBytes.clear();
    return true;
  }

  // One byte of the text: ASCII goes straight through, other bytes are collected until
  // they form a character of the current code page.
  void TextByte(std::uint8_t aByte) {
    const int codePage = CodePage();
    if (fPendingBytes.empty()) {
      if (!NeedsConverter(codePage)) {
        CodePoint(DecodeSingleByte(aByte, codePage));
        return;
      }
      if (aByte < 0x80) {
        CodePoint(aByte);
        return;
      }
    }
    fPendingBytes += static_cast<char>(aByte);
    Decode(fPendingBytes, codePage, false, [this](char32_t aCodePoint) { CodePoint(aCodePoint); });
  }

  // Ends the bytes of a multi-byte character at a control or a group boundary; an
  // incomplete character becomes one U+FFFD.
  void FlushBytes() {
    if (!fPendingBytes.empty())
      Decode(fPendingBytes, CodePage(), true, [this](char32_t aCodePoint) { CodePoint(aCodePoint); });
    fSkipBytes.clear();
  }

  void CodePoint(char32_t aCodePoint) {
    if (fState.Dest != Destination::dText || fSkipDepth > 0)
      return;
    if (aCodePoint == 0 || (aCodePoint < 0x20 && aCodePoint != '\t') || aCodePoint == 0x7F)
      return;
    if (fCurrent.Runs.empty() || !(fCurrent.Runs.back().Style == fState.Style)) {
      fCurrent.Runs.push_back({"", fState.Style});
    }
    Platform::Text::AppendUtf8(fCurrent.Runs.back().Text, aCodePoint);
  }

  void FinishParagraph(bool aAtEnd) {
    if (aAtEnd && fCurrent.Runs.empty())
      return;  // a closing \par adds no empty line
    Paragraph paragraph = fState.Format;
    paragraph.Runs = std::move(fCurrent.Runs);
    paragraph.EmptyStyle = fState.Style;
    if (fContinuesLine) {
      paragraph.SpaceBefore = 0;
      paragraph.FirstIndent = 0;
    }
    if (fLineBreak)
      paragraph.SpaceAfter = 0;
    fContinuesLine = fLineBreak;
    fLineBreak = false;
    fResult.Paragraphs.push_back(std::move(paragraph));
    fCurrent = Paragraph{};
  }

  void FinishFontEntry(bool aTerminated) {
    if (fFontIndex >= 0 && (aTerminated || !fFontName.empty()) && fFonts.size() < kMaxTableEntries) {
      std::string name = fFontName;
      while (!name.empty() && (name.back() == ' ' || name.back() == ';'))
        name.pop_back();
      while (!name.empty() && name.front() == ' ')
        name.erase(name.begin());
      int codePage = fFontCpg > 0 ? fFontCpg : fFontCharsetCodePage;
      if (codePage == kSymbolCodePage && !Platform::Text::SameAsciiNoCase(name, "Symbol"))
        codePage = kPrivateSymbolCodePage;
      const int nameCodePage = codePage != 0 ? codePage : fCodePage;
      if (!NeedsConverter(nameCodePage)) {
        // Names of symbol fonts are plain text; a UTF-8 name is taken as it is.
        if (!Platform::Text::IsValidUtf8(name))
          name = Platform::Text::Cp1252ToUtf8(name);
      } else {
        std::string decoded;
        Decode(name, nameCodePage, true, [&decoded](char32_t aCodePoint) {
          if (aCodePoint >= 0x20)
            Platform::Text::AppendUtf8(decoded, aCodePoint);
        });
        name = std::move(decoded);
      }
      fFonts[fFontIndex] = FontEntry{name, codePage};
    }
    if (aTerminated || fFontIndex >= 0) {
      fFontIndex = aTerminated ? -1 : fFontIndex;
      fFontName.clear();
      fFontCharsetCodePage = 0;
      fFontCpg = 0;
    }
  }

  const char* fText;
  std::size_t fSize;
  std::size_t fPos = 0;
  TextStyle fDefault;
  GroupState fState;
  std::vector<GroupState> fStack;
  int fSkipDepth = 0;
  bool fIgnorableNext = false;
  int fSkipChars = 0;
  char32_t fHighSurrogate = 0;
  int fCodePage = 1252;
  std::map<int, FontEntry> fFonts;
  int fFontIndex = -1;
  std::string fFontName;
  int fFontCharsetCodePage = 0;
  int fFontCpg = 0;
  int fDefaultFont = -1;
  std::map<int, std::unique_ptr<TByteConverter>> fConverters;
  std::string fPendingBytes;  // the bytes so far of a multi-byte character
  std::string fSkipBytes;     // the bytes so far of a character of \u replacement text
  std::vector<std::uint32_t> fColors;
  std::uint32_t fColor = 0;
  bool fLineBreak = false;
  bool fContinuesLine = false;
  Paragraph fCurrent;
  StyledText fResult;
};

}  // namespace

bool LooksLikeRtf(const std::string& aText) {
  std::size_t i = 0;
  while (i < aText.size() && std::isspace(static_cast<unsigned char>(aText[i])))
    ++i;
  return aText.compare(i, 5, "{\\rtf") == 0;
}

StyledText ReadRtf(const std::string& aText, const TextStyle& aDefault) {
  if (!LooksLikeRtf(aText)) {
    return StyledText::FromPlain(Platform::Text::IsValidUtf8(aText) ? aText : Platform::Text::Cp1252ToUtf8(aText),
                                 aDefault);
  }
  return TRtfReader(aText, aDefault).Read();
}

}  // namespace Platform::Report
