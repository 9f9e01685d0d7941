#include "platform/report/renderer.h"

#include <cairo-pdf.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <fstream>
#include <ostream>
#include <stdexcept>

#include "platform/report/pango_support.h"

namespace Platform::Report {

namespace {

void SetColor(cairo_t* aCairo, std::uint32_t aColor) {
  cairo_set_source_rgb(aCairo, ((aColor >> 16) & 0xFF) / 255.0, ((aColor >> 8) & 0xFF) / 255.0,
                       (aColor & 0xFF) / 255.0);
}

// Decodes PNG or JPEG bytes into a cairo image surface (nullptr when undecodable).
cairo_surface_t* DecodeImage(const ArchiveImage& aImage, bool aKeepJpeg) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GError* error = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader, aImage.Bytes.data(), aImage.Bytes.size(), &error);
  if (error)
    g_clear_error(&error);
  ok = gdk_pixbuf_loader_close(loader, &error) && ok;
  if (error)
    g_clear_error(&error);
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  cairo_surface_t* surface = nullptr;
  if (pixbuf && gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
      static_cast<double>(gdk_pixbuf_get_width(pixbuf)) * gdk_pixbuf_get_height(pixbuf) <= 64.0 * 1024 * 1024) {
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    surface = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    unsigned char* target = cairo_image_surface_get_data(surface);
    const int targetStride = cairo_image_surface_get_stride(surface);
    cairo_surface_flush(surface);
    for (int y = 0; y < height; ++y) {
      const guchar* in = source + static_cast<std::size_t>(y) * sourceStride;
      auto* out = reinterpret_cast<std::uint32_t*>(target + static_cast<std::size_t>(y) * targetStride);
      for (int x = 0; x < width; ++x, in += channels) {
        const std::uint32_t a = alpha ? in[3] : 255;
        auto premultiply = [a](std::uint32_t aValue) { return (aValue * a + 127) / 255; };
        out[x] = (a << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) | premultiply(in[2]);
      }
    }
    cairo_surface_mark_dirty(surface);
    if (aKeepJpeg && aImage.Format == ImageFormat::ifJPEG) {
      // Let the PDF carry the original JPEG stream instead of re-encoded pixels.
      auto* copy = static_cast<unsigned char*>(g_memdup2(aImage.Bytes.data(), aImage.Bytes.size()));
      cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, copy, aImage.Bytes.size(), g_free, copy);
    }
  }
  g_object_unref(loader);
  return surface;
}

class TPainter {
 public:
  TPainter(cairo_t* aCairo, bool aVectorOutput) : fCairo(aCairo), fVector(aVectorOutput) {
    fContext.reset(pango_font_map_create_context(Pango::ThreadFontMap()));
    Pango::SetUnhinted(fContext.get());
  }

  void Page(const ArchivePage& aPage) {
    pango_cairo_update_context(fCairo, fContext.get());
    for (const auto& item : aPage.Items)
      std::visit([this](const auto& aValue) { Draw(aValue); }, item);
  }

 private:
  void Draw(const ArchiveText& aText) {
    Pango::GObjectPtr<PangoLayout> layout{pango_layout_new(fContext.get())};
    PangoAttrList* attributes = pango_attr_list_new();
    Pango::AddStyleAttributes(attributes, aText.Style, 0, static_cast<unsigned>(aText.Text.size()));
    Pango::FontDescriptionPtr font = Pango::MakeFontDescription(aText.Style);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_text(layout.get(), aText.Text.data(), static_cast<int>(aText.Text.size()));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    const double baseline = static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
    SetColor(fCairo, aText.Style.Color);
    cairo_move_to(fCairo, static_cast<double>(aText.X), static_cast<double>(aText.Top + aText.Baseline) - baseline);
    pango_cairo_show_layout(fCairo, layout.get());
  }

  void Draw(const ArchiveLine& aLine) {
    if (aLine.PenWidth <= 0)
      return;
    cairo_set_line_width(fCairo, static_cast<double>(aLine.PenWidth));
    SetColor(fCairo, aLine.Color);
    cairo_move_to(fCairo, static_cast<double>(aLine.X1), static_cast<double>(aLine.Y1));
    cairo_line_to(fCairo, static_cast<double>(aLine.X2), static_cast<double>(aLine.Y2));
    cairo_stroke(fCairo);
  }

