#include "platform/fileversion/fileversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using Platform::GetFileVersion;
using Platform::TFileVersionNumbers;
using Bytes = std::vector<unsigned char>;

class FileVersionTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& aName, const Bytes& aData) {
    return fDir.Write(aName, std::string_view(reinterpret_cast<const char*>(aData.data()), aData.size()));
  }

  static Bytes ReadAll(const std::string& aPath) {
    const std::string bytes = QuorvaneTest::ReadFile(aPath);
    return Bytes(bytes.begin(), bytes.end());
  }

  QuorvaneTest::TTempDir fDir{"fileversion"};
};

void Put(Bytes& aData, std::size_t aAt, std::uint64_t aValue, std::size_t aWidth) {
  if (aData.size() < aAt + aWidth)
    aData.resize(aAt + aWidth);
  for (std::size_t i = 0; i < aWidth; ++i)
    aData[aAt + i] = static_cast<unsigned char>(aValue >> (8 * i));
}

// A minimal relocatable ELF image with three sections: null, the name table and one
// note section named aSectionName that holds a note of owner aOwner and type 1.
Bytes MakeElf(bool aElf64, const std::string& aSectionName = ".note.quorvane.version",
              const std::string& aOwner = "Quorvane") {
  const std::size_t word = aElf64 ? 8 : 4;
  const std::size_t headerSize = aElf64 ? 64 : 52;
  const std::size_t shEntSize = aElf64 ? 64 : 40;
  Bytes image(headerSize, 0);
  image[0] = 0x7F, image[1] = 'E', image[2] = 'L', image[3] = 'F';
  image[4] = aElf64 ? 2 : 1;
  image[5] = 1;
  image[6] = 1;

  const std::string names = std::string("\0.shstrtab\0", 11) + aSectionName + '\0';
  const std::size_t namesAt = image.size();
  image.insert(image.end(), names.begin(), names.end());
  while (image.size() % 4)
    image.push_back(0);

  const std::size_t noteAt = image.size();
  Put(image, noteAt, aOwner.size() + 1, 4);
  Put(image, noteAt + 4, 8, 4);
  Put(image, noteAt + 8, 1, 4);
  image.insert(image.end(), aOwner.begin(), aOwner.end());
  image.push_back(0);
  while (image.size() % 4)
    image.push_back(0);
  for (std::uint16_t part : {7, 8, 9, 10})
    Put(image, image.size(), part, 2);
  const std::size_t noteSize = image.size() - noteAt;

  while (image.size() % 8)
    image.push_back(0);
  const std::size_t shOff = image.size();
  image.resize(shOff + 3 * shEntSize, 0);
  auto section = [&](std::size_t aIndex, std::uint32_t aName, std::uint32_t aType, std::size_t aOffset,
                     std::size_t aSize) {
    const std::size_t at = shOff + aIndex * shEntSize;
    Put(image, at, aName, 4);
    Put(image, at + 4, aType, 4);
    Put(image, at + (aElf64 ? 24 : 16), aOffset, word);
    Put(image, at + (aElf64 ? 32 : 20), aSize, word);
    Put(image, at + (aElf64 ? 48 : 32), 4, word);
  };
  section(1, 1, 3, namesAt, names.size());
  section(2, 11, 7, noteAt, noteSize);

  Put(image, aElf64 ? 0x28 : 0x20, shOff, word);
  Put(image, aElf64 ? 0x3A : 0x2E, shEntSize, 2);
  Put(image, aElf64 ? 0x3C : 0x30, 3, 2);
  Put(image, aElf64 ? 0x3E : 0x32, 1, 2);
  return image;
}

TEST_F(FileVersionTest, ReadsTheStampOfThisTestProgram) {
  const auto version = GetFileVersion("/proc/self/exe");
  ASSERT_TRUE(version.has_value());
  const TFileVersionNumbers expected{QV_EXPECTED_VERSION_MAJOR, QV_EXPECTED_VERSION_MINOR, QV_EXPECTED_VERSION_RELEASE,
                                     QV_EXPECTED_VERSION_BUILD};
  EXPECT_EQ(*version, expected);
}

TEST_F(FileVersionTest, ReadsSyntheticElf32AndElf64) {
  const TFileVersionNumbers expected{7, 8, 9, 10};
  EXPECT_EQ(GetFileVersion(Write("elf64", MakeElf(true))), expected);
  EXPECT_EQ(GetFileVersion(Write("elf32", MakeElf(false))), expected);
}

TEST_F(FileVersionTest, FilesWithoutTheNoteHaveNoVersion) {
  EXPECT_FALSE(GetFileVersion(Write("text.txt", Bytes{'h', 'e', 'l', 'l', 'o'})));
  EXPECT_FALSE(GetFileVersion(Write("empty", {})));
  EXPECT_FALSE(GetFileVersion(fDir.File("missing")));
  EXPECT_FALSE(GetFileVersion(fDir.Path().string()));
  EXPECT_FALSE(GetFileVersion(Write("othername", MakeElf(true, ".note.other"))));
  EXPECT_FALSE(GetFileVersion(Write("otherowner", MakeElf(true, ".note.quorvane.version", "Quorvanf"))));
  Bytes bigEndian = MakeElf(true);
  bigEndian[5] = 2;
  EXPECT_FALSE(GetFileVersion(Write("bigendian", bigEndian)));
}

// Every prefix of a real stamped binary and of the synthetic images, and images with
// single header fields set to hostile values, must give "no version" or the right one,
// never a crash or an out-of-range read (run under the sanitizers in the fuzz build).
TEST_F(FileVersionTest, DamagedElfGivesNoVersionWithoutCrashing) {
  const Bytes self = ReadAll("/proc/self/exe");
  ASSERT_GT(self.size(), 4096u);
  for (std::size_t length : {std::size_t{4}, std::size_t{16}, std::size_t{63}, std::size_t{64}, std::size_t{4096},
                             self.size() / 2, self.size() - 1}) {
    const std::string path = Write("prefix", Bytes(self.begin(), self.begin() + length));
    const auto version = GetFileVersion(path);
    if (version) {
      EXPECT_EQ(version->Major, QV_EXPECTED_VERSION_MAJOR);
    }
  }
  for (bool elf64 : {false, true}) {
    const Bytes image = MakeElf(elf64);
    for (std::size_t length = 0; length < image.size(); ++length)
      EXPECT_FALSE(GetFileVersion(Write("cut", Bytes(image.begin(), image.begin() + length)))) << length;
    const std::size_t fields[] = {elf64 ? 0x28u : 0x20u, elf64 ? 0x3Au : 0x2Eu, elf64 ? 0x3Cu : 0x30u,
                                  elf64 ? 0x3Eu : 0x32u};
    for (std::size_t field : fields) {
      for (std::uint64_t value : {0ull, 1ull, 0xFFFFull, 0xFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull}) {
        Bytes broken = image;
        const std::size_t width = field == fields[0] ? (elf64 ? 8 : 4) : 2;
        Put(broken, field, value, width);
        GetFileVersion(Write("broken", broken));
      }
    }
    // A note whose descriptor size runs past its section.
    Bytes longNote = image;
    auto owner = std::search(longNote.begin(), longNote.end(), std::begin("Quorvane"), std::end("Quorvane") - 1);
    ASSERT_NE(owner, longNote.end());
    Put(longNote, static_cast<std::size_t>(owner - longNote.begin()) - 8, 0x7FFFFFF0, 4);
    EXPECT_FALSE(GetFileVersion(Write("longnote", longNote)));
  }
}

}  // namespace
