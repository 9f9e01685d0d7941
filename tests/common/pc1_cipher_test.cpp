#include "common/pc1_cipher.h"

#include <gtest/gtest.h>

namespace Update::Common {
namespace {

std::string Hex(std::string_view aBytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (unsigned char c : aBytes) {
    result += kHex[c >> 4];
    result += kHex[c & 15];
  }
  return result;
}

// Expected ciphertexts under the key "PlaidWalrusHums!" were computed by a separate
// implementation (a Python transcription of the published C reference of PC1-128, run
// outside this code base), not by TPC1Cipher.
TEST(PC1Cipher, MatchesTheReferenceComputation) {
  struct TCase {
    const char* Plain;
    const char* Cipher;
  };
  const TCase cases[] = {
      {"proxy.local", "C55A9E3EBE67BC7EF20311"},
      {"s3cret P@ss", "C66A0686C0A4423EF1E810"},
      {"a", "D4"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Hex(TPC1Cipher("PlaidWalrusHums!").Encrypt(c.Plain)), c.Cipher) << c.Plain;
    EXPECT_EQ(TPC1Cipher("PlaidWalrusHums!").Decrypt(TPC1Cipher("PlaidWalrusHums!").Encrypt(c.Plain)), c.Plain);
  }
}

TEST(PC1Cipher, StateRunsAcrossTheMessageAndShortKeysArePadded) {
  // The same byte twice enciphers differently: the key stream depends on the plaintext.
  std::string twice = TPC1Cipher("k").Encrypt("aa");
  EXPECT_NE(twice[0], twice[1]);
  // A short key is padded with blanks.
  EXPECT_EQ(TPC1Cipher("k").Encrypt("secret"), TPC1Cipher("k               ").Encrypt("secret"));
  EXPECT_NE(TPC1Cipher("k").Encrypt("secret"), TPC1Cipher("l").Encrypt("secret"));
  // Every byte value survives.
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  EXPECT_EQ(TPC1Cipher("PlaidWalrusHums!").Decrypt(TPC1Cipher("PlaidWalrusHums!").Encrypt(all)), all);
}

}  // namespace
}  // namespace Update::Common
