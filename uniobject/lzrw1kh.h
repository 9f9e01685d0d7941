#pragma once

// LZRW1/KH block coder, written from the published algorithm: a block of at most 32768
// source bytes becomes either a coded block (flag byte 0x40, then groups of a 16-bit
// big-endian control word and up to 16 items: literal bytes, 2-byte copy items with a
// 12-bit distance and a 4-bit length - 3, or 4-byte runs of 16..4095 equal bytes) or a
// stored block (flag byte 0x80 and the source bytes) when coding would not be shorter.
//
// Pure functions; thread-safe.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace UniObject::Lzrw1kh {

inline constexpr std::size_t kBlockSize = 32768;
inline constexpr std::uint8_t kFlagCompressed = 0x40;
inline constexpr std::uint8_t kFlagCopied = 0x80;

// Codes one block (aSource.size() <= kBlockSize) and returns it.
std::vector<std::uint8_t> CompressBlock(std::span<const std::uint8_t> aSource);

// Decodes one block, appending to aTarget. Never produces more than kBlockSize bytes and
// never reads or copies outside its input or output: a malformed block throws
// EUniListReadError ("Packer - ...").
void DecompressBlock(std::span<const std::uint8_t> aBlock, std::vector<std::uint8_t>& aTarget);

}  // namespace UniObject::Lzrw1kh
