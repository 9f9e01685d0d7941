// Runs the quorvane-feed program: build a feed from a sample tree, unpack every package
// with "quorvane-feed unpack" and compare the result with the tree.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "service/formats/crc.h"
#include "service/formats/dos_date.h"
#include "service/formats/packed_file.h"
#include "service/formats/structure.h"
#include "tests/support/temp_dir.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;
using QuorvaneTest::ReadFile;

struct TRun {
  int Status = -1;
  std::string Output;  // standard output and error
};

std::string Quote(const std::string& aText) {
  std::string quoted = "'";
  for (const char c : aText) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

class FeedBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fTool = QUORVANE_FEED_TOOL;
    ASSERT_TRUE(fs::exists(fTool)) << fTool;
  }

  TRun Run(const std::vector<std::string>& aArgs) const {
    std::string command = Quote(fTool.string());
    for (const std::string& arg : aArgs) {
      command += " " + Quote(arg);
    }
    const fs::path output = fDir / "output.txt";
    command += " >" + Quote(output.string()) + " 2>&1";
    TRun run;
    const int status = std::system(command.c_str());
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Output = ReadFile(output);
    return run;
  }

  // A file with content and a modification time of even seconds (DOS time resolution).
  void MakeFile(const fs::path& aRelative, const std::string& aContent, std::time_t aTime) {
    const fs::path path = fDir / "src" / aRelative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << aContent;
    SetTime(path, aTime);
  }
  static void SetTime(const fs::path& aPath, std::time_t aTime) {
    const timespec times[2] = {{aTime, 0}, {aTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, aPath.c_str(), times, 0), 0);
  }
  static std::time_t ModificationTime(const fs::path& aPath) {
    struct stat info {};
    EXPECT_EQ(::stat(aPath.c_str(), &info), 0);
    return info.st_mtim.tv_sec;
  }
  void MakeSampleTree() {
    std::string binary;
    for (int i = 0; i < 256; ++i) {
      binary += static_cast<char>(i);
    }
    std::mt19937 random(42);
    std::string large(200000, '\0');
    for (char& c : large) {
      c = static_cast<char>(random() % 7);  // compressible, but not trivially
    }
    MakeFile("app.bin", binary, 1700000000);
    MakeFile("empty.txt", "", 1600000002);
    MakeFile("Hilfe/Größe und Maße.txt", "Ä Ö Ü\r\n", 1650000004);
    MakeFile("Hilfe/Bilder/large.dat", large, 1690000006);
    MakeFile("Hilfe/Bilder/exactly65536.dat", std::string(65536, 'x'), 1690000008);
  }
  std::vector<std::string> BuildArgs() const {
    return {"build",
            "--out",
            (fDir / "feed").string(),
            "--name",
            "Quorvane",
            "--channel",
            "Release:rel",
            "--version",
            "4.2",
            "--eula",
            "2",
            "--module",
            "Program=" + (fDir / "src").string(),
            "--channel",
            "Test:test:Beta",
            "--version",
            "4.3.0.1",
            "--module",
            "Program=" + (fDir / "src").string() + "@[ProgramDataDir],compare=checksum,sync",
            "--quiet"};
  }

  fs::path fTool;
  QuorvaneTest::TTempDir fDir{"feed_build"};
};

