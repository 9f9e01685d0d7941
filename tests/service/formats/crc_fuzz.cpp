// The bulk checksum path (folding or slicing) against the byte-wise table rule, for any
// data, start offset and start register.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "service/formats/crc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  if (aSize < 5)
    return 0;
  std::uint32_t start;
  std::memcpy(&start, aData, 4);
  const std::size_t offset = aData[4] % 16;
  if (aSize < 5 + offset)
    return 0;
  const std::uint8_t* data = aData + 5 + offset;
  const std::size_t size = aSize - 5 - offset;

  Update::Service::TCalcStreamCRC crc;
  crc.SetCRC(start);
  crc.Update(data, size);
  std::uint32_t reference = start;
  for (std::size_t i = 0; i < size; ++i)
    reference = crc.Table()[(reference ^ data[i]) & 0xFF] ^ (reference >> 8);
  if (crc.CRC() != reference)
    std::abort();
  return 0;
}
