#pragma once

// The packed form of a universal-list stream: a 4-byte packer identifier ("WRZL" for
// LZRW1/KH, "!HZL" for LZHUF), the unpacked length as int32, then the packed data
// (LZRW1/KH: blocks of a uint16 length and one block of at most 32768 source bytes, the
// first block holding fewer being the last; LZHUF: one bit stream).
//
// Pure functions; thread-safe. Failures throw EUniListReadError with the packer's own
// "Packer - ..." texts.

#include <cstdint>
#include <span>
#include <vector>

#include "uniobject/settings.h"

namespace UniObject {

// True when the bytes start with one of the two packer identifiers.
bool HasPackerIdentifier(std::span<const std::uint8_t> aBytes);

std::vector<std::uint8_t> PackStream(std::span<const std::uint8_t> aSource, TPackerMode aMode);

// Unpacks a packed stream. The result never grows beyond the stored unpacked length, and a
// stored length that the packed data cannot hold is refused before anything is allocated.
std::vector<std::uint8_t> UnpackStream(std::span<const std::uint8_t> aPacked);

}  // namespace UniObject
