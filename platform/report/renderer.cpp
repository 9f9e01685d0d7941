#include "platform/report/renderer.h"

#include <cairo-pdf.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <fstream>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "platform/report/pango_support.h"
#include "platform/report/pixbuf_support.h"

namespace Platform::Report {

namespace {

void SetColor(cairo_t* aCairo, std::uint32_t aColor) {
  cairo_set_source_rgb(aCairo, ((aColor >> 16) & 0xFF) / 255.0, ((aColor >> 8) & 0xFF) / 255.0,
                       (aColor & 0xFF) / 255.0);
}

// Decodes PNG or JPEG bytes into a cairo image surface (nullptr when undecodable).
cairo_surface_t* DecodeImage(const ArchiveImage& aImage, bool aKeepJpeg) {
  const auto loaded = Pixbuf::Load(aImage.Bytes);
  GdkPixbuf* pixbuf = loaded.get();
  cairo_surface_t* surface = nullptr;
  if (pixbuf && gdk_pixbuf_get_bits_per_sample(pixbuf) == 8) {
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
  return surface;
}

class TPainter {
 public:
  TPainter(cairo_t* aCairo, bool aVectorOutput) : fCairo(aCairo), fVector(aVectorOutput) {
    fContext.reset(pango_font_map_create_context(Pango::ThreadFontMap()));
    Pango::SetUnhinted(fContext.get());
    fLayout.reset(pango_layout_new(fContext.get()));
  }
  ~TPainter() {
    for (auto& [key, image] : fImages) {
      if (image.Surface)
        cairo_surface_destroy(image.Surface);
    }
  }
  TPainter(const TPainter&) = delete;
  TPainter& operator=(const TPainter&) = delete;

  void Page(const ArchivePage& aPage) {
    pango_cairo_update_context(fCairo, fContext.get());
    pango_layout_context_changed(fLayout.get());
    for (const auto& item : aPage.Items)
      std::visit([this](const auto& aValue) { Draw(aValue); }, item);
  }

 private:
  void Draw(const ArchiveText& aText) {
    // One layout for all runs; only its font and text change.
    PangoLayout* layout = fLayout.get();
    if (!fFont || !(fFontStyle == aText.Style)) {
      fFont = Pango::MakeFontDescription(aText.Style);
      fFontStyle = aText.Style;
      pango_layout_set_font_description(layout, fFont.get());
    }
    pango_layout_set_text(layout, aText.Text.data(), static_cast<int>(aText.Text.size()));
    const double baseline = static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    SetColor(fCairo, aText.Style.Color);
    cairo_move_to(fCairo, static_cast<double>(aText.X), static_cast<double>(aText.Top + aText.Baseline) - baseline);
    pango_cairo_show_layout(fCairo, layout);
    // Decorations in proportions of the font size (close to Liberation Sans' own).
    const double size = static_cast<double>(FromPoints(aText.Style.SizePt));
    const double baselineY = static_cast<double>(aText.Top + aText.Baseline);
    auto rule = [this, &aText, size](double aY) {
      cairo_rectangle(fCairo, static_cast<double>(aText.X), aY, static_cast<double>(aText.Width), size * 0.07);
      cairo_fill(fCairo);
    };
    if (aText.Style.Underline)
      rule(baselineY + size * 0.1);
    if (aText.Style.Strike)
      rule(baselineY - size * 0.3);
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

  // Decoded once per document: a logo on every page is one picture in the PDF.
  cairo_surface_t* Surface(const ArchiveImage& aImage) {
    const std::string_view bytes(reinterpret_cast<const char*>(aImage.Bytes.data()), aImage.Bytes.size());
    const auto key = std::make_pair(std::hash<std::string_view>{}(bytes), aImage.Bytes.size());
    auto it = fImages.find(key);
    if (it == fImages.end() || it->second.Bytes != aImage.Bytes) {
      cairo_surface_t* surface = DecodeImage(aImage, fVector);
      if (it != fImages.end() && it->second.Surface)
        cairo_surface_destroy(it->second.Surface);
      fImages[key] = TCachedImage{aImage.Bytes, surface};
      return surface;
    }
    return it->second.Surface;
  }

  void Draw(const ArchiveImage& aImage) {
    cairo_surface_t* surface = Surface(aImage);
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
      cairo_pattern_set_filter(cairo_get_source(fCairo), CAIRO_FILTER_BILINEAR);
      cairo_paint(fCairo);
      cairo_restore(fCairo);
    }
  }

  struct TCachedImage {
    std::vector<std::uint8_t> Bytes;
    cairo_surface_t* Surface = nullptr;
  };

  cairo_t* fCairo;
  bool fVector;
  Pango::GObjectPtr<PangoContext> fContext;
  Pango::GObjectPtr<PangoLayout> fLayout;
  Pango::FontDescriptionPtr fFont;
  TextStyle fFontStyle;
  std::map<std::pair<std::size_t, std::size_t>, TCachedImage> fImages;
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
