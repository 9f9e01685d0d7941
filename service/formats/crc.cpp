#include "service/formats/crc.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "service/host/log.h"

namespace Update::Service {

namespace {

constexpr std::size_t kSlices = 16;

std::uint32_t Load32(const unsigned char* aData) {
  std::uint32_t value;
  std::memcpy(&value, aData, sizeof value);
  if constexpr (std::endian::native == std::endian::big)
    value = __builtin_bswap32(value);
  return value;
}

int Percentage(std::streamoff aDone, std::streamoff aTotal) {
  if (aTotal <= 0)
    return 100;
  const double percent = std::round(static_cast<double>(aDone) * 100.0 / static_cast<double>(aTotal));
  return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

}  // namespace

// Slice k maps a byte to its contribution after k further zero bytes; slice 0 is the
// byte-wise table.
struct TCalcStreamCRC::TTables {
  std::array<std::array<std::uint32_t, 256>, kSlices> Slice;

  explicit TTables(std::uint32_t aPoly) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit)
        c = (c & 1) != 0 ? (c >> 1) ^ aPoly : c >> 1;
      Slice[0][i] = c;
    }
    for (std::size_t k = 1; k < kSlices; ++k)
      for (std::size_t i = 0; i < 256; ++i)
        Slice[k][i] = (Slice[k - 1][i] >> 8) ^ Slice[0][Slice[k - 1][i] & 0xFF];
  }
};

TCalcStreamCRC::TCalcStreamCRC() : fTables(std::make_unique<TTables>(DefaultPoly)) {}

TCalcStreamCRC::~TCalcStreamCRC() = default;

void TCalcStreamCRC::Reset() {
  fCRC = StartValue;
}

void TCalcStreamCRC::SetBinStream(std::istream* aStream) {
  if (aStream != fBinStream)
    Reset();
  fBinStream = aStream;
}

void TCalcStreamCRC::SetCRCPoly(std::uint32_t aPoly) {
  if (aPoly == fCRCPoly)
    return;
  fTables = std::make_unique<TTables>(aPoly);
  fCRCPoly = aPoly;
}

const std::array<std::uint32_t, 256>& TCalcStreamCRC::Table() const {
  return fTables->Slice[0];
}

void TCalcStreamCRC::Update(const void* aData, std::size_t aSize) {
  const auto& t = fTables->Slice;
  const auto* p = static_cast<const unsigned char*>(aData);
  std::uint32_t crc = fCRC;
  for (; aSize >= kSlices; aSize -= kSlices, p += kSlices) {
    const std::uint32_t a = Load32(p) ^ crc;
    const std::uint32_t b = Load32(p + 4);
    const std::uint32_t c = Load32(p + 8);
    const std::uint32_t d = Load32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^ t[11][b & 0xFF] ^
          t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^
          t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^
          t[0][d >> 24];
  }
  for (; aSize > 0; --aSize, ++p)
    crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  fCRC = crc;
}

bool TCalcStreamCRC::Calculate() {
  return DoCalculate();
}

bool TCalcStreamCRC::CalculateFromBeginning() {
  if (fBinStream == nullptr)
    return DoCalculate();  // logs the missing stream
  fBinStream->clear();
  fBinStream->seekg(0);
  return DoCalculate();
}

bool TCalcStreamCRC::DoCalculate() {
  try {
    if (fBinStream == nullptr)
      throw std::logic_error("no stream assigned");
    std::istream& in = *fBinStream;
    in.clear();
    const std::streamoff start = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (start < 0 || size < 0 || !in)
      throw std::ios_base::failure("the stream cannot be positioned");
    fSavedPosition = start;
    in.seekg(start);
    struct TRestore {
      std::istream& Stream;
      std::streamoff Position;
      ~TRestore() {
        Stream.clear();
        Stream.seekg(Position);
      }
    } restore{in, start};

    if (fOnProgress)
      fOnProgress(*this, 0);
    std::vector<char> block(BlockSize);
    std::streamoff position = start;
    while (position < size) {
      const auto wanted = static_cast<std::streamsize>(std::min<std::streamoff>(BlockSize, size - position));
      in.read(block.data(), wanted);
      if (in.gcount() != wanted)
        throw std::ios_base::failure("read error at position " + std::to_string(position));
      Update(block.data(), static_cast<std::size_t>(wanted));
      position += wanted;
      if (fOnProgress)
        fOnProgress(*this, Percentage(position - start, size - start));
    }
    if (start >= size && fOnProgress)
      fOnProgress(*this, 100);
    return true;
  } catch (const std::exception& error) {
    LogException("TCalcStreamCRC.DoCalculate: Error " + ExceptionText(error));
    return false;
  }
}

bool TCalcStreamCRC::GetFileCrc(const std::string& aFileName, std::uint32_t& aCrc) {
  aCrc = StartValue;
  std::error_code error;
  if (!std::filesystem::is_regular_file(aFileName, error))
    return false;
  std::vector<char> buffer(FileBufferSize);
  std::ifstream file;
  file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  file.open(aFileName, std::ios::binary);
  if (!file)
    return false;
  SetBinStream(&file);
  Reset();
  const bool ok = CalculateFromBeginning();
  aCrc = fCRC;
  SetBinStream(nullptr);
  fCRC = aCrc;
  return ok;
}

}  // namespace Update::Service
