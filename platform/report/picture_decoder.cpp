#include "platform/report/picture_decoder.h"

#include <cairo.h>
#include <dlfcn.h>
#include <emf2svg.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <librsvg/rsvg.h>

#include "platform/report/pixbuf_support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Platform::Report {

namespace {

constexpr double kMaxVectorSide = 4096;

bool StartsWith(const Picture& aPicture, std::initializer_list<std::uint8_t> aPrefix) {
  if (aPicture.Bytes.size() < aPrefix.size())
    return false;
  return std::equal(aPrefix.begin(), aPrefix.end(), aPicture.Bytes.begin());
}

bool IsEmf(const Picture& aPicture) {
  const auto& b = aPicture.Bytes;
  return b.size() >= 88 && b[0] == 1 && b[1] == 0 && b[2] == 0 && b[3] == 0 && b[40] == ' ' && b[41] == 'E' &&
         b[42] == 'M' && b[43] == 'F';
}

std::optional<std::pair<int, int>> ProbeSize(const std::vector<std::uint8_t>& aBytes) {
  const auto pixbuf = Pixbuf::Load(aBytes);
  if (!pixbuf)
    return std::nullopt;
  return std::make_pair(gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get()));
}

std::optional<DecodedPicture> DecodeThroughPixbuf(const Picture& aPicture) {
  const auto pixbuf = Pixbuf::Load(aPicture.Bytes);
  if (!pixbuf)
    return std::nullopt;
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  std::optional<DecodedPicture> result;
  if (gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "png", &error, nullptr)) {
    result = DecodedPicture{ImageFormat::ifPNG, std::vector<std::uint8_t>(buffer, buffer + size),
                            gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get())};
    g_free(buffer);
  }
  g_clear_error(&error);
  return result;
}

cairo_status_t AppendToVector(void* aClosure, const unsigned char* aData, unsigned int aLength) {
  auto* target = static_cast<std::vector<std::uint8_t>*>(aClosure);
  target->insert(target->end(), aData, aData + aLength);
  return CAIRO_STATUS_SUCCESS;
}

// libemf2svg is opened privately (RTLD_LOCAL) instead of being linked: its libuemf
// exports functions named like libwmf's own (wmf_free, ...), and once in the global
// symbol scope they would be called by the WMF loader of gdk-pixbuf and crash it.
using TEmf2Svg = int (*)(char*, size_t, char**, size_t*, generatorOptions*);

TEmf2Svg Emf2SvgFunction() {
  static const TEmf2Svg function = [] {
    void* library = dlopen(QV_EMF2SVG_SONAME, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<TEmf2Svg>(dlsym(library, "emf2svg")) : nullptr;
  }();
  return function;
}

std::optional<DecodedPicture> DecodeEmf(const Picture& aPicture) {
  const TEmf2Svg emf2svgFunction = Emf2SvgFunction();
  if (!emf2svgFunction)
    return std::nullopt;
  generatorOptions options{};
  options.nameSpace = const_cast<char*>("svg");
  options.svgDelimiter = true;
  options.emfplus = true;
  char* svg = nullptr;
  size_t svgLength = 0;
  std::vector<char> contents(aPicture.Bytes.begin(), aPicture.Bytes.end());
  const int status = emf2svgFunction(contents.data(), contents.size(), &svg, &svgLength, &options);
  if (!status || !svg) {
    std::free(svg);
    return std::nullopt;
  }
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg), svgLength, &error);
  std::free(svg);
  if (error)
    g_clear_error(&error);
  if (!handle)
    return std::nullopt;
  gdouble width = 0;
  gdouble height = 0;
  std::optional<DecodedPicture> result;
  if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height) && width >= 1 && height >= 1) {
    const double scale = std::min(1.0, kMaxVectorSide / std::max(width, height));
    const int pixelWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int pixelHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
    cairo_t* cr = cairo_create(surface);
    const RsvgRectangle viewport{0, 0, static_cast<double>(pixelWidth), static_cast<double>(pixelHeight)};
    if (rsvg_handle_render_document(handle, cr, &viewport, &error)) {
      DecodedPicture picture{ImageFormat::ifPNG, {}, pixelWidth, pixelHeight};
      cairo_surface_flush(surface);
      if (cairo_surface_write_to_png_stream(surface, AppendToVector, &picture.Bytes) == CAIRO_STATUS_SUCCESS) {
        result = std::move(picture);
      }
    }
    if (error)
      g_clear_error(&error);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  g_object_unref(handle);
  return result;
}

}  // namespace

std::optional<DecodedPicture> DecodePicture(const Picture& aPicture) {
  if (aPicture.Empty())
    return std::nullopt;
  const bool png = StartsWith(aPicture, {0x89, 'P', 'N', 'G'});
  const bool jpeg = StartsWith(aPicture, {0xFF, 0xD8, 0xFF});
  if (png || jpeg) {
    // Carried unchanged; decoded once here to learn the size and to refuse broken files.
    auto size = ProbeSize(aPicture.Bytes);
    if (!size)
      return std::nullopt;
    return DecodedPicture{png ? ImageFormat::ifPNG : ImageFormat::ifJPEG, aPicture.Bytes, size->first, size->second};
  }
  if (IsEmf(aPicture))
    return DecodeEmf(aPicture);
  return DecodeThroughPixbuf(aPicture);  // BMP, ICO, WMF and whatever else gdk-pixbuf reads
}

}  // namespace Platform::Report
