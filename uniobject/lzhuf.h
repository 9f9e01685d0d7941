#pragma once

// LZHUF coder, written from the published algorithm: LZSS over a 4096-byte ring buffer
// (the first 4036 bytes start as blanks, look-ahead 60, matches of 3 bytes and more) whose
// literals and match lengths are coded with an adaptive Huffman code over 314 symbols and
// whose match positions are coded with the fixed position table (upper 6 bits by table,
// lower 6 bits verbatim). Bits are packed from the most significant bit down; the last
// byte is padded with zero bits. The stream carries no length of its own: the caller
// stores the source length beside it.
//
// Pure functions; thread-safe.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace UniObject::Lzhuf {

std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> aSource);

// Decodes exactly aOriginalLength bytes. A bit stream that ends before that many bytes are
// decoded throws EUniListReadError ("Packer - ..."); the output grows only as bytes are
// decoded, so a lying length cannot cause a large allocation up front.
std::vector<std::uint8_t> Decode(std::span<const std::uint8_t> aSource, std::size_t aOriginalLength);

}  // namespace UniObject::Lzhuf
