#include "platform/report/text_measurer.h"

#include <gtest/gtest.h>

#include <thread>

namespace Platform::Report {
namespace {

const char* const kLong =
    "Die Bemessung der Bohrpfahlwand erfolgt nach dem Verfahren mit Teilsicherheitsbeiwerten; "
    "die Einbindetiefe ergibt sich aus dem Gleichgewicht der horizontalen Kräfte.";

std::vector<std::pair<Micro, std::string>> Lines(const TextBlock& aBlock) {
  std::vector<std::pair<Micro, std::string>> lines;
  for (const auto& line : aBlock.Lines) {
    std::string text;
    for (const auto& run : line.Runs)
      text += run.Text;
    lines.emplace_back(line.Top, text);
  }
  return lines;
}

TEST(FakeTextMeasurer, WrapsAtSpacesAndAligns) {
  TFakeTextMeasurer measurer;
  const Micro c = TFakeTextMeasurer::CharWidth(10);
  TextStyle style;
  // Ten characters per line.
  const TextBlock block = measurer.Layout(StyledText::FromPlain("aaa bbb ccc ddddddddddddd", style), 10 * c, true);
  ASSERT_EQ(block.Lines.size(), 4u);
  EXPECT_EQ(Lines(block)[0].second, "aaa bbb ");
  EXPECT_EQ(Lines(block)[1].second, "ccc ");
  EXPECT_EQ(Lines(block)[2].second, "dddddddddd");
  EXPECT_EQ(block.Height, 4 * TFakeTextMeasurer::LineHeight(10));
  const TextBlock right = measurer.Layout(StyledText::FromPlain("ab", style, TextAlignment::taRight), 10 * c, true);
  EXPECT_EQ(right.Lines[0].Runs[0].X, 8 * c);
}

TEST(PangoTextMeasurer, ArialIsMeasuredAsLiberationSans) {
  auto measurer = CreatePangoTextMeasurer();
  auto widthOf = [&measurer](const std::string& aFamily, bool aBold) {
    TextStyle style;
    style.Family = aFamily;
    style.Bold = aBold;
    return measurer->Layout(StyledText::FromPlain("Bohrpfahlwand 1234", style), 0, false).Lines.at(0).Runs.at(0).Width;
  };
  EXPECT_EQ(widthOf("Arial", false), widthOf("Liberation Sans", false));
  EXPECT_EQ(widthOf("Arial", true), widthOf("Liberation Sans", true));
  EXPECT_NE(widthOf("Arial", false), widthOf("Liberation Serif", false));
  EXPECT_NE(widthOf("Arial", false), widthOf("Arial", true));
}

TEST(PangoTextMeasurer, WrapsWithinTheWidthTheSameWayOnEveryThread) {
  TextStyle style;
  const StyledText text = StyledText::FromPlain(kLong, style);
  auto measurer = CreatePangoTextMeasurer();
  const TextBlock block = measurer->Layout(text, 50000, true);
  ASSERT_GE(block.Lines.size(), 4u);
  Micro previousBottom = 0;
  for (const auto& line : block.Lines) {
    EXPECT_GE(line.Top, previousBottom);
    EXPECT_GT(line.Height, 3000);  // 10 pt is 3528 um; the line box is a little more
    EXPECT_LT(line.Height, 5000);
    previousBottom = line.Top + line.Height;
    Micro width = 0;
    for (const auto& run : line.Runs)
      width = std::max(width, run.X + run.Width);
    EXPECT_LE(width, 50000 + 2000);  // a trailing blank may hang over
  }
  EXPECT_EQ(block.Height, previousBottom);

  TextBlock other;
  std::thread([&] { other = CreatePangoTextMeasurer()->Layout(text, 50000, true); }).join();
  EXPECT_EQ(Lines(other), Lines(block));
}

TEST(PangoTextMeasurer, RunsKeepTheirStyles) {
  TextStyle plain;
  TextStyle bold = plain;
  bold.Bold = true;
  bold.SizePt = 14;
  StyledText text;
  Paragraph paragraph;
  paragraph.Runs = {{"normal ", plain}, {"fett", bold}, {" normal", plain}};
  paragraph.Alignment = TextAlignment::taCenter;
  text.Paragraphs.push_back(paragraph);
  const TextBlock block = CreatePangoTextMeasurer()->Layout(text, 100000, true);
  ASSERT_EQ(block.Lines.size(), 1u);
  const auto& runs = block.Lines[0].Runs;
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].Text, "fett");
  EXPECT_TRUE(runs[1].Style.Bold);
  EXPECT_EQ(runs[1].X, runs[0].X + runs[0].Width);
  // Centred: equal room left and right (within rounding).
  const Micro right = 100000 - (runs[2].X + runs[2].Width);
  EXPECT_NEAR(static_cast<double>(runs[0].X), static_cast<double>(right), 3.0);
  // The 14 pt run makes the line taller than a 10 pt one.
  const TextBlock small = CreatePangoTextMeasurer()->Layout(StyledText::FromPlain("x", plain), 100000, true);
  EXPECT_GT(block.Lines[0].Height, small.Lines[0].Height);
}

}  // namespace
}  // namespace Platform::Report