  void Draw(const ArchiveRect& aRect) {
    cairo_rectangle(fCairo, static_cast<double>(aRect.X), static_cast<double>(aRect.Y),
                    static_cast<double>(aRect.Width), static_cast<double>(aRect.Height));
    if (aRect.FillColor) {
      SetColor(fCairo, *aRect.FillColor);
      cairo_fill_preserve(fCairo);
    }
    if (aRect.PenWidth > 0) {
      cairo_set_line_width(fCairo, static_cast<double>(aRect.PenWidth));
      SetColor(fCairo, aRect.PenColor);
      cairo_stroke(fCairo);
    }
    cairo_new_path(fCairo);
  }

  void Draw(const ArchiveImage& aImage) {
    cairo_surface_t* surface = DecodeImage(aImage, fVector);
    if (!surface) {
      const Micro pen = FromPoints(0.5);
      Draw(ArchiveRect{aImage.X, aImage.Y, aImage.Width, aImage.Height, pen, 0x808080, std::nullopt});
      Draw(ArchiveLine{aImage.X, aImage.Y, aImage.X + aImage.Width, aImage.Y + aImage.Height, pen, 0x808080});
      Draw(ArchiveLine{aImage.X, aImage.Y + aImage.Height, aImage.X + aImage.Width, aImage.Y, pen, 0x808080});
      return;
    }
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    if (width > 0 && height > 0 && aImage.Width > 0 && aImage.Height > 0) {
      cairo_save(fCairo);
      cairo_translate(fCairo, static_cast<double>(aImage.X), static_cast<double>(aImage.Y));
      cairo_scale(fCairo, static_cast<double>(aImage.Width) / width, static_cast<double>(aImage.Height) / height);
      cairo_set_source_surface(fCairo, surface, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(fCairo), CAIRO_FILTER_GOOD);
      cairo_paint(fCairo);
      cairo_restore(fCairo);
    }
    cairo_surface_destroy(surface);
  }

  cairo_t* fCairo;
  bool fVector;
  Pango::GObjectPtr<PangoContext> fContext;
};

cairo_status_t WriteToStream(void* aClosure, const unsigned char* aData, unsigned int aLength) {
  auto* stream = static_cast<std::ostream*>(aClosure);
  stream->write(reinterpret_cast<const char*>(aData), aLength);
  return *stream ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

double PointsOf(Micro aValue) {
  return ToPoints(aValue);
}

}  // namespace

void RenderPdf(const ArchiveDocument& aDocument, std::ostream& aOutput, const TRenderProgress& aProgress) {
  if (aDocument.PageWidth <= 0 || aDocument.PageHeight <= 0)
    throw std::runtime_error("report renderer: no page size");
  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(WriteToStream, &aOutput, PointsOf(aDocument.PageWidth),
                                                                 PointsOf(aDocument.PageHeight));
  cairo_t* cr = cairo_create(surface);
  {
    // Coordinates in micrometres from here on.
    cairo_scale(cr, 72.0 / kMicroPerInch, 72.0 / kMicroPerInch);
    TPainter painter(cr, true);
    for (std::size_t i = 0; i < aDocument.Pages.size(); ++i) {
      painter.Page(aDocument.Pages[i]);
      cairo_show_page(cr);
      if (aProgress)
        aProgress(i + 1, aDocument.Pages.size());
    }
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  aOutput.flush();
  if (status != CAIRO_STATUS_SUCCESS || !aOutput) {
    throw std::runtime_error(std::string("report renderer: writing the PDF failed: ") + cairo_status_to_string(status));
  }
}

void RenderPdfFile(const ArchiveDocument& aDocument, const std::string& aPath, const TRenderProgress& aProgress) {
  std::ofstream file(aPath, std::ios::binary | std::ios::trunc);
  if (!file)
    throw std::runtime_error("report renderer: cannot create '" + aPath + "'");
  RenderPdf(aDocument, file, aProgress);
}

void RenderPngFile(const ArchiveDocument& aDocument, std::size_t aPage, double aDpi, const std::string& aPath) {
  if (aPage >= aDocument.Pages.size())
    throw std::runtime_error("report renderer: no page " + std::to_string(aPage + 1));
  if (!(aDpi >= 1 && aDpi <= 2400))
    throw std::runtime_error("report renderer: resolution must be 1..2400 dpi");
  const double scale = aDpi / kMicroPerInch;
  const int width = std::max(1, static_cast<int>(std::lround(aDocument.PageWidth * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(aDocument.PageHeight * scale)));
  if (static_cast<double>(width) * height > 400.0 * 1024 * 1024) {
    throw std::runtime_error("report renderer: page too large at this resolution");
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, scale, scale);
  {
    TPainter painter(cr, false);
    painter.Page(aDocument.Pages[aPage]);
  }
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, aPath.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("report renderer: cannot write '" + aPath + "': " + cairo_status_to_string(status));
  }
}

}  // namespace Platform::Report
