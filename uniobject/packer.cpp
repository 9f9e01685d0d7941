#include "uniobject/packer.h"

#include <algorithm>
#include <cstring>

#include "uniobject/lzhuf.h"
#include "uniobject/lzrw1kh.h"

namespace UniObject {

namespace {

constexpr std::uint8_t kIdLzrw1kh[4] = {'W', 'R', 'Z', 'L'};
constexpr std::uint8_t kIdLzhuf[4] = {'!', 'H', 'Z', 'L'};
constexpr const char* kSizeMismatch = "Packer - Orginalgröße und gepackte Größe stimmen nicht überein!";
constexpr const char* kReadError = "Packer - Fehler beim Einlesen des Streames!";

bool StartsWith(std::span<const std::uint8_t> aBytes, const std::uint8_t (&aId)[4]) {
  return aBytes.size() >= 4 && std::memcmp(aBytes.data(), aId, 4) == 0;
}

void PutI32(std::vector<std::uint8_t>& aOut, std::uint32_t aValue) {
  for (int i = 0; i < 4; ++i)
    aOut.push_back(static_cast<std::uint8_t>(aValue >> (8 * i)));
}

std::vector<std::uint8_t> UnpackLzrw1kh(std::span<const std::uint8_t> aData, std::size_t aLength) {
  // A run item of 4 bytes yields at most 4095 bytes: no valid stream is larger than that.
  if (aLength / 1024 > aData.size())
    throw EUniListReadError(kSizeMismatch);
  std::vector<std::uint8_t> out;
  out.reserve(aLength);
  std::size_t pos = 0;
  for (;;) {
    if (aData.size() - pos < 2)
      throw EUniListReadError(kReadError);
    const std::size_t blockLength = aData[pos] | (static_cast<std::size_t>(aData[pos + 1]) << 8);
    pos += 2;
    if (blockLength > aData.size() - pos)
      throw EUniListReadError(kReadError);
    const std::size_t before = out.size();
    Lzrw1kh::DecompressBlock(aData.subspan(pos, blockLength), out);
    pos += blockLength;
    if (out.size() > aLength)
      throw EUniListReadError(kSizeMismatch);
    if (out.size() - before < Lzrw1kh::kBlockSize)
      break;
  }
  if (out.size() != aLength)
    throw EUniListReadError(kSizeMismatch);
  return out;
}

}  // namespace

bool HasPackerIdentifier(std::span<const std::uint8_t> aBytes) {
  return StartsWith(aBytes, kIdLzrw1kh) || StartsWith(aBytes, kIdLzhuf);
}

std::vector<std::uint8_t> PackStream(std::span<const std::uint8_t> aSource, TPackerMode aMode) {
  std::vector<std::uint8_t> out;
  out.reserve(aSource.size() / 2 + 16);
  const auto& id = aMode == pmLZHUF ? kIdLzhuf : kIdLzrw1kh;
  out.insert(out.end(), id, id + 4);
  PutI32(out, static_cast<std::uint32_t>(aSource.size()));
  if (aMode == pmLZHUF) {
    const auto coded = Lzhuf::Encode(aSource);
    out.insert(out.end(), coded.begin(), coded.end());
    return out;
  }
  std::size_t pos = 0;
  for (;;) {
    const std::size_t chunk = std::min(Lzrw1kh::kBlockSize, aSource.size() - pos);
    const auto block = Lzrw1kh::CompressBlock(aSource.subspan(pos, chunk));
    out.push_back(static_cast<std::uint8_t>(block.size()));
    out.push_back(static_cast<std::uint8_t>(block.size() >> 8));
    out.insert(out.end(), block.begin(), block.end());
    pos += chunk;
    // A full block is followed by another one, an empty stored block at the end.
    if (chunk < Lzrw1kh::kBlockSize)
      break;
  }
  return out;
}

std::vector<std::uint8_t> UnpackStream(std::span<const std::uint8_t> aPacked) {
  if (!HasPackerIdentifier(aPacked))
    throw EUniListReadError("Packer - Eingabestream hat ungültigen Dateibeginn!");
  if (aPacked.size() < 8)
    throw EUniListReadError(kReadError);
  const std::int32_t stored = static_cast<std::int32_t>(aPacked[4] | (aPacked[5] << 8) | (aPacked[6] << 16) |
                                                        (static_cast<std::uint32_t>(aPacked[7]) << 24));
  if (stored < 0)
    throw EUniListReadError(kSizeMismatch);
  const auto data = aPacked.subspan(8);
  const auto length = static_cast<std::size_t>(stored);
  if (StartsWith(aPacked, kIdLzrw1kh))
    return UnpackLzrw1kh(data, length);
  // Every input bit yields at most 60 bytes.
  if (length / 480 > data.size())
    throw EUniListReadError(kSizeMismatch);
  try {
    return Lzhuf::Decode(data, length);
  } catch (const EUniListReadError&) {
    throw EUniListReadError(kSizeMismatch);
  }
}

}  // namespace UniObject
