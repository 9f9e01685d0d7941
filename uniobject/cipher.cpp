#include "uniobject/cipher.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/ripemd.h>

#include "platform/text/text.h"

namespace UniObject {

namespace {

template <typename TCipher>
void ProcessBlocks(std::vector<std::uint8_t>& aBytes, const std::string& aPassword) {
  const std::string key = Platform::Text::Utf8ToCp1252(aPassword);
  CryptoPP::RIPEMD256 digest;
  CryptoPP::byte keyBytes[CryptoPP::RIPEMD256::DIGESTSIZE];
  digest.CalculateDigest(keyBytes, reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
  TCipher cipher(keyBytes, sizeof(keyBytes));
  const std::size_t whole = aBytes.size() / CryptoPP::Blowfish::BLOCKSIZE * CryptoPP::Blowfish::BLOCKSIZE;
  for (std::size_t i = 0; i < whole; i += CryptoPP::Blowfish::BLOCKSIZE)
    cipher.ProcessBlock(aBytes.data() + i);
}

}  // namespace

void BlowfishEncipher(std::vector<std::uint8_t>& aBytes, const std::string& aPassword) {
  ProcessBlocks<CryptoPP::BlowfishEncryption>(aBytes, aPassword);
}

void BlowfishDecipher(std::vector<std::uint8_t>& aBytes, const std::string& aPassword) {
  ProcessBlocks<CryptoPP::BlowfishDecryption>(aBytes, aPassword);
}

void XorScramble(std::vector<std::uint8_t>& aBytes, const std::string& aPassword) {
  std::u16string units = Platform::Text::Utf8ToUtf16(aPassword);
  if (units.empty())
    return;
  if (units.size() == 1)
    units.push_back(u'*');
  const std::size_t n = units.size();
  std::size_t index = 0;  // 0-based: 0, 1, ..., n-1, n-2, ..., 0, 1, ...
  bool up = true;
  for (auto& byte : aBytes) {
    byte ^= static_cast<std::uint8_t>(units[index]);
    if (up) {
      if (index + 1 == n) {
        up = false;
        --index;
      } else {
        ++index;
      }
    } else {
      if (index == 0) {
        up = true;
        ++index;
      } else {
        --index;
      }
    }
  }
}

std::uint32_t PasswordCheck(const std::string& aPassword) {
  const std::u16string units = Platform::Text::Utf8ToUtf16(aPassword);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < units.size(); ++i)
    sum += static_cast<std::uint32_t>(i + 1) * units[i];
  return sum;
}

}  // namespace UniObject