TEST_F(FeedBuildTest, BuildThenUnpackReproducesTheTree) {
  MakeSampleTree();
  const TRun build = Run(BuildArgs());
  ASSERT_EQ(build.Status, 0) << build.Output;

  EXPECT_EQ(ReadFile(fDir / "feed" / "meta.json"),
            "{\r\n"
            "  \"name\" : \"Quorvane\",\r\n"
            "  \"channels\" : [\r\n"
            "    {\r\n"
            "      \"name\" : \"Release\",\r\n"
            "      \"subpath\" : \"rel\",\r\n"
            "      \"type\" : \"\",\r\n"
            "      \"version\" : \"4.2.0.0\",\r\n"
            "      \"eula-version\" : 2,\r\n"
            "      \"modules\" : [\r\n"
            "        {\r\n"
            "          \"name\" : \"Program\",\r\n"
            "          \"type\" : \"\",\r\n"
            "          \"manifest\" : \"Program.xml\"\r\n"
            "        }\r\n"
            "      ]\r\n"
            "    },\r\n"
            "    {\r\n"
            "      \"name\" : \"Test\",\r\n"
            "      \"subpath\" : \"test\",\r\n"
            "      \"type\" : \"Beta\",\r\n"
            "      \"version\" : \"4.3.0.1\",\r\n"
            "      \"eula-version\" : 0,\r\n"
            "      \"modules\" : [\r\n"
            "        {\r\n"
            "          \"name\" : \"Program\",\r\n"
            "          \"type\" : \"\",\r\n"
            "          \"manifest\" : \"Program.xml\"\r\n"
            "        }\r\n"
            "      ]\r\n"
            "    }\r\n"
            "  ]\r\n"
            "}\r\n");

  // The packed structure unpacks to the structure file next to it.
  const fs::path zml = fDir / "unpacked-zml" / "";
  ASSERT_EQ(Run({"unpack", (fDir / "feed" / "rel" / "Program.zml").string(), zml.string()}).Status, 0);
  EXPECT_EQ(ReadFile(zml / "Program.xml"), ReadFile(fDir / "feed" / "rel" / "Program.xml"));

  TMainStructCollection structure;
  ASSERT_TRUE(structure.LoadFromFile((zml / "Program.xml").string()));
  ASSERT_EQ(structure.Count(), 1u);
  EXPECT_EQ(structure.GetItem(0).FName, "Program");
  EXPECT_EQ(structure.GetItem(0).FSpecialDir, "[InstallDir]");
  EXPECT_EQ(structure.GeObjectsCount(), 5);

  // Unpack every package the structure names into a fresh tree, folder by folder.
  TCalcStreamCRC crc;
  int files = 0;
  const std::function<void(const TStructCollection&, const fs::path&)> unpackAll = [&](const TStructCollection& aItems,
                                                                                       const fs::path& aRelative) {
    for (std::size_t i = 0; i < aItems.Count(); ++i) {
      const TStructItem& item = aItems.Items(i);
      if (item.FIsDirectory) {
        ASSERT_NE(item.Dir(), nullptr) << item.FName;
        unpackAll(item.Dir()->Items(), aRelative / item.FName);
        continue;
      }
      const TFileInfo& info = *item.FileInfo();
      const fs::path source = fDir / "src" / aRelative / item.FName;
      const fs::path package = fDir / "feed" / "rel" / "Program" / aRelative / info.FPackedName;
      EXPECT_EQ(info.FPackedName, item.FName + ".z");
      EXPECT_EQ(info.FSize, static_cast<std::int32_t>(fs::file_size(source)));
      EXPECT_EQ(info.FPackedSize, static_cast<std::int32_t>(fs::file_size(package) - PackedHeaderSize));
      std::uint32_t sourceCrc = 0;
      ASSERT_TRUE(crc.GetFileCrc(source.string(), sourceCrc));
      EXPECT_EQ(static_cast<std::uint32_t>(info.FCrc), sourceCrc);
      EXPECT_EQ(info.FTime, GetFileDate(source.string()));
      EXPECT_EQ(info.FCompareMode, fcmDefault);

      const fs::path target = fDir / "unpacked" / aRelative / "";
      fs::create_directories(target);
      const TRun unpack = Run({"unpack", package.string(), target.string()});
      ASSERT_EQ(unpack.Status, 0) << unpack.Output;
      EXPECT_EQ(ReadFile(target / item.FName), ReadFile(source)) << source;
      EXPECT_EQ(ModificationTime(target / item.FName), ModificationTime(source)) << source;
      ++files;
    }
  };
  unpackAll(structure.GetItem(0).Dir()->Items(), "");
  EXPECT_EQ(files, 5);

  // The second channel carries its own install root, compare mode and sync flag.
  TMainStructCollection test;
  ASSERT_TRUE(test.LoadFromFile((fDir / "feed" / "test" / "Program.xml").string()));
  EXPECT_EQ(test.GetItem(0).FSpecialDir, "[ProgramDataDir]");
  EXPECT_TRUE(test.GetItem(0).Dir()->FSync);
  EXPECT_EQ(test.GetItem(0).Dir()->Items().GetFileByName("app.bin")->FileInfo()->FCompareMode, fcmCheckSum);
  EXPECT_TRUE(fs::exists(fDir / "feed" / "test" / "Program" / "Hilfe" / "Bilder" / "large.dat.z"));
}

