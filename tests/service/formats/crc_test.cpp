#include "service/formats/crc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "service/host/log.h"
#include "tests/service/host/service_log_dir.h"

namespace {

namespace fs = std::filesystem;
using Update::Service::TCalcStreamCRC;

// The checksum rule worked bit by bit, without any table: the reference the table and
// slicing forms are checked against.
std::uint32_t BitwiseCrc(const std::string& aData, std::uint32_t aPoly = 0x7DB88320) {
  std::uint32_t reg = 0x7FFFFFFF;
  for (unsigned char b : aData) {
    reg ^= b;
    for (int bit = 0; bit < 8; ++bit)
      reg = (reg & 1) != 0 ? (reg >> 1) ^ aPoly : reg >> 1;
  }
  return reg;
}

// The byte-wise table form, the way the format describes it.
std::uint32_t BytewiseCrc(const TCalcStreamCRC& aCrc, const std::string& aData) {
  std::uint32_t reg = TCalcStreamCRC::StartValue;
  for (unsigned char b : aData)
    reg = aCrc.Table()[(reg ^ b) & 0xFF] ^ (reg >> 8);
  return reg;
}

std::string RandomBytes(std::size_t aSize, unsigned aSeed = 1) {
  std::mt19937 random(aSeed);
  std::string data(aSize, '\0');
  for (auto& c : data)
    c = static_cast<char>(random());
  return data;
}

std::uint32_t StreamCrc(TCalcStreamCRC& aCrc, std::istream& aStream) {
  aCrc.SetBinStream(&aStream);
  aCrc.Reset();
  EXPECT_TRUE(aCrc.CalculateFromBeginning());
  return aCrc.CRC();
}

TEST(CalcStreamCRC, KnownValuesDifferFromTheCommonCrc32) {
  // Worked by hand with the bit rule (and cross-checked with a separate script):
  // "abc" gives 0x6DAE637D; the common CRC-32 of "abc" is 0x352441C2.
  TCalcStreamCRC crc;
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"abc", 0x6DAE637Du}, {"", 0x7FFFFFFFu}, {"a", 0x0A0841BCu}, {"123456789", 0x232B1781u}}) {
    std::istringstream in(text);
    EXPECT_EQ(StreamCrc(crc, in), expected) << text;
    EXPECT_EQ(BitwiseCrc(text), expected) << text;
  }
  EXPECT_NE(0x6DAE637Du, 0x352441C2u);
}

TEST(CalcStreamCRC, BulkPathMatchesTheBytewiseTableAtAllLengthsAndOffsets) {
  TCalcStreamCRC crc;
  const std::string data = RandomBytes(70000);
  for (std::size_t offset : {0u, 1u, 3u, 7u}) {
    for (std::size_t length :
         {0u,   1u,   15u,  16u,  17u,  31u,  33u,   63u,   64u,    255u,   256u,   257u,   319u,
          320u, 511u, 512u, 513u, 575u, 831u, 1000u, 4109u, 32767u, 32768u, 32769u, 65535u, 65536u}) {
      const std::string slice = data.substr(offset, length);
      crc.Reset();
      crc.Update(slice.data(), slice.size());
      EXPECT_EQ(crc.CRC(), BytewiseCrc(crc, slice)) << offset << "+" << length;
    }
  }
  EXPECT_EQ(BytewiseCrc(crc, data), BitwiseCrc(data));
}

TEST(CalcStreamCRC, BlockBoundariesAndPartialStreams) {
  TCalcStreamCRC crc;
  for (std::size_t size : {32767u, 32768u, 32769u, 65535u, 65536u, 65537u, 3u * 65536u + 5u}) {
    const std::string data = RandomBytes(size, static_cast<unsigned>(size));
    std::istringstream in(data);
    EXPECT_EQ(StreamCrc(crc, in), BitwiseCrc(data)) << size;
    EXPECT_EQ(in.tellg(), 0) << "position restored";

    // From the current position to the end, position restored afterwards.
    in.seekg(352);
    crc.Reset();
    ASSERT_TRUE(crc.Calculate());
    EXPECT_EQ(crc.CRC(), BitwiseCrc(data.substr(352))) << size;
    EXPECT_EQ(in.tellg(), 352);
  }
}

