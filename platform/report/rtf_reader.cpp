#include "platform/report/rtf_reader.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "platform/text/text.h"

namespace Platform::Report {

namespace {

constexpr std::size_t kMaxControlWord = 32;
constexpr int kMaxParameterDigits = 10;
constexpr std::size_t kMaxFontName = 128;
constexpr std::size_t kMaxTableEntries = 4096;

// Code page of a font's \fcharset value.
int CharsetToCodePage(int aCharset) {
  switch (aCharset) {
    case 238:
      return 1250;
    case 204:
      return 1251;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 163:
      return 1258;
    case 222:
      return 874;
    default:
      return 1252;
  }
}

// One byte of a single-byte Windows code page as a code point.
char32_t DecodeByte(std::uint8_t aByte, int aCodePage) {
  if (aByte < 0x80)
    return aByte;
  if (aCodePage == 1252)
    return Platform::Text::Cp1252ToCodePoint(aByte);
  const std::string name = aCodePage == 874 ? "CP874" : "CP" + std::to_string(aCodePage);
  iconv_t converter = iconv_open("UTF-32LE", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1))
    return Platform::Text::kReplacementCharacter;
  char in = static_cast<char>(aByte);
  char out[8] = {};
  char* inPtr = &in;
  char* outPtr = out;
  std::size_t inLeft = 1;
  std::size_t outLeft = sizeof out;
  const std::size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1) || outLeft != 4)
    return Platform::Text::kReplacementCharacter;
  char32_t codePoint = 0;
  std::memcpy(&codePoint, out, 4);
  return codePoint;
}

enum class Destination { dText, dSkip, dFontTable, dColorTable };

struct FontEntry {
  std::string Name;
  int CodePage = 0;  // 0: the document's code page
};

struct GroupState {
  TextStyle Style;
  Paragraph Format;  // paragraph properties only; runs stay empty
  int Uc = 1;
  int CodePage = 0;
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
        OpenGroup();
      } else if (c == '}') {
        ++fPos;
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
          Character(static_cast<std::uint8_t>(high * 16 + low), true);
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
        fFontCodePage = CharsetToCodePage(aValue);
      } else if (aWord == "cpg") {
        fFontCodePage = aValue;
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
      fState.CodePage = 0;
    } else if (aWord == "fs") {
      if (aHasParameter && aValue > 0 && aValue <= 3276)
        style.SizePt = aValue / 2.0;
    } else if (aWord == "f") {
      if (auto it = fFonts.find(aValue); it != fFonts.end()) {
        if (!it->second.Name.empty())
          style.Family = it->second.Name;
        fState.CodePage = it->second.CodePage;
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
  }

  void Character(std::uint8_t aByte, bool aEscaped = false) {
    if (fSkipDepth > 0)
      return;
    if (fSkipChars > 0) {
      --fSkipChars;  // replacement text of a preceding \u
      return;
    }
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
    (void)aEscaped;
    const int codePage = fState.CodePage ? fState.CodePage : fCodePage;
    CodePoint(DecodeByte(aByte, codePage));
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
      if (!Platform::Text::IsValidUtf8(name))
        name = Platform::Text::Cp1252ToUtf8(name);
      fFonts[fFontIndex] = FontEntry{name, fFontCodePage};
    }
    if (aTerminated || fFontIndex >= 0) {
      fFontIndex = aTerminated ? -1 : fFontIndex;
      fFontName.clear();
      fFontCodePage = 0;
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
  int fFontCodePage = 0;
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
