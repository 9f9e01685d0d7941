#include "uniobject/lzrw1kh.h"

#include <gtest/gtest.h>

#include <random>

#include "uniobject/settings.h"

namespace UniObject::Lzrw1kh {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(const std::string& aText) {
  return Bytes(aText.begin(), aText.end());
}

Bytes Decompress(const Bytes& aBlock) {
  Bytes out;
  DecompressBlock(aBlock, out);
  return out;
}

// Blocks worked out by hand from the published description of the coder, not by running
// it:
//  - "abcabcabc": a, b, c are literals (their three-byte hashes are new); at offset 3 the
//    hash of "abc" finds offset 0, distance 3, and the match runs to the end: length 6,
//    item (3 << 4) | (6 - 3) = 0x0033. Control bits 0001 then padding: 0x1000.
//  - twenty 'a': the run check at offset 0 counts 20 equal bytes (>= 16): run item
//    00, (20 - 16) as big-endian 00 04, then the byte 0x61. Control bit 1: 0x8000.
//  - "ab": two literals would need 1 + 2 + 2 = 5 bytes > 2: stored, 0x80 then the bytes.
//  - nothing: stored, the single flag byte 0x80.
struct TVector {
  const char* Name;
  Bytes Source;
  Bytes Block;
};

std::vector<TVector> HandVectors() {
  return {
      {"matches", FromText("abcabcabc"), {0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x33}},
      {"run", Bytes(20, 'a'), {0x40, 0x80, 0x00, 0x00, 0x00, 0x04, 'a'}},
      {"stored", FromText("ab"), {0x80, 'a', 'b'}},
      {"empty", {}, {0x80}},
  };
}

TEST(Lzrw1kh, HandDerivedBlocks) {
  for (const auto& vector : HandVectors()) {
    SCOPED_TRACE(vector.Name);
    EXPECT_EQ(CompressBlock(vector.Source), vector.Block);
    EXPECT_EQ(Decompress(vector.Block), vector.Source);
  }
}

TEST(Lzrw1kh, RoundTripOfMixedData) {
  std::mt19937 random(7);
  for (std::size_t size : {1u, 3u, 17u, 4095u, 4097u, 20000u, 32768u}) {
    Bytes source(size);
    for (std::size_t i = 0; i < size; ++i)
      source[i] = (i / 512) % 2 ? static_cast<std::uint8_t>(random() % 4) : static_cast<std::uint8_t>(random());
    const Bytes block = CompressBlock(source);
    EXPECT_LE(block.size(), size + 1);
    EXPECT_EQ(Decompress(block), source) << size;
  }
}

TEST(Lzrw1kh, MalformedBlocksAreRefused) {
  const std::vector<Bytes> bad = {
      {},                                      // no flag
      {0x41, 0, 0},                            // unknown flag
      {0x40, 0x80, 0x00, 0x00, 0x10},          // copy item cut short
      {0x40, 0x80, 0x00, 0x01, 0x03},          // distance 16 before any output
      {0x40, 0x80, 0x00, 0x00, 0x7F, 0xFF},    // run item cut short
      {0x40, 0xFF, 0xFF, 0x00, 0x7F, 0xF0, 1,  // runs beyond 32768 bytes
       0x00, 0x7F, 0xF0, 1,    0x00, 0x7F, 0xF0, 1, 0x00, 0x7F, 0xF0, 1, 0x00, 0x7F, 0xF0, 1,
       0x00, 0x7F, 0xF0, 1,    0x00, 0x7F, 0xF0, 1, 0x00, 0x7F, 0xF0, 1, 0x00, 0x7F, 0xF0, 1},
  };
  for (const auto& block : bad) {
    Bytes out;
    EXPECT_THROW(DecompressBlock(block, out), EUniListReadError) << block.size();
  }
}

}  // namespace
}  // namespace UniObject::Lzrw1kh
