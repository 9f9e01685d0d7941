#include "uniobject/packer.h"

#include <gtest/gtest.h>

#include <random>

#include "uniobject/lzrw1kh.h"

namespace UniObject {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Noise(std::size_t aSize) {
  std::mt19937 random(3);
  Bytes bytes(aSize);
  for (auto& byte : bytes)
    byte = static_cast<std::uint8_t>(random());
  return bytes;
}

TEST(Packer, FullBlockIsFollowedByEmptyStoredBlock) {
  const Bytes source = Noise(32768);
  const Bytes packed = PackStream(source, pmLZRW1KH);
  ASSERT_GE(packed.size(), 8u + 2 + 32769 + 2 + 1);
  EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 8), (Bytes{'W', 'R', 'Z', 'L', 0x00, 0x80, 0x00, 0x00}));
  // Noise does not code shorter: a stored block of 32769 bytes, then the one-byte block.
  EXPECT_EQ(packed[8] | (packed[9] << 8), 32769);
  EXPECT_EQ(packed[10], Lzrw1kh::kFlagCopied);
  EXPECT_EQ(Bytes(packed.end() - 3, packed.end()), (Bytes{0x01, 0x00, 0x80}));
  EXPECT_EQ(UnpackStream(packed), source);
}

TEST(Packer, RoundTripBothPackers) {
  for (TPackerMode mode : {pmLZRW1KH, pmLZHUF}) {
    for (std::size_t size : {0u, 1u, 32767u, 65536u, 100001u}) {
      Bytes source = Noise(size);
      for (std::size_t i = 0; i < size; i += 3)
        source[i] = 'q';
      const Bytes packed = PackStream(source, mode);
      EXPECT_TRUE(HasPackerIdentifier(packed));
      EXPECT_EQ(UnpackStream(packed), source) << size << " " << mode;
    }
  }
}

TEST(Packer, LyingOrBrokenStreamsAreRefused) {
  const Bytes source(5000, 'z');
  for (TPackerMode mode : {pmLZRW1KH, pmLZHUF}) {
    const Bytes packed = PackStream(source, mode);
    struct TCase {
      const char* Name;
      Bytes Stream;
      const char* Message;
    };
    Bytes longer = packed;
    longer[4] = 0x89;  // 5001
    Bytes huge = packed;
    huge[7] = 0x7F;
    Bytes negative = packed;
    negative[7] = 0xFF;
    Bytes truncated(packed.begin(), packed.end() - 1);
    const char* mismatch = "Packer - Orginalgröße und gepackte Größe stimmen nicht überein!";
    for (const auto& test : std::vector<TCase>{{"longer", longer, mismatch},
                                               {"huge", huge, mismatch},
                                               {"negative", negative, mismatch},
                                               {"truncated", truncated, nullptr},
                                               {"header only", Bytes(packed.begin(), packed.begin() + 6), nullptr}}) {
      SCOPED_TRACE(test.Name);
      try {
        UnpackStream(test.Stream);
        ADD_FAILURE() << "accepted";
      } catch (const EUniListReadError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Packer - ", 0), 0u) << text;
        if (test.Message) {
          EXPECT_EQ(text, test.Message);
        }
      }
    }
  }
  EXPECT_THROW(UnpackStream(Bytes{'X', 'Y', 'Z', 'W', 0, 0, 0, 0}), EUniListReadError);
}

}  // namespace
}  // namespace UniObject
