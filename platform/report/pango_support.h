// Pango helpers shared by the measurer and the renderer, so that both see the same
// fonts, sizes and hinting. Internal to the report layer.
#pragma once

#include <pango/pangocairo.h>

#include <memory>

#include "platform/report/styled_text.h"

namespace Platform::Report::Pango {

struct FontDescriptionDeleter {
  void operator()(PangoFontDescription* aDescription) const { pango_font_description_free(aDescription); }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;

struct GObjectDeleter {
  void operator()(void* aObject) const {
    if (aObject)
      g_object_unref(aObject);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

// The calling thread's font map (created on first use, lives as long as the thread).
PangoFontMap* ThreadFontMap();

// Hinting off for metrics and outlines: glyph advances then scale linearly, so text
// measured once breaks the same way on every device.
void SetUnhinted(PangoContext* aContext);

// Font for a style with an absolute size in layout units of one micrometre.
FontDescriptionPtr MakeFontDescription(const TextStyle& aStyle);

// Attributes (font, underline, strike-through) of `aStyle` over the byte range.
void AddStyleAttributes(PangoAttrList* aList, const TextStyle& aStyle, unsigned aStart, unsigned aEnd);

}  // namespace Platform::Report::Pango
