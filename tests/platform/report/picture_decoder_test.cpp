// Pictures: every stored format decodes to PNG or JPEG with its pixel size, and the
// engine scales, keeps the aspect ratio or frames a placeholder.
#include "platform/report/picture_decoder.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/platform/report/report_fixture.h"

namespace Platform::Report {
namespace {

using namespace Testing;

std::vector<std::uint8_t> Encode(int aWidth, int aHeight, const char* aType) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, aWidth, aHeight);
  gdk_pixbuf_fill(pixbuf, 0x3366ccff);
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  const bool ok = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, aType, &error, nullptr);
  g_object_unref(pixbuf);
  if (error)
    g_clear_error(&error);
  std::vector<std::uint8_t> bytes;
  if (ok)
    bytes.assign(buffer, buffer + size);
  g_free(buffer);
  return bytes;
}

void Put32(std::vector<std::uint8_t>& aBytes, std::uint32_t aValue) {
  for (int i = 0; i < 4; ++i)
    aBytes.push_back(static_cast<std::uint8_t>(aValue >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& aBytes, std::uint16_t aValue) {
  aBytes.push_back(static_cast<std::uint8_t>(aValue));
  aBytes.push_back(static_cast<std::uint8_t>(aValue >> 8));
}

// An enhanced metafile of 100 x 50 device units with one filled rectangle.
std::vector<std::uint8_t> MinimalEmf() {
  std::vector<std::uint8_t> b;
  Put32(b, 1);   // EMR_HEADER
  Put32(b, 88);  // size
  for (std::uint32_t v : {0u, 0u, 99u, 49u})
    Put32(b, v);  // bounds
  for (std::uint32_t v : {0u, 0u, 2646u, 1323u})
    Put32(b, v);         // frame, 0.01 mm
  Put32(b, 0x464D4520);  // " EMF"
  Put32(b, 0x10000);
  Put32(b, 88 + 24 + 20);  // bytes
  Put32(b, 3);             // records
  Put16(b, 1);
  Put16(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  for (std::uint32_t v : {1000u, 500u, 264u, 132u})
    Put32(b, v);  // device pixels, millimetres
  Put32(b, 43);   // EMR_RECTANGLE
  Put32(b, 24);
  for (std::uint32_t v : {10u, 10u, 90u, 40u})
    Put32(b, v);
  Put32(b, 14);  // EMR_EOF
  Put32(b, 20);
  Put32(b, 0);
  Put32(b, 16);
  Put32(b, 20);
  return b;
}

// A placeable Windows metafile, 2 x 1 inch, one rectangle.
std::vector<std::uint8_t> MinimalWmf() {
  std::vector<std::uint8_t> b;
  Put32(b, 0x9AC6CDD7);
  Put16(b, 0);
  for (std::uint16_t v : {0, 0, 2880, 1440})
    Put16(b, v);
  Put16(b, 1440);
  Put32(b, 0);
  std::uint16_t checksum = 0;
  for (std::size_t i = 0; i < b.size(); i += 2)
    checksum ^= static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8));
  Put16(b, checksum);
  const std::uint32_t words = 9 + 7 + 3;
  Put16(b, 1);
  Put16(b, 9);
  Put16(b, 0x300);
  Put32(b, words);
  Put16(b, 0);
  Put32(b, 7);
  Put16(b, 0);
  Put32(b, 7);  // META_RECTANGLE
  Put16(b, 0x041B);
  for (std::uint16_t v : {1300, 2800, 100, 100})
    Put16(b, v);
  Put32(b, 3);  // META_EOF
  Put16(b, 0);
  return b;
}

TEST(PictureDecoder, DecodesEveryStoredFormat) {
  struct Case {
    const char* What;
    std::vector<std::uint8_t> Bytes;
    ImageFormat Format;
    int Width;
    int Height;
  };
  const Case cases[] = {
      {"png", Encode(40, 20, "png"), ImageFormat::ifPNG, 40, 20},
      {"jpeg", Encode(40, 20, "jpeg"), ImageFormat::ifJPEG, 40, 20},
      {"bmp", Encode(40, 20, "bmp"), ImageFormat::ifPNG, 40, 20},
      {"ico", Encode(32, 32, "ico"), ImageFormat::ifPNG, 32, 32},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.Bytes.empty()) << c.What;
    const auto decoded = DecodePicture(Picture{c.Bytes});
    ASSERT_TRUE(decoded) << c.What;
    EXPECT_EQ(decoded->Format, c.Format) << c.What;
    EXPECT_EQ(decoded->PixelWidth, c.Width) << c.What;
    EXPECT_EQ(decoded->PixelHeight, c.Height) << c.What;
    if (c.Format == ImageFormat::ifPNG) {
      EXPECT_EQ(std::memcmp(decoded->Bytes.data(), "\x89PNG", 4), 0) << c.What;
    }
  }
}

