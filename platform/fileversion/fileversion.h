#pragma once

// File version of our programs and libraries. The build stamps every executable and
// shared object with an ELF note in the section ".note.quorvane.version" (owner
// "Quorvane", type 1, descriptor: four little-endian 16-bit numbers major, minor,
// release, build). This layer reads that note back; it stands in for the version
// resource of the Windows side.
//
// Contract: any file may be passed. A file that cannot be opened, is not ELF, is ELF
// of another byte order, is damaged (truncated, offsets out of range) or carries no
// such note gives std::nullopt; the reader never throws and never reads outside the
// file. Thread-safe (no shared state).

#include <cstdint>
#include <optional>
#include <string>

namespace Platform {

struct TFileVersionNumbers {
  std::uint16_t Major = 0;
  std::uint16_t Minor = 0;
  std::uint16_t Release = 0;
  std::uint16_t Build = 0;

  friend bool operator==(const TFileVersionNumbers&, const TFileVersionNumbers&) = default;
};

// The stamped version of the ELF file at aPath (ELF64 and ELF32, little-endian).
std::optional<TFileVersionNumbers> GetFileVersion(const std::string& aPath);

}  // namespace Platform
