#include "service/formats/crc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "service/host/log.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define QV_CRC_FOLDING 1
#endif

namespace Update::Service {

namespace {

constexpr std::size_t kSlices = 16;
// Below this the set-up of the folding costs more than the table steps.
constexpr std::size_t kFoldMinimum = 256;
constexpr std::size_t kWideFoldMinimum = 512;

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

#if QV_CRC_FOLDING

std::uint32_t Reflect32(std::uint32_t aValue) {
  std::uint32_t result = 0;
  for (int bit = 0; bit < 32; ++bit)
    result |= ((aValue >> bit) & 1u) << (31 - bit);
  return result;
}

// (x^n mod P), bit-reflected and shifted by one: the multiplier that moves a 64-bit half
// of the register n - 32 ... n + 32 bits further along the message, in the reflected
// domain the table works in. Gives the well-known constants for 0xEDB88320.
std::uint64_t FoldConstant(std::uint32_t aReflectedPoly, int aPower) {
  const std::uint64_t poly = (std::uint64_t{1} << 32) | Reflect32(aReflectedPoly);
  std::uint64_t remainder = 1;
  for (int i = 0; i < aPower; ++i) {
    remainder <<= 1;
    if ((remainder >> 32) & 1)
      remainder ^= poly;
  }
  return std::uint64_t{Reflect32(static_cast<std::uint32_t>(remainder))} << 1;
}

bool CpuHasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return has;
}

// Carry-less multiplication on four 128-bit lanes at once (the processor and the system
// both support 512-bit registers).
bool CpuHasWideCarrylessMultiply() {
  static const bool has =
      CpuHasCarrylessMultiply() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
  return has;
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load128(const unsigned char* aData) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(aData));
}

// aValue moved along the message by the distance of aConstants, plus aNext.
__attribute__((target("pclmul,sse2"))) inline __m128i FoldStep(__m128i aValue, __m128i aConstants, __m128i aNext) {
  const __m128i low = _mm_clmulepi64_si128(aValue, aConstants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(aValue, aConstants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), aNext);
}

// The end of a fold: the remaining 16-byte blocks are folded into aValue (constants of
// the distance 128 bits), then its 128 bits go through the byte-wise table.
__attribute__((target("pclmul,sse2"))) std::uint32_t FinishFold(const std::array<std::uint32_t, 256>& aTable,
                                                                __m128i aK128, __m128i aValue,
                                                                const unsigned char*& aData, std::size_t& aSize) {
  for (; aSize >= 16; aData += 16, aSize -= 16)
    aValue = FoldStep(aValue, aK128, Load128(aData));
  alignas(16) unsigned char rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), aValue);
  std::uint32_t crc = 0;
  for (unsigned char b : rest)
    crc = aTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

// Folds 64-byte blocks with carry-less multiplication until fewer than 16 bytes remain,
// then reduces the 128-bit remainder with the byte-wise table (the remainder, taken as a
// message of its own with register 0, has the same checksum as everything folded into
// it). aSize must be at least 64.
__attribute__((target("pclmul,sse2"))) std::uint32_t Fold(const std::array<std::uint32_t, 256>& aTable,
                                                          const std::uint64_t aK[4], std::uint32_t aCrc,
                                                          const unsigned char*& aData, std::size_t& aSize) {
  const __m128i k1k2 = _mm_set_epi64x(static_cast<long long>(aK[1]), static_cast<long long>(aK[0]));
  const __m128i k3k4 = _mm_set_epi64x(static_cast<long long>(aK[3]), static_cast<long long>(aK[2]));
  __m128i x1 = _mm_xor_si128(Load128(aData), _mm_cvtsi32_si128(static_cast<int>(aCrc)));
  __m128i x2 = Load128(aData + 16);
  __m128i x3 = Load128(aData + 32);
  __m128i x4 = Load128(aData + 48);
  aData += 64;
  aSize -= 64;
  for (; aSize >= 64; aData += 64, aSize -= 64) {
    x1 = FoldStep(x1, k1k2, Load128(aData));
    x2 = FoldStep(x2, k1k2, Load128(aData + 16));
    x3 = FoldStep(x3, k1k2, Load128(aData + 32));
    x4 = FoldStep(x4, k1k2, Load128(aData + 48));
  }
  x1 = FoldStep(x1, k3k4, x2);
  x1 = FoldStep(x1, k3k4, x3);
  x1 = FoldStep(x1, k3k4, x4);
  return FinishFold(aTable, k3k4, x1, aData, aSize);
}

