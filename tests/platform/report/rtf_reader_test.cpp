#include "platform/report/rtf_reader.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

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
      // Multi-byte code pages, from the font's \fcharset or \cpg or from \ansicpg.
      {R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fcharset128 MS Gothic;}}\f0 \'93\'fa\'96\'7b\'8c\'ea})",
       "日本語{@MS Gothic}"},
      {R"({\rtf1\ansi\ansicpg932 \'83e\'95\\\'95\'5c})", "テ表表"},  // trail bytes as text and as \\.
      {R"({\rtf1{\fonttbl{\f0\fcharset134 SimSun;}}\f0\'d6\'d0\'ce\'c4})", "中文{@SimSun}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset136 MingLiU;}}\f0\'a4\'a4\'a4\'e5})", "中文{@MingLiU}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset129 Gulim;}}\f0\'c7\'d1\'b1\'b9\'be\'ee})", "한국어{@Gulim}"},
      {R"({\rtf1\ansi\ansicpg936 \'d6\'d0})", "中"},
      {R"({\rtf1\ansi\ansicpg65001 \'e2\'82\'ac \'f0\'9f\'98\'80 \'e2\'28})", "€ 😀 \uFFFD("},
      {R"({\rtf1{\fonttbl{\f0\cpg65001 U;}}\f0\'c3\'a4})", "ä{@U}"},
      {"{\\rtf1\\ansicpg932 \\'93\r\n\\'fa}", "日"},  // a line break of the file inside a character
      // Single-byte code pages through the font's character set.
      {R"({\rtf1{\fonttbl{\f0\fcharset161 Arial Greek;}{\f1\fcharset204 Arial Cyr;}}\f0 \'e1\'e2\'e3 \f1 \'c6\'e6})",
       "αβγ {@Arial Greek}|Жж{@Arial Cyr}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset177 H;}{\f1\fcharset163 V;}}\f0\'e0\'f9\f1 \'e0})", "אש{@H}|à{@V}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset77 M;}{\f1\fcharset255 O;}}\f0\'8a\f1\'84})", "ä{@M}|ä{@O}"},
      {R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset0 Arial;}{\f1\cpg1253\fcharset204 G;}}\f0\'e4\f1\'e4})",
       "д|δ{@G}"},  // \fcharset0 is the document's code page; \cpg wins over \fcharset
      {R"({\rtf1\ansi\deff0{\fonttbl{\f0\fcharset204 Arial Cyr;}}\'c6\b\'c6\plain\'e6})", "Ж|Ж{b}|ж"},
      {R"({\rtf1{\fonttbl{\f0\fcharset2 Symbol;}{\f1\fcharset2 Wingdings;}}\f0 a\'b7\f1 J})",
       "α•{@Symbol}|\uF04A{@Wingdings}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset128 \'82\'6c\'82\'72 \'96\'be\'92\'a9;}}\f0 x})", "x{@ＭＳ 明朝}"},
      // A character cut short by a control word, a group boundary, a byte that cannot follow
      // or the end of the input is one U+FFFD; the text after it survives.
      {R"({\rtf1\ansicpg932 \'93\b x})", "\uFFFD|x{b}"},
      {R"({\rtf1\ansicpg932 {\'93}y{z\'93}})", "\uFFFDyz\uFFFD"},
      {R"({\rtf1\ansicpg932 \'93 z\'93\'fa\'93)", "\uFFFD z日\uFFFD"},
      {R"({\rtf1\ansicpg12345 \'e4a})", "\uFFFDa"},  // a code page iconv does not know
      // \u wins over the replacement bytes, which are never decoded, also when \uc counts
      // one byte for a two-byte character.
      {R"({\rtf1{\fonttbl{\f0\fcharset128 G;}}\f0\uc1\u26085\'93\'fa\u26412?x\uc2\u35486\'8c\'ea y})", "日本x語 y{@G}"},
      {R"({\rtf1{\fonttbl{\f0\fcharset128 G;}}\f0\uc1\u26085\'93 y})", "日 y{@G}"},
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

TEST(RtfReader, ReadsOnSeveralThreadsAtOnce) {
  // Each read converts with its own iconv descriptors.
  const std::string rtf =
      R"({\rtf1\ansi\ansicpg932{\fonttbl{\f0\fcharset136 A;}{\f1\fcharset129 B;}}\'93\'fa\f0\'a4\'a4\f1\'c7\'d1})";
  const std::string expected = "日|中{@A}|한{@B}";
  std::vector<std::string> failures(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300 && failures[t].empty(); ++i) {
        const std::string got = Describe(ReadRtf(rtf, TextStyle{}));
        if (got != expected)
          failures[t] = got;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (const auto& failure : failures)
    EXPECT_EQ(failure, "");
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
