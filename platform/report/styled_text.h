// Attributed text as the report engine lays it out: paragraphs of runs, each run with
// its own font, size, style and colour. Plain captions and memos become one run per
// paragraph; the RTF reader builds the same structure from rich text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/report/units.h"

namespace Platform::Report {

// A font as components and text runs carry it. Colour is 0xRRGGBB.
struct TextStyle {
  std::string Family = "Arial";
  double SizePt = 10.0;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Strike = false;
  std::uint32_t Color = 0x000000;

  bool operator==(const TextStyle&) const = default;
};

enum class TextAlignment { taLeft = 0, taCenter = 1, taRight = 2, taJustify = 3 };

struct TextRun {
  std::string Text;  // UTF-8, may contain '\t'; never '\n'
  TextStyle Style;
};

struct Paragraph {
  std::vector<TextRun> Runs;
  TextAlignment Alignment = TextAlignment::taLeft;
  Micro LeftIndent = 0;
  Micro RightIndent = 0;
  Micro FirstIndent = 0;  // relative to LeftIndent, may be negative
  Micro SpaceBefore = 0;
  Micro SpaceAfter = 0;
  // Style of an empty paragraph: it still takes the height of one line in this font.
  TextStyle EmptyStyle;
};

struct StyledText {
  std::vector<Paragraph> Paragraphs;

  // Plain UTF-8 text in one style: each '\n' (a preceding '\r' is dropped) starts a
  // new paragraph. Invalid UTF-8 becomes U+FFFD; control characters other than tab
  // are dropped.
  static StyledText FromPlain(const std::string& aText, const TextStyle& aStyle,
                              TextAlignment aAlignment = TextAlignment::taLeft);
  // All runs concatenated, paragraphs joined with '\n'.
  std::string PlainText() const;
};

}  // namespace Platform::Report
