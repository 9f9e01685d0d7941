#include "platform/report/archive.h"

#include <gtest/gtest.h>

#include <sstream>

namespace Platform::Report {
namespace {

ArchiveDocument SampleDocument() {
  ArchiveDocument document{210000, 297000, {}};
  ArchivePage first;
  TextStyle style;
  style.Family = "Liberation Sans";
  style.SizePt = 10.5;
  style.Bold = true;
  style.Underline = true;
  style.Color = 0x123456;
  first.Items.push_back(ArchiveText{22000, 15000, 30000, 4233, 3528, style, "Größe ≤ 3 m"});
  first.Items.push_back(ArchiveLine{22000, 20000, 190000, 20000, 141, 0x000000});
  first.Items.push_back(ArchiveRect{22000, 30000, 10000, 5000, 0, 0, 0xEEEEEE});
  first.Items.push_back(ArchiveRect{22000, 40000, 10000, 5000, 200, 0xFF0000, std::nullopt});
  first.Items.push_back(ArchiveImage{50000, 50000, 20000, 10000, ImageFormat::ifJPEG, {0xFF, 0xD8, 0xFF, 1, 2}});
  document.Pages.push_back(first);
  document.Pages.push_back({});  // an empty page survives too
  return document;
}

TEST(ReportArchive, RoundTripKeepsEveryItem) {
  const ArchiveDocument document = SampleDocument();
  const std::vector<std::uint8_t> bytes = WriteArchive(document);
  const ArchiveReadResult read = ReadArchive(bytes);
  ASSERT_TRUE(read.Document) << read.Error;
  EXPECT_EQ(read.Document->PageWidth, 210000);
  EXPECT_EQ(read.Document->PageHeight, 297000);
  ASSERT_EQ(read.Document->Pages.size(), 2u);
  EXPECT_EQ(read.Document->Pages[0].Items, document.Pages[0].Items);
  EXPECT_TRUE(read.Document->Pages[1].Items.empty());
  EXPECT_EQ(read.Document->Pages[0].Text(), "Größe ≤ 3 m");
}

TEST(ReportArchive, StreamDeviceWritesTheArchiveAtTheEnd) {
  std::ostringstream stream;
  TStreamArchiveDevice device(stream);
  const ArchiveDocument document = SampleDocument();
  device.BeginDocument(document.PageWidth, document.PageHeight);
  for (const auto& page : document.Pages)
    device.AddPage(page);
  EXPECT_TRUE(stream.str().empty());
  device.EndDocument();
  const std::vector<std::uint8_t> expected = WriteArchive(document);
  EXPECT_EQ(stream.str(), std::string(expected.begin(), expected.end()));
}

TEST(ReportArchive, EveryTruncationIsRefused) {
  const std::vector<std::uint8_t> bytes = WriteArchive(SampleDocument());
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    const ArchiveReadResult read = ReadArchive(bytes.data(), size);
    EXPECT_FALSE(read.Document) << size;
    EXPECT_FALSE(read.Error.empty());
  }
}

TEST(ReportArchive, MalformedFieldsAreRefused) {
  const std::vector<std::uint8_t> good = WriteArchive(SampleDocument());
  // Offsets: magic 0, version 4, page size 8/12, page count 16, item count 20,
  // first item tag 24, its text fields from 25 (five i32, size, flags at 49, colour 50).
  struct Case {
    const char* What;
    std::size_t Offset;
    std::vector<std::uint8_t> Bytes;
  };
  const std::vector<Case> cases = {
      {"magic", 0, {'X'}},
      {"version", 4, {2, 0}},
      {"page count", 16, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"item count", 20, {0xFF, 0xFF, 0xFF, 0x00}},
      {"item tag", 24, {9}},
      {"coordinate", 25, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"negative width", 33, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"font size", 45, {0, 0, 0, 0}},
      {"style flags", 49, {0x10}},
      {"colour", 50, {0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    std::copy(c.Bytes.begin(), c.Bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.Offset));
    EXPECT_FALSE(ReadArchive(bytes).Document) << c.What;
  }
  std::vector<std::uint8_t> trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(ReadArchive(trailing).Document);

  // Text that is not UTF-8 (a lone continuation byte) is refused, not passed on.
  ArchiveDocument document{1000, 1000, {ArchivePage{{ArchiveText{0, 0, 0, 0, 0, {}, "ab"}}}}};
  std::vector<std::uint8_t> bytes = WriteArchive(document);
  bytes[bytes.size() - 5] = 0x80;
  EXPECT_FALSE(ReadArchive(bytes).Document);
}

TEST(ReportArchive, WriterRefusesCoordinatesItCannotStore) {
  ArchiveDocument document{1000, 1000, {ArchivePage{{ArchiveLine{0, 0, kArchiveMaxCoordinate + 1, 0, 1, 0}}}}};
  EXPECT_THROW(WriteArchive(document), std::runtime_error);
}

}  // namespace
}  // namespace Platform::Report
