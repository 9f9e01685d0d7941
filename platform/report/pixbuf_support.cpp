#include "platform/report/pixbuf_support.h"

namespace Platform::Report::Pixbuf {

Pango::GObjectPtr<GdkPixbuf> Load(const std::vector<std::uint8_t>& aBytes) {
  Pango::GObjectPtr<GdkPixbufLoader> loader{gdk_pixbuf_loader_new()};
  GError* error = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader.get(), aBytes.data(), aBytes.size(), &error);
  g_clear_error(&error);
  ok = gdk_pixbuf_loader_close(loader.get(), &error) && ok;
  g_clear_error(&error);
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
  if (!pixbuf || static_cast<double>(gdk_pixbuf_get_width(pixbuf)) * gdk_pixbuf_get_height(pixbuf) > kMaxPixels) {
    return nullptr;
  }
  return Pango::GObjectPtr<GdkPixbuf>{static_cast<GdkPixbuf*>(g_object_ref(pixbuf))};
}

}  // namespace Platform::Report::Pixbuf
