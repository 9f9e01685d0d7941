#include "service/formats/packed_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/fileversion/fileversion.h"
#include "service/formats/dos_date.h"
#include "service/host/log.h"
#include "tests/service/host/service_log_dir.h"
#include "tests/support/temp_dir.h"

namespace Update::Service {
void PrintTo(TZlibResult aResult, std::ostream* aOut) {
  *aOut << TZlibHandler::ZLibResultToString(aResult);
}
}  // namespace Update::Service

namespace {

namespace fs = std::filesystem;
using QuorvaneTest::ReadFile;
using QuorvaneTest::WriteFile;
using namespace Update::Service;
using R = TZlibResult;

// The checksum worked bit by bit, independent of the code under test.
std::uint32_t ReferenceCrc(std::string_view aData) {
  std::uint32_t reg = 0x7FFFFFFF;
  for (unsigned char b : aData) {
    reg ^= b;
    for (int bit = 0; bit < 8; ++bit)
      reg = (reg & 1) != 0 ? (reg >> 1) ^ 0x7DB88320 : reg >> 1;
  }
  return reg;
}

std::string RandomText(std::size_t aSize, unsigned aSeed = 7) {
  // Compressible but not trivial: words from a small alphabet.
  std::mt19937 random(aSeed);
  std::string data(aSize, ' ');
  for (auto& c : data)
    c = "abcdefgh \n"[random() % 10];
  return data;
}

std::string ZlibCompress(const std::string& aData) {
  uLongf size = compressBound(aData.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(aData.data()),
                      aData.size(), Z_DEFAULT_COMPRESSION),
            Z_OK);
  out.resize(size);
  return out;
}

std::string ZlibUncompress(const std::string& aData, std::size_t aSize) {
  std::string out(aSize, '\0');
  uLongf size = aSize;
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(aData.data()),
                       aData.size()),
            Z_OK);
  out.resize(size);
  return out;
}

class PackedFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& aName) const { return fDir.File(aName); }
  static std::string ServiceLog() { return QuorvaneTest::TServiceLogDir::ServiceLog(); }

  // A package built without the handler: header image plus plain zlib data, both
  // checksums computed with the reference rule.
  static std::string MakePackage(TZPackedFileInfo aInfo, const std::string& aPayload) {
    const std::string packed = ZlibCompress(aPayload);
    aInfo.PackedSize = static_cast<std::int32_t>(packed.size());
    aInfo.PackedCRC = ReferenceCrc(packed);
    const TPackedHeaderBytes header = EncodePackedFileInfo(aInfo);
    return std::string(reinterpret_cast<const char*>(header.data()), header.size()) + packed;
  }
  static TZPackedFileInfo InfoFor(const std::string& aName, const std::string& aPayload) {
    TZPackedFileInfo info;
    info.ID = "KVTZLIBFILE";
    info.Version = 1;
    info.FileName = aName;
    info.Size = static_cast<std::int32_t>(aPayload.size());
    info.Date = DateTimeToFileDate(Platform::TDateTime::Encode(2016, 3, 4, 5, 6, 8));
    info.Attr = faArchive;
    info.CRC = ReferenceCrc(aPayload);
    return info;
  }

  TZlibResult Pack(const std::string& aIn, const std::string& aOut) {
    fHandler.SetInput(aIn);
    fHandler.SetOutput(aOut);
    return fHandler.Compress();
  }
  TZlibResult Unpack(const std::string& aIn, const std::string& aOut, std::string* aName = nullptr) {
    fHandler.SetInput(aIn);
    fHandler.SetOutput(aOut);
    std::string name;
    const TZlibResult result = fHandler.UnCompress(name);
    if (aName != nullptr)
      *aName = name;
    return result;
  }

  QuorvaneTest::TServiceLogDir fDir{"packed"};
  TZlibHandler fHandler;
};

