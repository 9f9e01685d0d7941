// Turns the stored bytes of a picture (BMP, JPEG, ICO, PNG, WMF, EMF) into the PNG or
// JPEG bytes an archive carries, with the picture's size in pixels. JPEG and PNG pass
// through unchanged; BMP, ICO and WMF are decoded by gdk-pixbuf (WMF through libwmf's
// loader) and re-encoded as PNG; EMF is converted to SVG by libemf2svg and drawn by
// librsvg. Thread-compatible; no global state besides the libraries' own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/report/archive.h"
#include "platform/report/model.h"

namespace Platform::Report {

struct DecodedPicture {
  ImageFormat Format = ImageFormat::ifPNG;
  std::vector<std::uint8_t> Bytes;
  int PixelWidth = 0;
  int PixelHeight = 0;
};

// nullopt when the bytes are empty or no decoder accepts them.
std::optional<DecodedPicture> DecodePicture(const Picture& aPicture);

}  // namespace Platform::Report
