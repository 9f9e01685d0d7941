// Text measurement: turns attributed text into positioned lines for a given width.
//
// The layout engine measures every text through this interface in its first pass, so
// tests can hand in `TFakeTextMeasurer` (fixed advance per character) and get exact,
// font-independent positions. `CreatePangoTextMeasurer` is the real one.
//
// Contract: `Layout` is pure (same input, same output); all results are integer
// micrometres relative to the top-left corner of the text box. An implementation
// object is used by one thread at a time; create one per thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/report/styled_text.h"
#include "platform/report/units.h"

namespace Platform::Report {

struct LineRun {
  Micro X = 0;      // left edge of the run within the box
  Micro Width = 0;  // advance width of the run
  std::string Text;
  TextStyle Style;
};

struct TextLine {
  Micro Top = 0;       // top of the line box within the text box
  Micro Height = 0;    // height of the line box
  Micro Baseline = 0;  // baseline, relative to Top
  std::vector<LineRun> Runs;
};

struct TextBlock {
  std::vector<TextLine> Lines;
  Micro Height = 0;  // bottom of the last line plus paragraph spacing
};

class ITextMeasurer {
 public:
  virtual ~ITextMeasurer() = default;
  // Lays out `aText` into a box `aWidth` wide. Without word wrap every paragraph is one
  // line (which may run past the width). A width <= 0 means unbounded.
  virtual TextBlock Layout(const StyledText& aText, Micro aWidth, bool aWordWrap) = 0;
};

// Deterministic measurer for tests: every code point advances SizePt * 0.5 points
// (a tab four times that), every line is SizePt * 1.2 points high with the baseline
// at SizePt points; wraps greedily at spaces, breaking over-long words.
class TFakeTextMeasurer : public ITextMeasurer {
 public:
  TextBlock Layout(const StyledText& aText, Micro aWidth, bool aWordWrap) override;
  static Micro CharWidth(double aSizePt) { return FromPoints(aSizePt * 0.5); }
  static Micro LineHeight(double aSizePt) { return FromPoints(aSizePt * 1.2); }
};

// Pango measurer: hinting off (metrics and outlines), its own font map and context,
// so that line breaks do not depend on the output device. Not thread-safe: one per
// thread.
std::unique_ptr<ITextMeasurer> CreatePangoTextMeasurer();

}  // namespace Platform::Report
