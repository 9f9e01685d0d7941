#include "uniobject/lzrw1kh.h"

#include <array>
#include <cstring>

#include "uniobject/settings.h"

namespace UniObject::Lzrw1kh {

namespace {

constexpr std::size_t kMaxRun = 0xFFF;
constexpr std::size_t kMaxMatch = 18;
constexpr std::size_t kWindow = 4096;

[[noreturn]] void BadBlock() {
  throw EUniListReadError("Packer - Fehler beim Einlesen des Streames!");
}

}  // namespace

std::vector<std::uint8_t> CompressBlock(std::span<const std::uint8_t> aSource) {
  const std::uint8_t* source = aSource.data();
  const std::size_t size = aSource.size();
  // One step adds at most a control word and a 4-byte run past the limit checked below.
  std::vector<std::uint8_t> dest(size + 8);
  std::array<std::int32_t, 4096> hash;
  hash.fill(-1);

  dest[0] = kFlagCompressed;
  std::size_t x = 0;
  std::size_t y = 3;
  std::size_t z = 1;  // where the current control word goes
  unsigned bit = 0;
  std::uint16_t command = 0;
  while (x < size && y <= size) {
    if (bit > 15) {
      dest[z] = static_cast<std::uint8_t>(command >> 8);
      dest[z + 1] = static_cast<std::uint8_t>(command);
      z = y;
      bit = 0;
      y += 2;
    }
    std::size_t run = 1;
    while (x + run < size && run < kMaxRun && source[x] == source[x + run])
      ++run;
    if (run >= 16) {
      dest[y] = 0;
      dest[y + 1] = static_cast<std::uint8_t>((run - 16) >> 8);
      dest[y + 2] = static_cast<std::uint8_t>(run - 16);
      dest[y + 3] = source[x];
      y += 4;
      x += run;
      command = static_cast<std::uint16_t>((command << 1) + 1);
    } else {
      bool matched = false;
      std::size_t length = 0;
      std::size_t position = 0;
      // The hash looks at three bytes; the last two bytes of a block are always literals.
      if (x + 2 < size) {
        const unsigned key =
            ((40543u * ((((static_cast<unsigned>(source[x]) << 4) ^ source[x + 1]) << 4) ^ source[x + 2])) >> 4) &
            0x0FFF;
        const std::int32_t candidate = hash[key];
        if (candidate != -1 && x - static_cast<std::size_t>(candidate) < kWindow) {
          position = static_cast<std::size_t>(candidate);
          while (length < kMaxMatch && x + length < size && source[x + length] == source[position + length])
            ++length;
          matched = length >= 3;
        }
        hash[key] = static_cast<std::int32_t>(x);
      }
      if (matched) {
        const unsigned item = static_cast<unsigned>(((x - position) << 4) + (length - 3));
        dest[y] = static_cast<std::uint8_t>(item >> 8);
        dest[y + 1] = static_cast<std::uint8_t>(item);
        y += 2;
        x += length;
        command = static_cast<std::uint16_t>((command << 1) + 1);
      } else {
        dest[y] = source[x];
        ++y;
        ++x;
        command = static_cast<std::uint16_t>(command << 1);
      }
    }
    ++bit;
  }
  command = static_cast<std::uint16_t>(command << (16 - bit));
  dest[z] = static_cast<std::uint8_t>(command >> 8);
  dest[z + 1] = static_cast<std::uint8_t>(command);
  if (y > size) {
    dest[0] = kFlagCopied;
    if (size > 0)
      std::memcpy(dest.data() + 1, source, size);
    y = size + 1;
  }
  dest.resize(y);
  return dest;
}

void DecompressBlock(std::span<const std::uint8_t> aBlock, std::vector<std::uint8_t>& aTarget) {
  if (aBlock.empty())
    BadBlock();
  const std::uint8_t* source = aBlock.data();
  const std::size_t size = aBlock.size();
  if (source[0] == kFlagCopied) {
    if (size - 1 > kBlockSize)
      BadBlock();
    aTarget.insert(aTarget.end(), source + 1, source + size);
    return;
  }
  if (source[0] != kFlagCompressed || size < 3)
    BadBlock();
  const std::size_t start = aTarget.size();
  aTarget.resize(start + kBlockSize);
  std::uint8_t* dest = aTarget.data() + start;
  std::size_t y = 0;
  std::size_t x = 3;
  unsigned command = (static_cast<unsigned>(source[1]) << 8) + source[2];
  unsigned bit = 16;
  while (x < size) {
    if (bit == 0) {
      if (x + 2 > size)
        BadBlock();
      command = (static_cast<unsigned>(source[x]) << 8) + source[x + 1];
      bit = 16;
      x += 2;
      if (x >= size)
        break;  // a trailing control word without items
    }
    if ((command & 0x8000) == 0) {
      if (y >= kBlockSize)
        BadBlock();
      dest[y++] = source[x++];
    } else {
      if (x + 2 > size)
        BadBlock();
      const std::size_t distance = (static_cast<std::size_t>(source[x]) << 4) + (source[x + 1] >> 4);
      if (distance == 0) {
        if (x + 4 > size)
          BadBlock();
        const std::size_t run = (static_cast<std::size_t>(source[x + 1]) << 8) + source[x + 2] + 16;
        if (y + run > kBlockSize)
          BadBlock();
        std::memset(dest + y, source[x + 3], run);
        x += 4;
        y += run;
      } else {
        const std::size_t length = (source[x + 1] & 0x0F) + 3u;
        if (distance > y || y + length > kBlockSize)
          BadBlock();
        // Byte by byte: the copy may overlap the bytes it produces.
        for (std::size_t k = 0; k < length; ++k)
          dest[y + k] = dest[y - distance + k];
        x += 2;
        y += length;
      }
    }
    command <<= 1;
    --bit;
  }
  aTarget.resize(start + y);
}

}  // namespace UniObject::Lzrw1kh