TEST_F(PackedFileTest, RoundTripAcrossBlockBoundaries) {
  const std::int32_t date = DateTimeToFileDate(Platform::TDateTime::Encode(2021, 7, 8, 9, 10, 12));
  for (std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 65535u, 65536u, 65537u, 200001u}) {
    SCOPED_TRACE(size);
    const std::string data = RandomText(size, static_cast<unsigned>(size));
    const std::string source = Path("data.bin");
    WriteFile(source, data);
    ASSERT_TRUE(SetFileDate(source, date));
    ASSERT_EQ(Pack(source, Path("data.bin.z")), R::zrOK);

    // The header and the data, read back without the handler.
    const std::string package = ReadFile(Path("data.bin.z"));
    ASSERT_GE(package.size(), PackedHeaderSize);
    TPackedHeaderBytes bytes;
    std::copy_n(package.begin(), PackedHeaderSize, bytes.begin());
    const TZPackedFileInfo info = DecodePackedFileInfo(bytes);
    EXPECT_EQ(info, fHandler.FileInfo());
    EXPECT_EQ(info.ID, "KVTZLIBFILE");
    EXPECT_EQ(info.Version, 1u);
    EXPECT_EQ(info.FileName, "data.bin");
    EXPECT_EQ(info.Size, static_cast<std::int32_t>(size));
    EXPECT_EQ(info.Date, date);
    EXPECT_EQ(info.Attr, faArchive);
    EXPECT_EQ(info.CRC, ReferenceCrc(data));
    EXPECT_EQ(info.PackedSize, static_cast<std::int32_t>(package.size() - PackedHeaderSize));
    EXPECT_EQ(info.PackedCRC, ReferenceCrc(std::string_view(package).substr(PackedHeaderSize)));
    EXPECT_EQ(ZlibUncompress(package.substr(PackedHeaderSize), size), data);

    fs::remove(source);
    std::string outName;
    ASSERT_EQ(Unpack(Path("data.bin.z"), Path("out/"), &outName), R::zrOK) << ServiceLog();
    EXPECT_EQ(outName, Path("out/data.bin"));
    EXPECT_EQ(ReadFile(outName), data);
    EXPECT_EQ(GetFileDate(outName), date);
    EXPECT_EQ(fHandler.Mode(), TZlibMode::zmNone);
  }
}

