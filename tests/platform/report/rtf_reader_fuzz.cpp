// libFuzzer target: the RTF reader on arbitrary input, then the fake measurer on its
// result (the text it hands to Pango must be well-formed UTF-8 without NUL).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/report/rtf_reader.h"
#include "platform/report/text_measurer.h"
#include "platform/text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  using namespace Platform::Report;
  std::string input(reinterpret_cast<const char*>(aData), aSize);
  if (aSize > 0 && !LooksLikeRtf(input) && (aData[0] & 1))
    input = "{\\rtf1 " + input;
  const StyledText text = ReadRtf(input, TextStyle{});
  for (const auto& paragraph : text.Paragraphs) {
    for (const auto& run : paragraph.Runs) {
      if (run.Text.find('\0') != std::string::npos || run.Text.find('\n') != std::string::npos ||
          !Platform::Text::IsValidUtf8(run.Text)) {
        std::abort();
      }
    }
  }
  TFakeTextMeasurer measurer;
  measurer.Layout(text, 50000, true);
  return 0;
}
