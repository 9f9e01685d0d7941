// The sample report: saved as a layout file, loaded back, laid out with Pango,
// written as an archive and drawn to PDF and PNG in the build folder.
#include "platform/report/renderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/platform/report/sample_report.h"

namespace Platform::Report {
namespace {

using namespace Testing;

std::filesystem::path OutputFolder() {
  const char* binary = std::getenv("QUORVANE_BINARY_DIR");
  std::filesystem::path folder = std::filesystem::path(binary ? binary : ".") / "report-sample";
  std::filesystem::create_directories(folder);
  return folder;
}

std::string ReadFile(const std::filesystem::path& aPath) {
  std::ifstream file(aPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ReportRenderer, SampleReportBecomesPdfAndPng) {
  const std::filesystem::path folder = OutputFolder();
  TSampleReport sample;
  AddSampleSection(sample, 1, 24);
  AddSampleSection(sample, 2, 30);
  sample.Master.SaveToFile(folder / "engine-sample.layout.json");

  Report loaded;
  loaded.LoadFromFile(folder / "engine-sample.layout.json");
  sample.Bind(loaded);
  auto measurer = CreatePangoTextMeasurer();
  {
    std::ofstream archive(folder / "engine-sample.qvra", std::ios::binary | std::ios::trunc);
    TStreamArchiveDevice device(archive);
    loaded.PrintToDevice(device, *measurer);
  }
  const std::string bytes = ReadFile(folder / "engine-sample.qvra");
  const ArchiveReadResult read = ReadArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(read.Document) << read.Error;
  const ArchiveDocument& document = *read.Document;
  ASSERT_GE(document.Pages.size(), 2u);
  const std::string count = std::to_string(document.Pages.size());
  for (std::size_t i = 0; i < document.Pages.size(); ++i) {
    EXPECT_NE(document.Pages[i].Text().find(std::to_string(i + 1) + " / " + count), std::string::npos) << i;
  }
  EXPECT_NE(document.Pages[0].Text().find("Nachweis der Bohrpfahlwand"), std::string::npos);

  RenderPdfFile(document, folder / "engine-sample.pdf");
  const std::string pdf = ReadFile(folder / "engine-sample.pdf");
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf.find("LiberationSans"), std::string::npos);  // "Arial" was embedded as Liberation Sans
  EXPECT_NE(pdf.find("/FontFile"), std::string::npos);

  RenderPngFile(document, 0, 100, folder / "engine-sample-1.png");
  cairo_surface_t* png = cairo_image_surface_create_from_png((folder / "engine-sample-1.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 827);  // 210 mm at 100 dpi
  EXPECT_EQ(cairo_image_surface_get_height(png), 1169);
  // Something is drawn: count dark pixels.
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int dark = 0;
  for (int y = 0; y < 1169; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < 827; ++x)
      dark += (row[x] & 0xFF) < 128;
  }
  cairo_surface_destroy(png);
  EXPECT_GT(dark, 2000);
}

// Underline and strike-through are thin rules near the text, not blocks below it.
TEST(ReportRenderer, DecorationsStayNearTheirText) {
  TextStyle style;
  style.Underline = true;
  style.Strike = true;
  style.Color = 0x0000FF;
  ArchiveDocument document{
      50000, 50000, {ArchivePage{{ArchiveText{5000, 5000, 20000, 4233, 3528, style, "markiert"}}}}};
  const std::filesystem::path path = OutputFolder() / "decorations.png";
  RenderPngFile(document, 0, 254, path);  // 10 pixels per millimetre
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < 500; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < 500; ++x) {
      const bool blue = (row[x] & 0xFF) > 128 && ((row[x] >> 16) & 0xFF) < 128;
      (y >= 50 && y < 100 ? inside : outside) += blue;
    }
  }
  cairo_surface_destroy(png);
  EXPECT_GT(inside, 300);
  EXPECT_EQ(outside, 0);
}

TEST(ReportRenderer, RefusesBadRequests) {
  ArchiveDocument document{210000, 297000, {ArchivePage{}}};
  const std::filesystem::path folder = OutputFolder();
  EXPECT_THROW(RenderPngFile(document, 1, 100, folder / "none.png"), std::runtime_error);
  EXPECT_THROW(RenderPngFile(document, 0, 0, folder / "none.png"), std::runtime_error);
  EXPECT_THROW(RenderPngFile(document, 0, 100, folder / "missing-folder" / "x.png"), std::runtime_error);
  EXPECT_THROW(RenderPdfFile(document, (folder / "missing-folder" / "x.pdf").string()), std::runtime_error);
  // A picture that does not decode is drawn as a placeholder, not an error.
  document.Pages[0].Items.push_back(ArchiveImage{0, 0, 10000, 10000, ImageFormat::ifPNG, {1, 2, 3}});
  EXPECT_NO_THROW(RenderPngFile(document, 0, 50, folder / "placeholder.png"));
}

}  // namespace
}  // namespace Platform::Report