TEST(CalcStreamCRC, ProgressEventsAndStreamReset) {
  TCalcStreamCRC crc;
  std::vector<int> seen;
  crc.SetOnProgress([&](TCalcStreamCRC& aSender, int aPercentage) {
    EXPECT_EQ(&aSender, &crc);
    seen.push_back(aPercentage);
  });
  std::istringstream in(RandomBytes(3 * 65536 + 1));
  StreamCrc(crc, in);
  EXPECT_EQ(seen, (std::vector<int>{0, 33, 67, 100, 100}));

  seen.clear();
  std::istringstream empty("");
  StreamCrc(crc, empty);
  EXPECT_EQ(seen, (std::vector<int>{0, 100}));

  crc.SetCRC(1);
  std::istringstream other("x");
  crc.SetBinStream(&other);
  EXPECT_EQ(crc.CRC(), TCalcStreamCRC::StartValue) << "a different stream resets the register";
}

TEST(CalcStreamCRC, DetachingTheStreamKeepsTheResult) {
  // A package: the checksum of everything after the header, read from a file stream that is
  // detached again before the result is compared.
  const fs::path path = fs::temp_directory_path() / ("qv_crc_detach_" + std::to_string(::getpid()));
  const std::string data = RandomBytes(3 * 65536 + 100, 7);
  std::ofstream(path, std::ios::binary) << data;
  TCalcStreamCRC crc;
  {
    std::ifstream in(path, std::ios::binary);
    in.seekg(352);
    crc.SetBinStream(&in);
    crc.Reset();
    ASSERT_TRUE(crc.Calculate());
    crc.SetBinStream(nullptr);
  }
  EXPECT_EQ(crc.CRC(), BitwiseCrc(data.substr(352)));
  EXPECT_EQ(crc.BinStream(), nullptr);

  // GetFileCrc reads the file itself and gives the same progress as a stream of it.
  std::vector<int> seen;
  crc.SetOnProgress([&](TCalcStreamCRC&, int aPercentage) { seen.push_back(aPercentage); });
  std::uint32_t value = 0;
  ASSERT_TRUE(crc.GetFileCrc(path.string(), value));
  EXPECT_EQ(value, BitwiseCrc(data));
  EXPECT_EQ(crc.CRC(), value);
  EXPECT_EQ(seen, (std::vector<int>{0, 33, 67, 100, 100}));
  EXPECT_FALSE(crc.GetFileCrc(path.parent_path().string(), value)) << "a folder has no checksum";
  EXPECT_EQ(value, TCalcStreamCRC::StartValue);

  // By name in an open folder.
  const int folder = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  EXPECT_TRUE(crc.GetFileCrcAt(folder, path.filename().string(), value));
  EXPECT_EQ(value, BitwiseCrc(data));
  EXPECT_FALSE(crc.GetFileCrcAt(folder, "missing", value));
  ::close(folder);
  fs::remove(path);
}

TEST(CalcStreamCRC, ChangedPolynomialRebuildsTheTable) {
  TCalcStreamCRC crc;
  crc.SetCRCPoly(0xEDB88320);
  const std::string data = RandomBytes(1000);
  crc.Update(data.data(), data.size());
  EXPECT_EQ(crc.CRC(), BitwiseCrc(data, 0xEDB88320));
  EXPECT_EQ(crc.Table()[1], 0x77073096u);  // the well-known second entry of that table
}

TEST(CalcStreamCRC, FailuresAreLoggedAndReportedAsFalse) {
  const QuorvaneTest::TServiceLogDir dir("crc", "");

  TCalcStreamCRC crc;
  EXPECT_FALSE(crc.Calculate()) << "no stream";
  std::istringstream in("data");
  crc.SetBinStream(&in);
  crc.SetOnProgress([](TCalcStreamCRC&, int) { throw std::runtime_error("handler failed"); });
  EXPECT_FALSE(crc.Calculate());

  std::uint32_t value = 0;
  crc.SetOnProgress(nullptr);
  EXPECT_FALSE(crc.GetFileCrc((dir / "missing").string(), value));
  EXPECT_EQ(value, TCalcStreamCRC::StartValue);
  dir.Write("abc", "abc");
  EXPECT_TRUE(crc.GetFileCrc((dir / "abc").string(), value));
  EXPECT_EQ(value, 0x6DAE637Du);
  EXPECT_EQ(crc.BinStream(), nullptr) << "the file stream is detached";

  const std::string text = dir.ServiceLog();
  EXPECT_NE(text.find("--\r\nTCalcStreamCRC.DoCalculate: Error std::logic_error: no stream assigned\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("TCalcStreamCRC.DoCalculate: Error std::runtime_error: handler failed"), std::string::npos);
}

}  // namespace
