#include "platform/report/rtf_reader.h"

#include <gtest/gtest.h>

namespace Platform::Report {
namespace {

// Paragraphs as "ALIGN:run|run" joined with " / "; a run is its text followed by
// {flags} when it differs from the default style (10 pt Arial, black).
std::string Describe(const StyledText& aText) {
  std::string result;
  for (const auto& paragraph : aText.Paragraphs) {
    if (!result.empty())
      result += " / ";
    if (paragraph.Alignment != TextAlignment::taLeft)
      result += "LCRJ"[static_cast<int>(paragraph.Alignment)] + std::string(":");
    for (std::size_t i = 0; i < paragraph.Runs.size(); ++i) {
      const TextRun& run = paragraph.Runs[i];
      if (i > 0)
        result += '|';
      result += run.Text;
      std::string flags;
      if (run.Style.Bold)
        flags += "b";
      if (run.Style.Italic)
        flags += "i";
      if (run.Style.Underline)
        flags += "u";
      if (run.Style.Strike)
        flags += "s";
      if (run.Style.SizePt != 10.0)
        flags += std::to_string(static_cast<int>(run.Style.SizePt * 2)) + "hp";
      if (run.Style.Color != 0) {
        char color[16];
        std::snprintf(color, sizeof color, "#%06X", run.Style.Color);
        flags += color;
      }
      if (run.Style.Family != "Arial")
        flags += "@" + run.Style.Family;
      if (!flags.empty())
        result += "{" + flags + "}";
    }
  }
  return result;
}

TEST(RtfReader, ReadsTheSubsetTheHostSends) {
  struct Case {
    const char* Rtf;
    const char* Expected;
  };
  const Case cases[] = {
      {R"({\rtf1\ansi Hello})", "Hello"},
      {R"({\rtf1 a\b b\b0 c})", "a|b{b}|c"},
      {R"({\rtf1\i i\i0\ul u\ulnone\strike s\strike0 n})", "i{i}|u{u}|s{s}|n"},
      {R"({\rtf1\b\i x\plain y})", "x{bi}|y"},
      {R"({\rtf1 {\b x}y})", "x{b}|y"},
      {R"({\rtf1\fs24 big\fs16 small})", "big{24hp}|small{16hp}"},
      {R"({\rtf1{\colortbl ;\red255\green0\blue0;\red0\green0\blue128;}\cf1 r\cf2 n\cf0 k})",
       "r{#FF0000}|n{#000080}|k"},
      {R"({\rtf1{\fonttbl{\f0\fswiss Arial;}{\f1\fmodern\fcharset0 Courier New;}}\f1 m\f0 a})", "m{@Courier New}|a"},
      {R"({\rtf1 a\par b\par})", "a / b"},
      {R"({\rtf1\qc c\par\qr r\par\pard j\qj J\par l})", "C:c / R:r / J:jJ / J:l"},
      {R"({\rtf1\pard\qc x\par\pard y})", "C:x / y"},
      {R"({\rtf1\ansi\ansicpg1252 \'e4\'f6\'fc\'df \'80})", "äöüß €"},
      {R"({\rtf1\ansi\ansicpg1251 \'e4})", "д"},
      {R"({\rtf1{\fonttbl{\f0\fcharset238 Arial CE;}}\f0 \'b9})", "ą{@Arial CE}"},
      {R"({\rtf1 \u8364?\u228 ? x})", "€ä x"},
      {R"({\rtf1\uc2 \u8364xy z})", "€ z"},
      {R"({\rtf1\uc0 \u8364 z})", "€z"},
      {R"({\rtf1 \u-10179?\u-8704?})", "😀"},
      {R"({\rtf1 a{\*\unknowndest hidden}b{\*\generator Writer;}c})", "abc"},
      {R"({\rtf1{\stylesheet{\s0 Normal;}}{\info{\title T}}x{\pict\pngblip 89504e47}y})", "xy"},
      {R"({\rtf1 a\tab b\line c})", "a\tb / c"},
      {R"({\rtf1 \{braces\} \\ back})", "{braces} \\ back"},
      {R"({\rtf1 abc {\b def)", "abc |def{b}"},
      {R"({\rtf1 end} after)", "end"},
      {R"({\rtf1 x\'zz y\'4)", "x y"},
      {"plain text, not RTF", "plain text, not RTF"},
      {"plain\x01 \xE4 text", "plain ä text"},  // not UTF-8: read as Windows-1252, controls dropped
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(ReadRtf(c.Rtf, TextStyle{})), c.Expected) << c.Rtf;
  }
}

TEST(RtfReader, ParagraphSpacingAndIndentsAreTwips) {
  const StyledText text = ReadRtf(R"({\rtf1\li1440\ri720\fi-360\sb120\sa240 x\par})", TextStyle{});
  ASSERT_EQ(text.Paragraphs.size(), 1u);
  const Paragraph& paragraph = text.Paragraphs[0];
  EXPECT_EQ(paragraph.LeftIndent, 25400);
  EXPECT_EQ(paragraph.RightIndent, 12700);
  EXPECT_EQ(paragraph.FirstIndent, -6350);
  EXPECT_EQ(paragraph.SpaceBefore, 2117);
  EXPECT_EQ(paragraph.SpaceAfter, 4233);
}

TEST(RtfReader, DefaultStyleIsTheComponentFont) {
  TextStyle font;
  font.Family = "Liberation Serif";
  font.SizePt = 8;
  const StyledText text = ReadRtf(R"({\rtf1\b x\plain y})", font);
  ASSERT_EQ(text.Paragraphs.at(0).Runs.size(), 2u);
  EXPECT_EQ(text.Paragraphs[0].Runs[0].Style.Family, "Liberation Serif");
  EXPECT_EQ(text.Paragraphs[0].Runs[1].Style, font);
}

TEST(RtfReader, HostileInputIsBounded) {
  // Far deeper nesting than allowed: the text inside is dropped, the rest survives.
  std::string deep = R"({\rtf1 a)";
  deep += std::string(10000, '{') + "deep" + std::string(10000, '}') + "b}";
  EXPECT_EQ(Describe(ReadRtf(deep, TextStyle{})), "ab");
  // \bin skips its bytes, even when they look like RTF; a huge count ends the input.
  EXPECT_EQ(Describe(ReadRtf(R"({\rtf1 a\bin2 {}\b b})", TextStyle{})), "a|b{b}");
  EXPECT_EQ(Describe(ReadRtf(R"({\rtf1 a\bin99999999999 b})", TextStyle{})), "a");
  // Over-long control words and parameters do not overflow.
  const std::string longWord = R"({\rtf1 \)" + std::string(5000, 'x') + "99999999999999999999 c}";
  EXPECT_EQ(Describe(ReadRtf(longWord, TextStyle{})), "c");
  EXPECT_EQ(Describe(ReadRtf(R"({\rtf1\fs99999999999 d})", TextStyle{})), "d");
}

}  // namespace
}  // namespace Platform::Report