#define QV_CRC_WIDE_TARGET "avx512f,vpclmulqdq,pclmul,sse2"

// FoldStep on four lanes.
__attribute__((target(QV_CRC_WIDE_TARGET))) inline __m512i FoldStep4(__m512i aValue, __m512i aConstants,
                                                                     __m512i aNext) {
  const __m512i low = _mm512_clmulepi64_epi128(aValue, aConstants, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(aValue, aConstants, 0x11);
  return _mm512_ternarylogic_epi64(low, high, aNext, 0x96);  // low xor high xor next
}

__attribute__((target(QV_CRC_WIDE_TARGET))) inline __m512i Load512(const unsigned char* aData) {
  return _mm512_loadu_si512(aData);
}

// Fold with 512-bit registers: four registers of four lanes each take 256 bytes per step,
// then they are folded into one, its four lanes into one 128-bit value, and that one goes
// on like Fold. aK holds the constants of Fold (distances 512 and 128 bits) and those of
// the distance 2048 bits. aSize must be at least 256.
__attribute__((target(QV_CRC_WIDE_TARGET))) std::uint32_t FoldWide(const std::array<std::uint32_t, 256>& aTable,
                                                                   const std::uint64_t aK[6], std::uint32_t aCrc,
                                                                   const unsigned char*& aData, std::size_t& aSize) {
  const auto k = [aK](int aLow) { return static_cast<long long>(aK[aLow]); };
  const __m512i k2048 = _mm512_set_epi64(k(5), k(4), k(5), k(4), k(5), k(4), k(5), k(4));
  const __m512i k512 = _mm512_set_epi64(k(1), k(0), k(1), k(0), k(1), k(0), k(1), k(0));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(aK[3]), static_cast<long long>(aK[2]));
  __m512i z0 = _mm512_xor_si512(Load512(aData), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(aCrc))));
  __m512i z1 = Load512(aData + 64);
  __m512i z2 = Load512(aData + 128);
  __m512i z3 = Load512(aData + 192);
  aData += 256;
  aSize -= 256;
  for (; aSize >= 256; aData += 256, aSize -= 256) {
    z0 = FoldStep4(z0, k2048, Load512(aData));
    z1 = FoldStep4(z1, k2048, Load512(aData + 64));
    z2 = FoldStep4(z2, k2048, Load512(aData + 128));
    z3 = FoldStep4(z3, k2048, Load512(aData + 192));
  }
  z0 = FoldStep4(z0, k512, z1);
  z0 = FoldStep4(z0, k512, z2);
  z0 = FoldStep4(z0, k512, z3);
  for (; aSize >= 64; aData += 64, aSize -= 64)
    z0 = FoldStep4(z0, k512, Load512(aData));

  alignas(64) unsigned char lanes[64];
  _mm512_store_si512(lanes, z0);
  __m128i x = Load128(lanes);
  x = FoldStep(x, k128, Load128(lanes + 16));
  x = FoldStep(x, k128, Load128(lanes + 32));
  x = FoldStep(x, k128, Load128(lanes + 48));
  return FinishFold(aTable, k128, x, aData, aSize);
}

#endif

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
#if QV_CRC_FOLDING
    FoldK[0] = FoldConstant(aPoly, 4 * 128 + 32);
    FoldK[1] = FoldConstant(aPoly, 4 * 128 - 32);
    FoldK[2] = FoldConstant(aPoly, 128 + 32);
    FoldK[3] = FoldConstant(aPoly, 128 - 32);
    FoldK[4] = FoldConstant(aPoly, 16 * 128 + 32);
    FoldK[5] = FoldConstant(aPoly, 16 * 128 - 32);
#endif
  }

#if QV_CRC_FOLDING
  std::uint64_t FoldK[6] = {};
#endif
};

