#include "uniobject/cipher.h"

#include <gtest/gtest.h>

namespace UniObject {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Cipher, BlowfishWholeBlocksAndTailUntouched) {
  Bytes data(21);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i);
  Bytes enciphered = data;
  BlowfishEncipher(enciphered, "Geheim");
  EXPECT_NE(Bytes(enciphered.begin(), enciphered.begin() + 16), Bytes(data.begin(), data.begin() + 16));
  EXPECT_EQ(Bytes(enciphered.begin() + 16, enciphered.end()), Bytes(data.begin() + 16, data.end()));
  Bytes other = data;
  BlowfishEncipher(other, "geheim");
  EXPECT_NE(other, enciphered);
  BlowfishDecipher(enciphered, "Geheim");
  EXPECT_EQ(enciphered, data);
}

TEST(Cipher, XorScrambleBouncesOverThePassword) {
  // "abc": characters 1, 2, 3, 2, 1, 2, 3 ...
  Bytes zeros(7, 0);
  XorScramble(zeros, "abc");
  EXPECT_EQ(zeros, (Bytes{'a', 'b', 'c', 'b', 'a', 'b', 'c'}));
  // One character is extended by "*".
  Bytes single(4, 0);
  XorScramble(single, "x");
  EXPECT_EQ(single, (Bytes{'x', '*', 'x', '*'}));
  XorScramble(single, "x");
  EXPECT_EQ(single, Bytes(4, 0));
}

TEST(Cipher, PasswordCheckWeighsUtf16Units) {
  EXPECT_EQ(PasswordCheck(""), 0u);
  EXPECT_EQ(PasswordCheck("ab"), 1u * 'a' + 2u * 'b');
  EXPECT_EQ(PasswordCheck("ä€"), 1u * 0xE4 + 2u * 0x20AC);
}

}  // namespace
}  // namespace UniObject
