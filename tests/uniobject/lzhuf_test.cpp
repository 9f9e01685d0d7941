#include "uniobject/lzhuf.h"

#include <gtest/gtest.h>

#include <random>

#include "uniobject/settings.h"

namespace UniObject::Lzhuf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A one-byte stream worked out by hand from the published description of the coder:
// the initial tree joins the 314 leaves (nodes 0..313) and then the internal nodes
// pairwise in order, so the parent of node k is 314 + k / 2, and the root is node 626.
// The literal 'A' (65) sits at leaf 65; the path to the root visits 65, 346, 487, 557,
// 592, 610, 619, 623, 625, and the bit of each node is its oddness: 1 0 1 1 0 0 1 1 1
// from the leaf up. Sent root first that is 1 1 1 0 0 1 1 0 1, which the final byte pads
// with zeros: 1110 0110 1000 0000 = E6 80.
TEST(Lzhuf, HandDerivedSingleLiteral) {
  const Bytes source{'A'};
  const Bytes coded{0xE6, 0x80};
  EXPECT_EQ(Encode(source), coded);
  EXPECT_EQ(Decode(coded, 1), source);
  EXPECT_TRUE(Encode({}).empty());
  EXPECT_TRUE(Decode({}, 0).empty());
}

TEST(Lzhuf, RoundTripOfMixedData) {
  std::mt19937 random(11);
  for (std::size_t size : {2u, 61u, 4096u, 5000u, 70000u, 300000u}) {
    Bytes source(size);
    for (std::size_t i = 0; i < size; ++i)
      source[i] = (i / 700) % 3 == 0 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>('a' + i % 7);
    const Bytes coded = Encode(source);
    EXPECT_EQ(Decode(coded, size), source) << size;
  }
  // Long runs of one byte drive the frequencies to the rebuild of the tree.
  const Bytes same(200000, ' ');
  const Bytes coded = Encode(same);
  EXPECT_LT(coded.size(), same.size() / 20);
  EXPECT_EQ(Decode(coded, same.size()), same);
}

TEST(Lzhuf, StreamEndingEarlyIsRefused) {
  const Bytes coded = Encode(Bytes(1000, 'x'));
  EXPECT_THROW(Decode(coded, 100000), EUniListReadError);
  EXPECT_THROW(Decode({}, 1), EUniListReadError);
}

}  // namespace
}  // namespace UniObject::Lzhuf
