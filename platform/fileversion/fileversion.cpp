#include "platform/fileversion/fileversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace Platform {

namespace {

constexpr std::string_view kNoteSection = ".note.quorvane.version";
constexpr std::string_view kNoteOwner = "Quorvane";
constexpr std::uint32_t kNoteTypeVersion = 1;
// A version note is 28 bytes; a note area or a name table far beyond this is damage, and
// the bound keeps a hostile header from making us allocate without limit.
constexpr std::uint64_t kMaxTableBytes = 16u * 1024 * 1024;

constexpr std::uint32_t kShtNote = 7;
constexpr std::uint32_t kPtNote = 4;
constexpr std::uint16_t kShnXIndex = 0xFFFF;

class TFd {
 public:
  explicit TFd(const std::string& aPath) : fFd(::open(aPath.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~TFd() {
    if (fFd >= 0)
      ::close(fFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fFd; }

 private:
  int fFd;
};

// Bounds-checked little-endian reads from a file. Every read that does not lie wholly
// inside the file fails.
class TElfReader {
 public:
  TElfReader(int aFd, std::uint64_t aSize) : fFd(aFd), fSize(aSize) {}

  bool Read(std::uint64_t aOffset, std::uint64_t aCount, std::vector<unsigned char>& aOut) const {
    if (aCount > kMaxTableBytes || aOffset > fSize || aCount > fSize - aOffset)
      return false;
    aOut.resize(static_cast<std::size_t>(aCount));
    std::size_t done = 0;
    while (done < aOut.size()) {
      const ssize_t got = ::pread(fFd, aOut.data() + done, aOut.size() - done, static_cast<off_t>(aOffset + done));
      if (got <= 0)
        return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fFd;
  std::uint64_t fSize;
};

std::uint64_t GetLe(const std::vector<unsigned char>& aData, std::size_t aOffset, std::size_t aWidth) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < aWidth; ++i)
    value |= static_cast<std::uint64_t>(aData[aOffset + i]) << (8 * i);
  return value;
}

// Offsets of the header fields that differ between ELF32 and ELF64.
struct TLayout {
  std::size_t Word;  // 4 or 8: width of addresses and offsets
  std::size_t HeaderSize, PhOff, ShOff, PhEntSize, PhNum, ShEntSize, ShNum, ShStrNdx;
  std::size_t ShType, ShOffset, ShSize, ShLink, ShAlign, ShMinEntry;
  std::size_t PhOffset, PhFileSize, PhAlign, PhMinEntry;
};

constexpr TLayout kElf32{4, 52, 0x1C, 0x20, 0x2A, 0x2C, 0x2E, 0x30, 0x32, 4, 16, 20, 24, 32, 40, 4, 16, 28, 32};
constexpr TLayout kElf64{8, 64, 0x20, 0x28, 0x36, 0x38, 0x3A, 0x3C, 0x3E, 4, 24, 32, 40, 48, 64, 8, 32, 48, 56};

struct TArea {
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
  std::uint64_t Align = 4;
};

std::uint64_t AlignUp(std::uint64_t aValue, std::uint64_t aAlign) {
  return (aValue + aAlign - 1) / aAlign * aAlign;
}

// Walks the notes of one area and returns the version note's numbers.
std::optional<TFileVersionNumbers> FindVersionNote(const TElfReader& aReader, const TArea& aArea) {
  std::vector<unsigned char> data;
  if (!aReader.Read(aArea.Offset, aArea.Size, data))
    return std::nullopt;
  const std::uint64_t align = aArea.Align == 8 ? 8 : 4;
  std::uint64_t pos = 0;
  while (data.size() >= 12 && pos <= data.size() - 12) {
    const std::uint64_t nameSize = GetLe(data, pos, 4);
    const std::uint64_t descSize = GetLe(data, pos + 4, 4);
    const std::uint64_t type = GetLe(data, pos + 8, 4);
    const std::uint64_t nameAt = pos + 12;
    const std::uint64_t descAt = AlignUp(nameAt + nameSize, align);
    const std::uint64_t next = AlignUp(descAt + descSize, align);
    if (descAt + descSize > data.size())
      return std::nullopt;
    // The owner is stored with its terminating NUL.
    const bool ownerMatches = nameSize == kNoteOwner.size() + 1 &&
                              std::memcmp(data.data() + nameAt, kNoteOwner.data(), kNoteOwner.size()) == 0 &&
                              data[nameAt + kNoteOwner.size()] == 0;
    if (ownerMatches && type == kNoteTypeVersion && descSize == 8) {
      TFileVersionNumbers v;
      v.Major = static_cast<std::uint16_t>(GetLe(data, descAt, 2));
      v.Minor = static_cast<std::uint16_t>(GetLe(data, descAt + 2, 2));
      v.Release = static_cast<std::uint16_t>(GetLe(data, descAt + 4, 2));
      v.Build = static_cast<std::uint16_t>(GetLe(data, descAt + 6, 2));
      return v;
    }
    if (next <= pos)
      return std::nullopt;
    pos = next;
  }
  return std::nullopt;
}

// The note areas to search: the section named ".note.quorvane.version" when the file has
// section headers, otherwise (stripped of them) every PT_NOTE segment.
std::vector<TArea> NoteAreas(const TElfReader& aReader, const std::vector<unsigned char>& aHeader, const TLayout& aL) {
  std::vector<TArea> areas;
  const std::uint64_t shOff = GetLe(aHeader, aL.ShOff, aL.Word);
  const std::uint64_t shEntSize = GetLe(aHeader, aL.ShEntSize, 2);
  std::uint64_t shNum = GetLe(aHeader, aL.ShNum, 2);
  std::uint64_t shStrNdx = GetLe(aHeader, aL.ShStrNdx, 2);

  if (shOff != 0 && shEntSize >= aL.ShMinEntry) {
    std::vector<unsigned char> first;
    if (aReader.Read(shOff, shEntSize, first)) {
      // Extended numbering: counts that do not fit the header live in section 0.
      if (shNum == 0)
        shNum = GetLe(first, aL.ShSize, aL.Word);
      if (shStrNdx == kShnXIndex)
        shStrNdx = GetLe(first, aL.ShLink, 4);
    }
    std::vector<unsigned char> table;
    std::vector<unsigned char> names;
    if (shNum != 0 && shNum <= kMaxTableBytes / shEntSize && shStrNdx < shNum &&
        aReader.Read(shOff, shNum * shEntSize, table)) {
      const std::size_t strAt = static_cast<std::size_t>(shStrNdx * shEntSize);
      if (aReader.Read(GetLe(table, strAt + aL.ShOffset, aL.Word), GetLe(table, strAt + aL.ShSize, aL.Word), names)) {
        for (std::uint64_t i = 0; i < shNum; ++i) {
          const std::size_t at = static_cast<std::size_t>(i * shEntSize);
          if (GetLe(table, at + aL.ShType, 4) != kShtNote)
            continue;
          const std::uint64_t nameOff = GetLe(table, at, 4);
          if (nameOff >= names.size())
            continue;
          const char* name = reinterpret_cast<const char*>(names.data() + nameOff);
          const std::string_view sectionName(name, strnlen(name, names.size() - nameOff));
          if (sectionName != kNoteSection)
            continue;
          areas.push_back({GetLe(table, at + aL.ShOffset, aL.Word), GetLe(table, at + aL.ShSize, aL.Word),
                           GetLe(table, at + aL.ShAlign, aL.Word)});
        }
        return areas;
      }
    }
  }

  const std::uint64_t phOff = GetLe(aHeader, aL.PhOff, aL.Word);
  const std::uint64_t phEntSize = GetLe(aHeader, aL.PhEntSize, 2);
  const std::uint64_t phNum = GetLe(aHeader, aL.PhNum, 2);
  std::vector<unsigned char> table;
  if (phOff == 0 || phNum == 0 || phEntSize < aL.PhMinEntry || !aReader.Read(phOff, phNum * phEntSize, table))
    return areas;
  for (std::uint64_t i = 0; i < phNum; ++i) {
    const std::size_t at = static_cast<std::size_t>(i * phEntSize);
    if (GetLe(table, at, 4) != kPtNote)
      continue;
    areas.push_back({GetLe(table, at + aL.PhOffset, aL.Word), GetLe(table, at + aL.PhFileSize, aL.Word),
                     GetLe(table, at + aL.PhAlign, aL.Word)});
  }
  return areas;
}

}  // namespace

std::optional<TFileVersionNumbers> GetFileVersion(const std::string& aPath) {
  const TFd fd(aPath);
  if (fd.Get() < 0)
    return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  const TElfReader reader(fd.Get(), static_cast<std::uint64_t>(st.st_size));

  std::vector<unsigned char> ident;
  if (!reader.Read(0, 16, ident))
    return std::nullopt;
  if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F')
    return std::nullopt;
  if (ident[5] != 1)
    return std::nullopt;  // little-endian only
  const TLayout* layout = ident[4] == 1 ? &kElf32 : ident[4] == 2 ? &kElf64 : nullptr;
  if (layout == nullptr)
    return std::nullopt;

  std::vector<unsigned char> header;
  if (!reader.Read(0, layout->HeaderSize, header))
    return std::nullopt;
  for (const TArea& area : NoteAreas(reader, header, *layout)) {
    if (auto version = FindVersionNote(reader, area))
      return version;
  }
  return std::nullopt;
}

}  // namespace Platform