TEST_F(PackedFileTest, HeaderByteLayout) {
  TZPackedFileInfo info = InfoFor("Größe.txt", "x");
  info.MajorNumber = 1, info.MinorNumber = 2, info.ReleaseNumber = 3, info.BuildNumber = 0x01020304;
  const TPackedHeaderBytes bytes = EncodePackedFileInfo(info);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 12), "\x0BKVTZLIBFILE");
  EXPECT_EQ(bytes[13], 1);
  // Windows-1252: ö = 0xF6, ß = 0xDF.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 17, 10),
            "\x09Gr\xF6\xDF"
            "e.txt");
  EXPECT_EQ(bytes[313], 0x04);
  EXPECT_EQ(bytes[316], 0x01);
  EXPECT_TRUE(std::all_of(bytes.begin() + 317, bytes.end(), [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(DecodePackedFileInfo(bytes), info);

  // A hostile length byte is limited to its field.
  TPackedHeaderBytes hostile = bytes;
  hostile[0] = 200;
  EXPECT_EQ(DecodePackedFileInfo(hostile).ID.size(), 12u);
}

TEST_F(PackedFileTest, HeaderChecksRejectWithTheirLogLines) {
  const std::string payload = RandomText(5000);
  struct TCase {
    const char* Name;
    std::function<void(TZPackedFileInfo&, std::string&)> Damage;  // header, then package bytes
    TZlibResult Expected;
    std::string LogLine;
  };
  const std::vector<TCase> cases = {
      {"version 2", [](TZPackedFileInfo& h, std::string&) { h.Version = 2; }, R::zrVersionFailed,
       "TZlibHandler.DoUnCompress: Error Version mismatch 2 <> 1\r\n"},
      {"other identifier", [](TZPackedFileInfo& h, std::string&) { h.ID = "ZIPFILE"; }, R::zrIdentFailed,
       "TZlibHandler.DoUnCompress: Error ID mismatch ZIPFILE <> KVTZLIBFILE\r\n"},
      {"one byte appended", [](TZPackedFileInfo&, std::string& p) { p += 'x'; }, R::zrCheckInputFailed,
       "TZlibHandler.DoUnCompress: Error PackedSize mismatch "},
      {"packed byte changed", [](TZPackedFileInfo&, std::string& p) { p[PackedHeaderSize + 5] ^= 0x10; },
       R::zrCheckInputFailed, "TZlibHandler.DoUnCompress: Error PackedCRC mismatch "},
      {"size wrong", [](TZPackedFileInfo& h, std::string&) { h.Size += 1; }, R::zrCheckOutputFailed,
       "TZlibHandler.DoUnCompress: Error Size mismatch 5001 <> 5000\r\n"},
      {"checksum wrong", [](TZPackedFileInfo& h, std::string&) { h.CRC = 12345; }, R::zrCheckOutputFailed,
       "TZlibHandler.DoUnCompress: Error CRC mismatch 12345 <> " + std::to_string(ReferenceCrc(payload)) + "\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TZPackedFileInfo info = InfoFor("payload.txt", payload);
    std::string dummy;
    c.Damage(info, dummy);
    std::string package = MakePackage(info, payload);
    c.Damage(info, package);
    WriteFile(Path("damaged.z"), package);
    EXPECT_EQ(Unpack(Path("damaged.z"), Path("out/")), c.Expected);
    EXPECT_NE(ServiceLog().find(c.LogLine), std::string::npos) << ServiceLog();
  }
}

TEST_F(PackedFileTest, IdentifierComparedWithoutCaseAndBlanks) {
  const std::string payload = "lower-case identifiers are accepted";
  TZPackedFileInfo info = InfoFor("lower.txt", payload);
  info.ID = "kvtzlibfile ";
  WriteFile(Path("lower.z"), MakePackage(info, payload));
  std::string name;
  ASSERT_EQ(Unpack(Path("lower.z"), Path("out/"), &name), R::zrOK) << ServiceLog();
  EXPECT_EQ(ReadFile(name), payload);
}

TEST_F(PackedFileTest, ShortOrMissingInput) {
  const std::string package = MakePackage(InfoFor("x.txt", "x"), "x");
  WriteFile(Path("short.z"), package.substr(0, 351));
  EXPECT_EQ(Unpack(Path("short.z"), Path("out/")), R::zrCheckInputFailed);
  EXPECT_NE(ServiceLog().find("\tTZlibHandler.DoUnCompress: Error ReadInputFileInfo " + Path("short.z") + "\r\n"),
            std::string::npos);
  fHandler.SetInput(Path("short.z"));
  EXPECT_FALSE(fHandler.ReadInputFileInfo());

  WriteFile(Path("header-only.z"), package.substr(0, 352));
  EXPECT_EQ(Unpack(Path("header-only.z"), Path("out/")), R::zrCheckInputFailed);

  EXPECT_EQ(Unpack(Path("missing.z"), Path("out/")), R::zrInputFailed);
  EXPECT_NE(ServiceLog().find("--\r\nTZlibHandler.DoUnCompress: Error "), std::string::npos);
  EXPECT_EQ(Pack(Path("missing"), Path("missing.z")), R::zrInputFailed);
  EXPECT_FALSE(fs::exists(Path("missing.z")));
}

TEST_F(PackedFileTest, OutputNamesAndFolders) {
  const std::string payload = "named by the header";
  WriteFile(Path("p.z"), MakePackage(InfoFor("header-name.txt", payload), payload));
  std::string name;
  // A full file name overrides the header's name; a missing last folder is created.
  ASSERT_EQ(Unpack(Path("p.z"), Path("new/explicit.dat"), &name), R::zrOK);
  EXPECT_EQ(name, Path("new/explicit.dat"));
  EXPECT_EQ(ReadFile(name), payload);
  // Only one level is created.
  EXPECT_EQ(Unpack(Path("p.z"), Path("a/b/"), &name), R::zrOutputFailed);
  EXPECT_NE(ServiceLog().find("TZlibHandler.DoUnCompress: Error CreateDir " + Path("a/b/") + "\r\n"),
            std::string::npos);
  // No name anywhere.
  WriteFile(Path("noname.z"), MakePackage(InfoFor("", payload), payload));
  EXPECT_EQ(Unpack(Path("noname.z"), Path("out/")), R::zrOutputFailed);
  EXPECT_NE(ServiceLog().find("TZlibHandler.DoUnCompress: Error No FileName\r\n"), std::string::npos);
}

TEST_F(PackedFileTest, HeaderNamesCannotLeaveTheOutputFolder) {
  const std::string payload = "escape attempt";
  fs::create_directories(fDir / "out");
  for (const std::string& hostile : std::vector<std::string>{"../escaped.txt", "/tmp/escaped.txt", "sub/inner.txt",
                                                             "..", ".", std::string("a\0b", 3), "..\\escaped.txt"}) {
    SCOPED_TRACE(hostile);
    WriteFile(Path("evil.z"), MakePackage(InfoFor(hostile, payload), payload));
    std::string name;
    EXPECT_EQ(Unpack(Path("evil.z"), Path("out/"), &name), R::zrOutputFailed);
    EXPECT_NE(ServiceLog().find("TZlibHandler.DoUnCompress: Error Invalid FileName "), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(fDir / "escaped.txt"));
  EXPECT_TRUE(fs::is_empty(fDir / "out"));

  // A link at the target is replaced by the file, its destination left alone.
  WriteFile(Path("outside.txt"), "keep me");
  fs::create_symlink(fDir / "outside.txt", fDir / "out" / "linked.txt");
  WriteFile(Path("link.z"), MakePackage(InfoFor("linked.txt", payload), payload));
  ASSERT_EQ(Unpack(Path("link.z"), Path("out/")), R::zrOK);
  EXPECT_FALSE(fs::is_symlink(fDir / "out" / "linked.txt"));
  EXPECT_EQ(ReadFile(Path("out/linked.txt")), payload);
  EXPECT_EQ(ReadFile(Path("outside.txt")), "keep me");
}

TEST_F(PackedFileTest, ReadOnlyTargetIsReplacedAndAttributesApplied) {
  const std::string payload = "new content";
  fs::create_directories(fDir / "out");
  WriteFile(Path("out/ro.txt"), "old content");
  fs::permissions(Path("out/ro.txt"), fs::perms::owner_read | fs::perms::group_read);
  TZPackedFileInfo info = InfoFor("ro.txt", payload);
  info.Attr = faArchive | faReadOnly;
  WriteFile(Path("ro.z"), MakePackage(info, payload));
  ASSERT_EQ(Unpack(Path("ro.z"), Path("out/")), R::zrOK) << ServiceLog();
  EXPECT_EQ(ReadFile(Path("out/ro.txt")), payload);
  const auto perms = fs::status(Path("out/ro.txt")).permissions();
  EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none) << "read-only attribute applied";

  // Packing a read-only file records the attribute.
  ASSERT_EQ(Pack(Path("out/ro.txt"), Path("ro2.z")), R::zrOK);
  EXPECT_EQ(fHandler.FileInfo().Attr, faArchive | faReadOnly);
}

TEST_F(PackedFileTest, StampedProgramKeepsItsVersionAndStaysRunnable) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const auto version = Platform::GetFileVersion(self);
  ASSERT_TRUE(version);
  ASSERT_EQ(Pack(self, Path("self.z")), R::zrOK) << ServiceLog();
  EXPECT_EQ(fHandler.FileInfo().MajorNumber, version->Major);
  EXPECT_EQ(fHandler.FileInfo().MinorNumber, version->Minor);
  EXPECT_EQ(fHandler.FileInfo().ReleaseNumber, version->Release);
  EXPECT_EQ(fHandler.FileInfo().BuildNumber, version->Build);
  std::string name;
  ASSERT_EQ(Unpack(Path("self.z"), Path("bin/"), &name), R::zrOK);
  EXPECT_EQ(::access(name.c_str(), X_OK), 0);
  EXPECT_EQ(ReadFile(name), ReadFile(self));
  // Plain data does not become executable.
  WriteFile(Path("plain.txt"), "text");
  ASSERT_EQ(Pack(Path("plain.txt"), Path("plain.z")), R::zrOK);
  ASSERT_EQ(Unpack(Path("plain.z"), Path("bin/"), &name), R::zrOK);
  EXPECT_NE(::access(name.c_str(), X_OK), 0);
}

TEST_F(PackedFileTest, DamagedStreamAndOversizedOutputStopEarly) {
  // Broken zlib data behind a header whose checksums match it.
  TZPackedFileInfo info = InfoFor("broken.txt", RandomText(1000));
  std::string package = MakePackage(info, RandomText(1000));
  std::string packed = package.substr(PackedHeaderSize);
  packed[2] ^= 0xFF;
  packed[3] ^= 0xFF;
  info.PackedSize = static_cast<std::int32_t>(packed.size());
  info.PackedCRC = ReferenceCrc(packed);
  const TPackedHeaderBytes header = EncodePackedFileInfo(info);
  WriteFile(Path("broken.z"), std::string(reinterpret_cast<const char*>(header.data()), header.size()) + packed);
  EXPECT_EQ(Unpack(Path("broken.z"), Path("out/")), R::zrUnCompressionFailed);
  EXPECT_NE(ServiceLog().find("TZlibHandler.DoUnCompress: Error "), std::string::npos);

  // A header that claims 10 bytes for 16 MiB of zeros: unpacking stops within one block.
  const std::string zeros(16 * 1024 * 1024, '\0');
  TZPackedFileInfo bomb = InfoFor("bomb.bin", zeros);
  bomb.Size = 10;
  WriteFile(Path("bomb.z"), MakePackage(bomb, zeros));
  std::string name;
  EXPECT_EQ(Unpack(Path("bomb.z"), Path("out/"), &name), R::zrCheckOutputFailed);
  EXPECT_LE(fs::file_size(name), 10u + TZlibHandler::DefaultBufferSize);
}

TEST_F(PackedFileTest, CompressRefusesWhatCouldNotBeUnpacked) {
  WriteFile(Path("same.txt"), "precious");
  EXPECT_EQ(Pack(Path("same.txt"), Path("same.txt")), R::zrOutputFailed);
  EXPECT_EQ(ReadFile(Path("same.txt")), "precious");
  EXPECT_EQ(Pack(Path("same.txt"), Path("no/such/folder/x.z")), R::zrOutputFailed);
  EXPECT_NE(ServiceLog().find("--\r\nTZlibHandler.DoCompress: Error "), std::string::npos);

  WriteFile(Path("日本.txt"), "not in Windows-1252");
  EXPECT_EQ(Pack(Path("日本.txt"), Path("jp.z")), R::zrInputFailed);
  EXPECT_NE(ServiceLog().find("TZlibHandler.DoCompress: Error FileName not representable 日本.txt"), std::string::npos);
}

TEST_F(PackedFileTest, ProgressRunsFromZeroToHundredAndHandlerErrorsAreLogged) {
  WriteFile(Path("big.txt"), RandomText(5 * 65536 + 3));
  std::vector<int> packing, unpacking;
  fHandler.SetOnCompressProgress([&](TZlibHandler& aSender, int aPercentage) {
    EXPECT_EQ(aSender.Mode(), TZlibMode::zmCompress);
    packing.push_back(aPercentage);
  });
  fHandler.SetOnUnCompressProgress([&](TZlibHandler&, int aPercentage) {
    unpacking.push_back(aPercentage);
    throw std::runtime_error("progress handler failed");
  });
  ASSERT_EQ(Pack(Path("big.txt"), Path("big.z")), R::zrOK);
  ASSERT_EQ(Unpack(Path("big.z"), Path("out/")), R::zrOK);
  for (const auto* events : {&packing, &unpacking}) {
    ASSERT_GE(events->size(), 3u);
    EXPECT_EQ(events->front(), 0);
    EXPECT_EQ(events->back(), 100);
    EXPECT_TRUE(std::is_sorted(events->begin(), events->end()));
  }
  EXPECT_EQ(packing.size(), 8u);  // 0, one per block (6), 100
  EXPECT_NE(ServiceLog().find("--\r\nTZlibHandler.FZProgress: Error std::runtime_error: progress handler failed"),
            std::string::npos);
}

TEST(ZlibResult, Texts) {
  const std::pair<TZlibResult, const char*> texts[] = {
      {R::zrOK, "OK"},
      {R::zrInputFailed, "Input Error"},
      {R::zrOutputFailed, "Output Error"},
      {R::zrCompressionFailed, "Compression Error"},
      {R::zrUnCompressionFailed, "UnCompression Error"},
      {R::zrCRCFailed, "CRC Error"},
      {R::zrCheckInputFailed, "Input Check Error"},
      {R::zrCheckOutputFailed, "Output Check Error"},
      {R::zrIdentFailed, "File Header Error"},
      {R::zrVersionFailed, "Version Error"},
  };
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(static_cast<int>(texts[i].first), i);
    EXPECT_EQ(TZlibHandler::ZLibResultToString(texts[i].first), texts[i].second);
  }
}

}  // namespace
