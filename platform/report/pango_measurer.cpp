// Pango implementation of ITextMeasurer. Layout units are micrometres: fonts get an
// absolute size in micrometres, so Pango's results divided by PANGO_SCALE are already
// positions in micrometres.
#include <algorithm>

#include "platform/report/pango_support.h"
#include "platform/report/text_measurer.h"

namespace Platform::Report {

namespace {

Micro FromPango(int aValue) {
  return static_cast<Micro>(aValue) / PANGO_SCALE;
}

int ToPango(Micro aValue) {
  constexpr Micro kLimit = static_cast<Micro>(INT32_MAX / PANGO_SCALE) - 1;
  return static_cast<int>(std::clamp<Micro>(aValue, -kLimit, kLimit) * PANGO_SCALE);
}

class TPangoTextMeasurer : public ITextMeasurer {
 public:
  TPangoTextMeasurer() : fContext(pango_font_map_create_context(Pango::ThreadFontMap())) {
    Pango::SetUnhinted(fContext.get());
  }

  TextBlock Layout(const StyledText& aText, Micro aWidth, bool aWordWrap) override {
    TextBlock block;
    Micro y = 0;
    for (const auto& paragraph : aText.Paragraphs) {
      y += paragraph.SpaceBefore;
      y = LayoutParagraph(paragraph, aWidth, aWordWrap, y, block);
      y += paragraph.SpaceAfter;
    }
    block.Height = y;
    return block;
  }

 private:
  Micro LayoutParagraph(const Paragraph& aParagraph, Micro aWidth, bool aWordWrap, Micro aTop, TextBlock& aBlock) {
    Pango::GObjectPtr<PangoLayout> layout{pango_layout_new(fContext.get())};
    std::string text;
    std::vector<std::pair<unsigned, const TextStyle*>> starts;
    PangoAttrList* attributes = pango_attr_list_new();
    for (const auto& run : aParagraph.Runs) {
      const auto start = static_cast<unsigned>(text.size());
      text += run.Text;
      starts.emplace_back(start, &run.Style);
      Pango::AddStyleAttributes(attributes, run.Style, start, static_cast<unsigned>(text.size()));
    }
    Pango::FontDescriptionPtr base =
        Pango::MakeFontDescription(aParagraph.Runs.empty() ? aParagraph.EmptyStyle : aParagraph.Runs.front().Style);
    pango_layout_set_font_description(layout.get(), base.get());
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    const Micro available = aWidth - aParagraph.LeftIndent - aParagraph.RightIndent;
    if (aWordWrap && aWidth > 0) {
      pango_layout_set_width(layout.get(), ToPango(std::max<Micro>(available, 1)));
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    } else if (aWidth > 0 && aParagraph.Alignment != TextAlignment::taLeft) {
      // Single line, but centred or right-aligned within the box.
      pango_layout_set_width(layout.get(), ToPango(std::max<Micro>(available, 1)));
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_NONE);
    }
    pango_layout_set_indent(layout.get(), ToPango(aParagraph.FirstIndent));
    switch (aParagraph.Alignment) {
      case TextAlignment::taCenter:
        pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
        break;
      case TextAlignment::taRight:
        pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
        break;
      case TextAlignment::taJustify:
        pango_layout_set_justify(layout.get(), TRUE);
        break;
      case TextAlignment::taLeft:
        break;
    }
    auto styleAt = [&starts, &aParagraph](unsigned aOffset) -> const TextStyle& {
      const TextStyle* style = &aParagraph.EmptyStyle;
      for (const auto& [start, runStyle] : starts) {
        if (start <= aOffset)
          style = runStyle;
      }
      return *style;
    };

    Micro bottom = aTop;
    PangoLayoutIter* iter = pango_layout_get_iter(layout.get());
    do {
      PangoRectangle logical;
      pango_layout_iter_get_line_extents(iter, nullptr, &logical);
      TextLine line;
      line.Top = aTop + FromPango(logical.y);
      line.Height = FromPango(logical.y + logical.height) - FromPango(logical.y);
      line.Baseline = FromPango(pango_layout_iter_get_baseline(iter)) - FromPango(logical.y);
      PangoLayoutLine* layoutLine = pango_layout_iter_get_line_readonly(iter);
      int x = logical.x;
      for (GSList* item = layoutLine->runs; item; item = item->next) {
        auto* glyphItem = static_cast<PangoGlyphItem*>(item->data);
        const int width = pango_glyph_string_get_width(glyphItem->glyphs);
        const int offset = glyphItem->item->offset;
        const int length = glyphItem->item->length;
        std::string runText = text.substr(offset, length);
        while (!runText.empty() && (runText.back() == '\n' || runText.back() == '\r'))
          runText.pop_back();
        if (!runText.empty()) {
          line.Runs.push_back({aParagraph.LeftIndent + FromPango(x), FromPango(width), std::move(runText),
                               styleAt(static_cast<unsigned>(offset))});
        }
        x += width;
      }
      bottom = std::max(bottom, line.Top + line.Height);
      aBlock.Lines.push_back(std::move(line));
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
    return bottom;
  }

  Pango::GObjectPtr<PangoContext> fContext;
};

}  // namespace

std::unique_ptr<ITextMeasurer> CreatePangoTextMeasurer() {
  return std::make_unique<TPangoTextMeasurer>();
}

}  // namespace Platform::Report
