#pragma once

// Password protection of universal-list streams.
//
// Blowfish (Crypto++) keyed with the 32-byte RIPEMD-256 digest of the password in
// Windows-1252. Mode: ECB over every whole 8-byte block from the start of the stream; a
// tail of fewer than 8 bytes is left as it is. ECB keeps the cipher in place and
// length-preserving without an initial vector that the format has no room for, and lets
// the reader recognise a correct key from the first block alone (signature or packer
// identifier). It hides nothing from a determined reader of equal blocks; the format's
// password is an access check between the host's programs, not confidentiality.
//
// The older scramble, accepted when reading: every byte XOR-ed with the low byte of one
// password character (UTF-16 code unit), the character index bouncing 1, 2, ..., n,
// n-1, ..., 2, 1, 2, ...; a one-character password is extended by "*".
//
// Pure functions; thread-safe. Passwords are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace UniObject {

void BlowfishEncipher(std::vector<std::uint8_t>& aBytes, const std::string& aPassword);
void BlowfishDecipher(std::vector<std::uint8_t>& aBytes, const std::string& aPassword);
// Its own inverse.
void XorScramble(std::vector<std::uint8_t>& aBytes, const std::string& aPassword);

// The header's password check: the sum over the password's UTF-16 code units of
// (position x code unit), positions from 1, kept to 32 bits; 0 for an empty password.
std::uint32_t PasswordCheck(const std::string& aPassword);

}  // namespace UniObject
