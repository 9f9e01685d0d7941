#include "uniobject/memory_stream.h"

#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "uniobject/settings.h"

namespace UniObject {

void TMemoryStream::SetSize(std::size_t aSize) {
  fBytes.resize(aSize);
  if (fPosition > aSize)
    fPosition = aSize;
}

void TMemoryStream::Clear() {
  fBytes.clear();
  fPosition = 0;
}

void TMemoryStream::Assign(std::vector<std::uint8_t> aBytes) {
  fBytes = std::move(aBytes);
  fPosition = 0;
}

void TMemoryStream::Write(const void* aData, std::size_t aCount) {
  if (aCount == 0)
    return;
  if (fPosition + aCount > fBytes.size())
    fBytes.resize(fPosition + aCount);
  std::memcpy(fBytes.data() + fPosition, aData, aCount);
  fPosition += aCount;
}

void TMemoryStream::WriteSingle(float aValue) {
  WriteLe(std::bit_cast<std::uint32_t>(aValue));
}
void TMemoryStream::WriteDouble(double aValue) {
  WriteLe(std::bit_cast<std::uint64_t>(aValue));
}

void TMemoryStream::Read(void* aData, std::size_t aCount) {
  if (aCount > Remaining())
    throw EUniListReadError("Das Ende des Streams wurde unerwartet erreicht.");
  if (aCount == 0)
    return;
  std::memcpy(aData, fBytes.data() + fPosition, aCount);
  fPosition += aCount;
}

std::uint8_t TMemoryStream::ReadU8() {
  if (Remaining() < 1)
    throw EUniListReadError("Das Ende des Streams wurde unerwartet erreicht.");
  return fBytes[fPosition++];
}

float TMemoryStream::ReadSingle() {
  return std::bit_cast<float>(ReadLe<std::uint32_t>());
}
double TMemoryStream::ReadDouble() {
  return std::bit_cast<double>(ReadLe<std::uint64_t>());
}

std::int32_t TMemoryStream::ReadCount(std::size_t aBytesPerItem) {
  const std::int32_t count = ReadI32();
  if (count < 0)
    throw EUniListReadError(Format("Ungültige Anzahl im Stream: %d", count));
  if (aBytesPerItem > 0 && static_cast<std::size_t>(count) > Remaining() / aBytesPerItem)
    throw EUniListReadError(Format("Die Anzahl %d ist größer als der Rest des Streams.", count));
  return count;
}

namespace {
thread_local int tNestingDepth = 0;
}

TNestingGuard::TNestingGuard() {
  if (tNestingDepth >= kMaxNestingDepth)
    throw EUniListReadError(Format("Die Daten sind tiefer als %d Ebenen verschachtelt.", kMaxNestingDepth));
  ++tNestingDepth;
}

TNestingGuard::~TNestingGuard() {
  --tNestingDepth;
}

std::size_t ReserveHint(std::int32_t aCount, std::size_t aRemaining, std::size_t aMinBytesPerItem) {
  if (aCount <= 0)
    return 0;
  return std::min(static_cast<std::size_t>(aCount), aRemaining / std::max<std::size_t>(aMinBytesPerItem, 1));
}

std::size_t NextListCapacity(std::size_t aCapacity, std::size_t aCount) {
  if (aCount <= 15)
    return aCapacity + 4;
  if (aCount < 64)
    return aCapacity + 8;
  return aCapacity + aCapacity / 4;
}

bool FileExists(const std::string& aFileName) {
  std::error_code ec;
  return std::filesystem::is_regular_file(aFileName, ec);
}

std::string SaveFileCheck(const std::string& aFileName) {
  if (aFileName.empty())
    return "Ein Dateiname muß mindestens aus einem Buchstaben bestehen!";
  std::error_code ec;
  if (std::filesystem::exists(aFileName, ec) && ::access(aFileName.c_str(), W_OK) != 0)
    return Format("Die Datei >%s< ist schreibgeschützt vorhanden und kann nicht überschrieben werden.",
                  aFileName.c_str());
  const auto folder = std::filesystem::path(aFileName).parent_path();
  if (!folder.empty())
    std::filesystem::create_directories(folder, ec);
  return {};
}

bool WriteWholeFile(const std::string& aFileName, const std::vector<std::uint8_t>& aBytes, std::string& aError) {
  std::ofstream out(aFileName, std::ios::binary | std::ios::trunc);
  if (!out) {
    aError = Format("%s: %s", aFileName.c_str(), std::strerror(errno));
    return false;
  }
  out.write(reinterpret_cast<const char*>(aBytes.data()), static_cast<std::streamsize>(aBytes.size()));
  out.close();
  if (!out) {
    aError = Format("%s: Schreibfehler", aFileName.c_str());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& aFileName, std::vector<std::uint8_t>& aBytes, std::string& aError) {
  std::ifstream in(aFileName, std::ios::binary);
  if (!in) {
    aError = Format("%s: %s", aFileName.c_str(), std::strerror(errno));
    return false;
  }
  aBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    aError = Format("%s: Lesefehler", aFileName.c_str());
    return false;
  }
  return true;
}

}  // namespace UniObject
