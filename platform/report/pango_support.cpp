#include "platform/report/pango_support.h"

namespace Platform::Report::Pango {

PangoFontMap* ThreadFontMap() {
  thread_local GObjectPtr<PangoFontMap> fontMap{pango_cairo_font_map_new()};
  return fontMap.get();
}

void SetUnhinted(PangoContext* aContext) {
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  pango_cairo_context_set_font_options(aContext, options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(aContext, FALSE);
}

FontDescriptionPtr MakeFontDescription(const TextStyle& aStyle) {
  FontDescriptionPtr description{pango_font_description_new()};
  pango_font_description_set_family(description.get(), aStyle.Family.empty() ? "Arial" : aStyle.Family.c_str());
  const double size = aStyle.SizePt > 0 ? aStyle.SizePt : 10.0;
  pango_font_description_set_absolute_size(description.get(), static_cast<double>(FromPoints(size)) * PANGO_SCALE);
  pango_font_description_set_weight(description.get(), aStyle.Bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(description.get(), aStyle.Italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return description;
}

void AddStyleAttributes(PangoAttrList* aList, const TextStyle& aStyle, unsigned aStart, unsigned aEnd) {
  FontDescriptionPtr description = MakeFontDescription(aStyle);
  PangoAttribute* font = pango_attr_font_desc_new(description.get());
  font->start_index = aStart;
  font->end_index = aEnd;
  pango_attr_list_insert(aList, font);
  if (aStyle.Underline) {
    PangoAttribute* underline = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
    underline->start_index = aStart;
    underline->end_index = aEnd;
    pango_attr_list_insert(aList, underline);
  }
  if (aStyle.Strike) {
    PangoAttribute* strike = pango_attr_strikethrough_new(TRUE);
    strike->start_index = aStart;
    strike->end_index = aEnd;
    pango_attr_list_insert(aList, strike);
  }
}

}  // namespace Platform::Report::Pango
