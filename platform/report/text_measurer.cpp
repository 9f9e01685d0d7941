#include "platform/report/text_measurer.h"

#include <algorithm>

#include "platform/text/text.h"

namespace Platform::Report {

namespace {

// Well-formed UTF-8 (invalid sequences become U+FFFD) without control characters
// other than tab and line feed: Pango takes nothing else, and neither does the archive.
std::string CleanText(const std::string& aText) {
  const bool clean = Platform::Text::IsValidUtf8(aText) && std::none_of(aText.begin(), aText.end(), [](char c) {
                       const auto u = static_cast<unsigned char>(c);
                       return (u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F;
                     });
  if (clean)
    return aText;
  std::u32string codePoints = Platform::Text::Utf8ToUtf32(aText);
  std::erase_if(codePoints, [](char32_t c) { return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F; });
  return Platform::Text::Utf32ToUtf8(codePoints);
}

}  // namespace

StyledText StyledText::FromPlain(const std::string& aRawText, const TextStyle& aStyle, TextAlignment aAlignment) {
  StyledText result;
  const std::string aText = CleanText(aRawText);
  std::size_t start = 0;
  while (true) {
    std::size_t end = aText.find('\n', start);
    std::string line = aText.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    Paragraph paragraph;
    paragraph.Alignment = aAlignment;
    paragraph.EmptyStyle = aStyle;
    if (!line.empty())
      paragraph.Runs.push_back({std::move(line), aStyle});
    result.Paragraphs.push_back(std::move(paragraph));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return result;
}

std::string StyledText::PlainText() const {
  std::string result;
  for (std::size_t i = 0; i < Paragraphs.size(); ++i) {
    if (i > 0)
      result += '\n';
    for (const auto& run : Paragraphs[i].Runs)
      result += run.Text;
  }
  return result;
}

namespace {

struct Glyph {
  std::string Utf8;
  const TextStyle* Style;
  Micro Width;
  bool Space;
};

std::vector<Glyph> SplitGlyphs(const Paragraph& aParagraph) {
  std::vector<Glyph> glyphs;
  for (const auto& run : aParagraph.Runs) {
    const std::string& text = run.Text;
    for (std::size_t i = 0; i < text.size();) {
      std::size_t length = 1;
      const auto lead = static_cast<unsigned char>(text[i]);
      if (lead >= 0xF0) {
        length = 4;
      } else if (lead >= 0xE0) {
        length = 3;
      } else if (lead >= 0xC0) {
        length = 2;
      }
      length = std::min(length, text.size() - i);
      Micro width = TFakeTextMeasurer::CharWidth(run.Style.SizePt);
      if (text[i] == '\t')
        width *= 4;
      glyphs.push_back({text.substr(i, length), &run.Style, width, text[i] == ' ' || text[i] == '\t'});
      i += length;
    }
  }
  return glyphs;
}

}  // namespace

TextBlock TFakeTextMeasurer::Layout(const StyledText& aText, Micro aWidth, bool aWordWrap) {
  TextBlock block;
  Micro y = 0;
  for (const auto& paragraph : aText.Paragraphs) {
    y += paragraph.SpaceBefore;
    const std::vector<Glyph> glyphs = SplitGlyphs(paragraph);
    std::size_t lineStart = 0;
    bool firstLine = true;
    do {
      const Micro indent = paragraph.LeftIndent + (firstLine ? paragraph.FirstIndent : 0);
      const Micro available = aWidth - indent - paragraph.RightIndent;
      std::size_t lineEnd = lineStart;
      Micro width = 0;
      std::size_t breakAfterSpace = std::string::npos;
      while (lineEnd < glyphs.size()) {
        const Glyph& glyph = glyphs[lineEnd];
        if (aWordWrap && aWidth > 0 && width + glyph.Width > available && lineEnd > lineStart && !glyph.Space) {
          if (breakAfterSpace != std::string::npos)
            lineEnd = breakAfterSpace;
          break;
        }
        width += glyph.Width;
        ++lineEnd;
        if (glyph.Space)
          breakAfterSpace = lineEnd;
      }
      TextLine line;
      line.Top = y;
      Micro lineWidth = 0;
      Micro trailing = 0;
      for (std::size_t i = lineStart; i < lineEnd; ++i) {
        lineWidth += glyphs[i].Width;
        trailing = glyphs[i].Space ? trailing + glyphs[i].Width : 0;
      }
      Micro x = indent;
      const Micro slack = available - (lineWidth - trailing);
      if (paragraph.Alignment == TextAlignment::taCenter)
        x += slack / 2;
      if (paragraph.Alignment == TextAlignment::taRight)
        x += slack;
      double size = lineStart < lineEnd ? 0.0 : paragraph.EmptyStyle.SizePt;
      for (std::size_t i = lineStart; i < lineEnd; ++i) {
        const Glyph& glyph = glyphs[i];
        size = std::max(size, glyph.Style->SizePt);
        if (line.Runs.empty() || !(line.Runs.back().Style == *glyph.Style)) {
          line.Runs.push_back({x, 0, "", *glyph.Style});
        }
        line.Runs.back().Text += glyph.Utf8;
        line.Runs.back().Width += glyph.Width;
        x += glyph.Width;
      }
      line.Height = LineHeight(size);
      line.Baseline = FromPoints(size);
      y += line.Height;
      block.Lines.push_back(std::move(line));
      lineStart = lineEnd;
      firstLine = false;
    } while (lineStart < glyphs.size());
    y += paragraph.SpaceAfter;
  }
  block.Height = y;
  return block;
}

}  // namespace Platform::Report
