// gdk-pixbuf loading shared by the picture decoder and the renderer. Internal to the
// report layer.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <vector>

#include "platform/report/pango_support.h"

namespace Platform::Report::Pixbuf {

// Pictures larger than this are refused rather than decoded into huge buffers.
constexpr double kMaxPixels = 64.0 * 1024 * 1024;

// Decodes file bytes in any format gdk-pixbuf reads; nullptr when it cannot or the
// picture is larger than kMaxPixels.
Pango::GObjectPtr<GdkPixbuf> Load(const std::vector<std::uint8_t>& aBytes);

}  // namespace Platform::Report::Pixbuf
