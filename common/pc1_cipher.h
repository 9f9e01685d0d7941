#pragma once

// The published PC1 byte cipher (Pukall Cipher 1) with a 128-bit key: a stream cipher
// whose key stream depends on the key and on every plaintext byte before the current
// one. One object enciphers or deciphers one message; use a fresh object per message
// and per direction.
//
// Not thread-safe (an object carries the running cipher state).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace Update::Common {

class TPC1Cipher {
 public:
  // The key's characters contribute their low bytes; a key shorter than 16 bytes is
  // padded with blanks, a longer one is cut.
  explicit TPC1Cipher(std::string_view aKey);

  std::uint8_t EncryptByte(std::uint8_t aPlain);
  std::uint8_t DecryptByte(std::uint8_t aCipher);
  std::string Encrypt(std::string_view aPlain);
  std::string Decrypt(std::string_view aCipher);

 private:
  // One round of the key schedule; returns the key-stream byte.
  std::uint8_t NextKeyByte();
  void Code();
  void MixKey(std::uint8_t aPlain);

  std::array<std::uint8_t, 16> fKey{};
  std::array<std::uint16_t, 8> fX1a0{};
  std::uint16_t fX1a2 = 0;
  std::uint16_t fSi = 0;
  std::uint16_t fI = 0;
  std::uint16_t fRes = 0;
};

}  // namespace Update::Common