TCalcStreamCRC::TCalcStreamCRC() : fTables(std::make_unique<TTables>(DefaultPoly)) {}

TCalcStreamCRC::~TCalcStreamCRC() = default;

void TCalcStreamCRC::Reset() {
  fCRC = StartValue;
}

void TCalcStreamCRC::SetBinStream(std::istream* aStream) {
  // Only a new stream starts a new checksum: detaching must not discard the result.
  if (aStream != nullptr && aStream != fBinStream)
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
#if QV_CRC_FOLDING
  if (aSize >= kWideFoldMinimum && CpuHasWideCarrylessMultiply())
    crc = FoldWide(t[0], fTables->FoldK, crc, p, aSize);
  else if (aSize >= kFoldMinimum && CpuHasCarrylessMultiply())
    crc = Fold(t[0], fTables->FoldK, crc, p, aSize);
#endif
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

char* TCalcStreamCRC::Block() {
  if (!fBlock)
    fBlock = std::make_unique_for_overwrite<char[]>(BlockSize);
  return fBlock.get();
}

namespace {

// Feeds the bytes from aStart to aSize, read block by block with aRead(buffer, wanted) ->
// bytes read, into the register of aCrc, with the progress events of Calculate. A short
// read throws.
template <typename TRead>
void FeedBlocks(TCalcStreamCRC& aCrc, char* aBlock, std::streamoff aStart, std::streamoff aSize, TRead&& aRead) {
  const TCRCProgressEvent& progress = aCrc.OnProgress();
  if (progress)
    progress(aCrc, 0);
  std::streamoff position = aStart;
  while (position < aSize) {
    const auto wanted = static_cast<std::size_t>(std::min<std::streamoff>(TCalcStreamCRC::BlockSize, aSize - position));
    if (aRead(aBlock, wanted) != wanted)
      throw std::ios_base::failure("read error at position " + std::to_string(position));
    aCrc.Update(aBlock, wanted);
    position += static_cast<std::streamoff>(wanted);
    if (progress)
      progress(aCrc, Percentage(position - aStart, aSize - aStart));
  }
  if (aStart >= aSize && progress)
    progress(aCrc, 100);
}

// Reads up to aSize bytes, repeating short reads; fewer only at the end of the file.
std::size_t ReadFully(int aFile, char* aBuffer, std::size_t aSize) {
  std::size_t done = 0;
  while (done < aSize) {
    const ssize_t got = ::read(aFile, aBuffer + done, aSize - done);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

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

    FeedBlocks(*this, Block(), start, size, [&in](char* aBuffer, std::size_t aWanted) {
      in.read(aBuffer, static_cast<std::streamsize>(aWanted));
      return static_cast<std::size_t>(in.gcount());
    });
    return true;
  } catch (const std::exception& error) {
    LogException("TCalcStreamCRC.DoCalculate: Error " + ExceptionText(error));
    return false;
  }
}

bool TCalcStreamCRC::GetFileCrc(const std::string& aFileName, std::uint32_t& aCrc) {
  return GetFileCrcAt(AT_FDCWD, aFileName, aCrc);
}

bool TCalcStreamCRC::GetFileCrcAt(int aFolder, const std::string& aName, std::uint32_t& aCrc) {
  aCrc = StartValue;
  // Opened without blocking, so that a named pipe in place of the file cannot hang the
  // check; only a regular file has a checksum.
  const int file = ::openat(aFolder, aName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file < 0)
    return false;
  struct TClose {
    int File;
    ~TClose() { ::close(File); }
  } close{file};
  struct stat st {};
  if (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  fBinStream = nullptr;
  Reset();
  try {
    fSavedPosition = 0;
    FeedBlocks(*this, Block(), 0, static_cast<std::streamoff>(st.st_size),
               [file](char* aBuffer, std::size_t aWanted) { return ReadFully(file, aBuffer, aWanted); });
    aCrc = fCRC;
    return true;
  } catch (const std::exception& error) {
    LogException("TCalcStreamCRC.DoCalculate: Error " + ExceptionText(error));
    aCrc = fCRC;
    return false;
  }
}

}  // namespace Update::Service
