#include "common/pc1_cipher.h"

namespace Update::Common {

namespace {

// The cipher is defined on 16-bit words; products are taken modulo 2^16.
std::uint16_t Mul(std::uint16_t aLeft, std::uint16_t aRight) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(aLeft) * static_cast<std::uint32_t>(aRight));
}

}  // namespace

TPC1Cipher::TPC1Cipher(std::string_view aKey) {
  for (std::size_t i = 0; i < fKey.size(); ++i) {
    fKey[i] = i < aKey.size() ? static_cast<std::uint8_t>(aKey[i]) : static_cast<std::uint8_t>(' ');
  }
}

void TPC1Cipher::Code() {
  std::uint16_t dx = static_cast<std::uint16_t>(fX1a2 + fI);
  std::uint16_t ax = fX1a0[fI];
  std::uint16_t cx = 0x015a;
  const std::uint16_t bx = 0x4e35;

  std::uint16_t tmp = ax;
  ax = fSi;
  fSi = tmp;

  tmp = ax;
  ax = dx;
  dx = tmp;

  if (ax != 0) {
    ax = Mul(ax, bx);
  }

  tmp = ax;
  ax = cx;
  cx = tmp;

  if (ax != 0) {
    ax = Mul(ax, fSi);
    cx = static_cast<std::uint16_t>(ax + cx);
  }

  tmp = ax;
  ax = fSi;
  fSi = tmp;
  ax = Mul(ax, bx);
  dx = static_cast<std::uint16_t>(cx + dx);

  ax = static_cast<std::uint16_t>(ax + 1);

  fX1a2 = dx;
  fX1a0[fI] = ax;

  fRes = ax ^ dx;
  fI = static_cast<std::uint16_t>(fI + 1);
}

std::uint8_t TPC1Cipher::NextKeyByte() {
  fI = 0;
  std::uint16_t inter = 0;
  for (std::size_t word = 0; word < 8; ++word) {
    std::uint16_t keyWord = static_cast<std::uint16_t>(fKey[2 * word] * 256 + fKey[2 * word + 1]);
    fX1a0[word] = word == 0 ? keyWord : static_cast<std::uint16_t>(fX1a0[word - 1] ^ keyWord);
    Code();
    inter = word == 0 ? fRes : static_cast<std::uint16_t>(inter ^ fRes);
  }
  std::uint8_t cfc = static_cast<std::uint8_t>(inter >> 8);
  std::uint8_t cfd = static_cast<std::uint8_t>(inter & 0xff);
  return cfc ^ cfd;
}

void TPC1Cipher::MixKey(std::uint8_t aPlain) {
  for (std::uint8_t& keyByte : fKey) {
    keyByte ^= aPlain;
  }
}

std::uint8_t TPC1Cipher::EncryptByte(std::uint8_t aPlain) {
  std::uint8_t stream = NextKeyByte();
  MixKey(aPlain);
  return aPlain ^ stream;
}

std::uint8_t TPC1Cipher::DecryptByte(std::uint8_t aCipher) {
  std::uint8_t plain = aCipher ^ NextKeyByte();
  MixKey(plain);
  return plain;
}

std::string TPC1Cipher::Encrypt(std::string_view aPlain) {
  std::string result;
  result.reserve(aPlain.size());
  for (char c : aPlain) {
    result.push_back(static_cast<char>(EncryptByte(static_cast<std::uint8_t>(c))));
  }
  return result;
}

std::string TPC1Cipher::Decrypt(std::string_view aCipher) {
  std::string result;
  result.reserve(aCipher.size());
  for (char c : aCipher) {
    result.push_back(static_cast<char>(DecryptByte(static_cast<std::uint8_t>(c))));
  }
  return result;
}

}  // namespace Update::Common
