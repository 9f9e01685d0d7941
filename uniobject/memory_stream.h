#pragma once

// TMemoryStream: the byte stream that universal lists and number lists are written to and
// read from. It owns its bytes; reading is bounded by them: every typed read that would
// run past the end throws EUniListReadError, so a truncated or hostile stream can never
// make a reader touch memory outside the buffer. All numbers are little-endian.
//
// Not thread-safe; one owner at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace UniObject {

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> aBytes) : fBytes(std::move(aBytes)) {}

  std::vector<std::uint8_t>& Bytes() { return fBytes; }
  const std::vector<std::uint8_t>& Bytes() const { return fBytes; }
  std::size_t Size() const { return fBytes.size(); }
  std::size_t Position() const { return fPosition; }
  // Bytes left between the position and the end.
  std::size_t Remaining() const { return fPosition < fBytes.size() ? fBytes.size() - fPosition : 0; }
  void SetPosition(std::size_t aPosition) { fPosition = aPosition; }
  // Resizes the content (new bytes are zero); the position is kept within the end.
  void SetSize(std::size_t aSize);
  void Clear();
  // Replaces the content and rewinds.
  void Assign(std::vector<std::uint8_t> aBytes);

  // Writes at the position, growing the stream as needed.
  void Write(const void* aData, std::size_t aCount);
  void WriteU8(std::uint8_t aValue) { Write(&aValue, 1); }
  void WriteI16(std::int16_t aValue) { WriteLe(static_cast<std::uint16_t>(aValue)); }
  void WriteU16(std::uint16_t aValue) { WriteLe(aValue); }
  void WriteI32(std::int32_t aValue) { WriteLe(static_cast<std::uint32_t>(aValue)); }
  void WriteU32(std::uint32_t aValue) { WriteLe(aValue); }
  void WriteI64(std::int64_t aValue) { WriteLe(static_cast<std::uint64_t>(aValue)); }
  void WriteSingle(float aValue);
  void WriteDouble(double aValue);

  // Reads exactly aCount bytes or throws EUniListReadError (the position is then
  // unchanged).
  void Read(void* aData, std::size_t aCount);
  std::uint8_t ReadU8();
  std::int16_t ReadI16() { return static_cast<std::int16_t>(ReadLe<std::uint16_t>()); }
  std::uint16_t ReadU16() { return ReadLe<std::uint16_t>(); }
  std::int32_t ReadI32() { return static_cast<std::int32_t>(ReadLe<std::uint32_t>()); }
  std::uint32_t ReadU32() { return ReadLe<std::uint32_t>(); }
  std::int64_t ReadI64() { return static_cast<std::int64_t>(ReadLe<std::uint64_t>()); }
  float ReadSingle();
  double ReadDouble();
  // Reads a length that the stream must still be able to hold at aBytesPerItem bytes per
  // item; a negative count or one larger than the rest of the stream throws
  // EUniListReadError. This is what bounds every allocation of a reader.
  std::int32_t ReadCount(std::size_t aBytesPerItem);

 private:
  template <typename T>
  void WriteLe(T aValue) {
    std::uint8_t bytes[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
      bytes[i] = static_cast<std::uint8_t>(aValue >> (8 * i));
    Write(bytes, sizeof(T));
  }
  template <typename T>
  T ReadLe() {
    std::uint8_t bytes[sizeof(T)];
    Read(bytes, sizeof(T));
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      value |= static_cast<T>(static_cast<T>(bytes[i]) << (8 * i));
    return value;
  }

  std::vector<std::uint8_t> fBytes;
  std::size_t fPosition = 0;
};

// Lists nested deeper than this (child lists, multi-list values, tables, property lists)
// make a stream invalid at that point; it bounds the reader's recursion.
inline constexpr int kMaxNestingDepth = 200;

// Counts one level of nesting while a reader is inside a nested part; throws
// EUniListReadError beyond kMaxNestingDepth. One counter per thread.
class TNestingGuard {
 public:
  TNestingGuard();
  ~TNestingGuard();
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;
};

// The capacity to reserve for a count read from a stream that is only a hint (the list
// ends at its end marker): never more than the rest of the stream could hold at
// aMinBytesPerItem bytes per item.
std::size_t ReserveHint(std::int32_t aCount, std::size_t aRemaining, std::size_t aMinBytesPerItem);

// Capacity step of the model's lists: 4 slots while the count is at most 15, 8 above;
// from 64 items on a list grows by a quarter of its capacity so that appending stays
// linear for the large lists a host hands over.
std::size_t NextListCapacity(std::size_t aCapacity, std::size_t aCount);

// File helpers shared by the lists' file forms. SaveFileCheck returns an empty text when
// aFileName may be written (creating a missing folder), else the German refusal.
std::string SaveFileCheck(const std::string& aFileName);
// Writes the file; on failure returns false with the cause in aError.
bool WriteWholeFile(const std::string& aFileName, const std::vector<std::uint8_t>& aBytes, std::string& aError);
// Reads the file; on failure returns false with the cause in aError.
bool ReadWholeFile(const std::string& aFileName, std::vector<std::uint8_t>& aBytes, std::string& aError);
bool FileExists(const std::string& aFileName);

}  // namespace UniObject