// Metafiles become pictures with their aspect ratio (2 : 1).
TEST(PictureDecoder, DecodesMetafiles) {
  const auto emf = DecodePicture(Picture{MinimalEmf()});
  ASSERT_TRUE(emf);
  EXPECT_EQ(emf->Format, ImageFormat::ifPNG);
  ASSERT_GT(emf->PixelHeight, 0);
  EXPECT_NEAR(static_cast<double>(emf->PixelWidth) / emf->PixelHeight, 2.0, 0.1);

  // Decoding an EMF first must not break the WMF loader that follows (both libraries
  // export functions of the same names).
  if (!std::filesystem::exists("/usr/share/fonts/type1/urw-base35")) {
    GTEST_SKIP() << "libwmf needs the Type 1 fonts of fonts-urw-base35";
  }
  const auto wmf = DecodePicture(Picture{MinimalWmf()});
  ASSERT_TRUE(wmf);
  EXPECT_EQ(wmf->Format, ImageFormat::ifPNG);
  ASSERT_GT(wmf->PixelHeight, 0);
  EXPECT_NEAR(static_cast<double>(wmf->PixelWidth) / wmf->PixelHeight, 2.0, 0.1);
}

TEST(PictureDecoder, RefusesWhatItCannotRead) {
  std::vector<std::uint8_t> truncatedPng = Encode(40, 20, "png");
  truncatedPng.resize(30);
  for (const auto& bytes : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{1, 2, 3, 4, 5}, truncatedPng}) {
    EXPECT_FALSE(DecodePicture(Picture{bytes}));
  }
}

TEST(PictureDecoder, EngineScalesPicturesAndFramesBrokenOnes) {
  struct Case {
    const char* What;
    std::vector<std::uint8_t> Bytes;
    bool Stretch;
    bool KeepAspect;
    Micro Width;
    Micro Height;
  };
  const std::vector<std::uint8_t> wide = Encode(200, 100, "png");
  const Case cases[] = {
      {"aspect kept", wide, true, true, 50000, 25000},
      {"stretched", wide, true, false, 50000, 50000},
      // Natural size at 96 dpi (52.9 x 26.5 mm), clipped to the box.
      {"natural", wide, false, true, 50000, 26458},
  };
  for (const Case& c : cases) {
    Report report;
    SmallPage(report);
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.Height = 60000;
    Image& image = report.Create<Image>(detail, "Picture1");
    image.Picture.Bytes = c.Bytes;
    image.Stretch = c.Stretch;
    image.MaintainAspectRatio = c.KeepAspect;
    image.Width = 50000;
    image.Height = 50000;
    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.at(0).Items.size(), 1u) << c.What;
    const auto& item = std::get<ArchiveImage>(document.Pages[0].Items[0]);
    EXPECT_EQ(item.Width, c.Width) << c.What;
    EXPECT_EQ(item.Height, c.Height) << c.What;
  }
  // Undecodable bytes: a frame with a cross; no picture at all: nothing.
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.Height = 60000;
  Image& broken = report.Create<Image>(detail, "Broken");
  broken.Picture.Bytes = {'n', 'o', 'p', 'e'};
  broken.Width = broken.Height = 20000;
  Image& empty = report.Create<Image>(detail, "Empty");
  empty.Width = empty.Height = 20000;
  const ArchiveDocument document = Print(report);
  const auto& items = document.Pages.at(0).Items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(std::get<ArchiveRect>(items[0]).Width, 20000);
  EXPECT_TRUE(std::holds_alternative<ArchiveLine>(items[1]));
}

}  // namespace
}  // namespace Platform::Report