TEST_F(FeedBuildTest, RebuildKeepsPackagesOfUnchangedFiles) {
  MakeSampleTree();
  std::vector<std::string> args = BuildArgs();
  args.pop_back();  // with progress lines
  ASSERT_EQ(Run(args).Status, 0);
  const fs::path appPackage = fDir / "feed" / "rel" / "Program" / "app.bin.z";
  const fs::path largePackage = fDir / "feed" / "rel" / "Program" / "Hilfe" / "Bilder" / "large.dat.z";
  const auto appWritten = fs::last_write_time(appPackage);

  const TRun unchanged = Run(args);
  ASSERT_EQ(unchanged.Status, 0) << unchanged.Output;
  EXPECT_NE(unchanged.Output.find("Program: 5 files, 0 packed, 5 kept"), std::string::npos) << unchanged.Output;
  EXPECT_EQ(fs::last_write_time(appPackage), appWritten);

  // Same size and same time, other content: found by the checksum.
  std::string large = ReadFile(fDir / "src" / "Hilfe" / "Bilder" / "large.dat");
  large[1000] = static_cast<char>(large[1000] + 1);
  MakeFile("Hilfe/Bilder/large.dat", large, 1690000006);
  // A damaged package is made again.
  fs::resize_file(appPackage, fs::file_size(appPackage) - 1);
  const TRun changed = Run(args);
  ASSERT_EQ(changed.Status, 0) << changed.Output;
  EXPECT_NE(changed.Output.find("Program: 5 files, 2 packed, 3 kept"), std::string::npos) << changed.Output;

  const fs::path target = fDir / "check" / "";
  ASSERT_EQ(Run({"unpack", largePackage.string(), target.string()}).Status, 0);
  EXPECT_EQ(ReadFile(target / "large.dat"), large);
  ASSERT_EQ(Run({"unpack", appPackage.string(), target.string()}).Status, 0);
  EXPECT_EQ(ReadFile(target / "app.bin"), ReadFile(fDir / "src" / "app.bin"));
}

TEST_F(FeedBuildTest, WrongArgumentsAndSourcesAreRefused) {
  const std::string src = (fDir / "src").string();
  fs::create_directories(src);
  const std::string out = (fDir / "feed").string();
  struct TCase {
    std::vector<std::string> Args;
    int Status;
    const char* Message;
  };
  const TCase cases[] = {
      {{"build", "--out", out, "--name", "N", "--channel", "R", "--module", "P=" + src}, 2, "--version is missing"},
      {{"build", "--out", out, "--name", "N", "--version", "1"}, 2, "must follow a --channel"},
      {{"build", "--out", out, "--name", "N", "--channel", "R", "--version", "1.x"}, 2, "must be a number"},
      {{"build", "--out", out, "--name", "N", "--channel", "R", "--version", "1", "--module",
        "P=" + src + ",compare=md5"},
       2,
       "unknown compare mode"},
      {{"build", "--out", out, "--name", "N", "--channel", "R:../up", "--version", "1"}, 2, "plain folder name"},
      {{"build", "--out", out, "--name", "N", "--channel", "R", "--version", "1", "--module", "../P=" + src},
       2,
       "plain file name"},
      {{"build", "--out", out, "--name", "N", "--channel", "R", "--version", "1", "--module",
        "P=" + (fDir / "missing").string()},
       1,
       "does not exist"},
      {{"build", "--bogus"}, 2, "unknown argument"},
  };
  for (const TCase& test : cases) {
    const TRun run = Run(test.Args);
    EXPECT_EQ(run.Status, test.Status) << run.Output;
    EXPECT_NE(run.Output.find(test.Message), std::string::npos) << run.Output;
  }
  EXPECT_FALSE(fs::exists(fDir / "feed" / "meta.json"));

  const TRun help = Run({"build", "--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Output.find("Usage: quorvane-feed build"), std::string::npos);
}

}  // namespace
}  // namespace Update::Service
