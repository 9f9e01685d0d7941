// 100 pages of tables and memos: layout into an archive, archive to PDF, and as a
// yardstick cairo + pango drawing the same text lines straight into a PDF.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <sstream>

#include "platform/report/renderer.h"
#include "tests/platform/report/sample_report.h"

namespace {

using namespace Platform::Report;
using namespace Platform::Report::Testing;

constexpr int kSections = 117;  // about 100 pages

struct TFixture {
  TSampleReport Sample;
  std::unique_ptr<ITextMeasurer> Measurer = CreatePangoTextMeasurer();
  ArchiveDocument Document;
  TFixture() {
    for (int section = 1; section <= kSections; ++section)
      AddSampleSection(Sample, section, 30);
    TMemoryArchiveDevice device;
    Sample.Master.PrintToDevice(device, *Measurer);
    Document = device.Document();
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

void SetPages(benchmark::State& aState) {
  const double pages = static_cast<double>(Fixture().Document.Pages.size());
  aState.counters["pages"] = pages;
  aState.counters["pages/s"] = benchmark::Counter(pages * aState.iterations(), benchmark::Counter::kIsRate);
}

void BM_LayoutToArchive(benchmark::State& aState) {
  TFixture& fixture = Fixture();
  for (auto _ : aState) {
    std::ostringstream stream;
    TStreamArchiveDevice device(stream);
    fixture.Sample.Master.PrintToDevice(device, *fixture.Measurer);
    benchmark::DoNotOptimize(stream.str().size());
  }
  SetPages(aState);
}
BENCHMARK(BM_LayoutToArchive)->Unit(benchmark::kMillisecond);

void BM_ArchiveToPdf(benchmark::State& aState) {
  const ArchiveDocument& document = Fixture().Document;
  for (auto _ : aState) {
    std::ostringstream stream;
    RenderPdf(document, stream);
    benchmark::DoNotOptimize(stream.str().size());
  }
  SetPages(aState);
}
BENCHMARK(BM_ArchiveToPdf)->Unit(benchmark::kMillisecond);

cairo_status_t Discard(void* aClosure, const unsigned char*, unsigned int aLength) {
  *static_cast<std::size_t*>(aClosure) += aLength;
  return CAIRO_STATUS_SUCCESS;
}

// The same text runs drawn directly: one layout per run, no archive, no lines or images.
void BM_DirectCairoPango(benchmark::State& aState) {
  const ArchiveDocument& document = Fixture().Document;
  for (auto _ : aState) {
    std::size_t bytes = 0;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Discard, &bytes, 595.28, 841.89);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    for (const auto& page : document.Pages) {
      for (const auto& item : page.Items) {
        const auto* text = std::get_if<ArchiveText>(&item);
        if (!text)
          continue;
        PangoFontDescription* font = pango_font_description_new();
        pango_font_description_set_family(font, text->Style.Family.c_str());
        pango_font_description_set_size(font, static_cast<int>(text->Style.SizePt * PANGO_SCALE));
        pango_font_description_set_weight(font, text->Style.Bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_text(layout, text->Text.data(), static_cast<int>(text->Text.size()));
        cairo_move_to(cr, ToPoints(text->X), ToPoints(text->Top));
        pango_cairo_show_layout(cr, layout);
      }
      cairo_show_page(cr);
    }
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    benchmark::DoNotOptimize(bytes);
  }
  SetPages(aState);
}
BENCHMARK(BM_DirectCairoPango)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
