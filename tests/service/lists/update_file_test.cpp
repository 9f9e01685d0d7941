#include "service/lists/update_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service/formats/packed_file.h"
#include "service/host/log.h"
#include "tests/service/host/service_log_dir.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;
using QuorvaneTest::ReadFile;

class UpdateFileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(fDir / "dl");
    fs::create_directories(fDir / "src");
  }
  // A package in dl/ of a source file named aName with aContent.
  std::string Pack(const std::string& aName, const std::string& aContent, const std::string& aPackage) {
    std::ofstream(fDir / "src" / aName, std::ios::binary) << aContent;
    fZip.SetInput((fDir / "src" / aName).string());
    fZip.SetOutput((fDir / "dl" / aPackage).string());
    EXPECT_EQ(fZip.Compress(), TZlibResult::zrOK);
    return (fDir / "dl" / aPackage).string();
  }
  std::string In(const char* aFolder, const std::string& aName) const { return (fDir / aFolder / aName).string(); }

  QuorvaneTest::TServiceLogDir fDir{"update_file"};
  TZlibHandler fZip;
};

TEST_F(UpdateFileListTest, CountsByStatusAndSet) {
  TUpdateFileList files;
  files.Add(TUpdateFile("u1", "l1", fsDownload_Complete, "t1"));
  files.Add(TUpdateFile("u2", "l2", fsDownload_Error, "t2"));
  files.Add(TUpdateFile("u3", "l3", fsDownload_Complete, "t3"));
  EXPECT_EQ(files.GetCount(fsDownload_Complete), 2);
  EXPECT_EQ(files.GetCount(fsNA), 0);
  EXPECT_EQ(files.GetCount({fsDownload_Error, fsDownload_Complete}), 3);
  EXPECT_EQ(files.GetCount({}), 0);
  const TUpdateFileList copy = files;  // entries are values
  files.Clear();
  EXPECT_EQ(copy.Count(), 3u);
  EXPECT_EQ(copy.Items(1).TempFile, "t2");
}

TEST_F(UpdateFileListTest, UnCompressUnpacksMovesAndReports) {
  TUpdateFileList files;
  // 0: not packed (local = temporary file): left alone.
  std::ofstream(fDir / "dl" / "meta.json") << "{}";
  files.Add(TUpdateFile("u", In("dl", "meta.json"), fsDownload_Complete, In("dl", "meta.json")));
  // 1: the header names the local file itself: no move.
  const std::string same = Pack("Program.xml", "<STRUCT/>", "Program.zml");
  files.Add(TUpdateFile("u", In("dl", "Program.xml"), fsDownload_Complete, same));
  // 2: unpacked under the header's name, then moved to a read-only local file it replaces.
  const std::string other = Pack("packed-name.txt", "new content", "b.z");
  std::ofstream(fDir / "src" / "old") << "old";
  fs::create_directories(fDir / "inst");
  fs::copy_file(fDir / "src" / "old", fDir / "inst" / "b.txt");
  fs::permissions(fDir / "inst" / "b.txt", fs::perms::owner_read);
  files.Add(TUpdateFile("u", In("inst", "b.txt"), fsInstall_Active, other));
  // 3: not a package at all.
  std::ofstream(fDir / "dl" / "broken.z") << "not a package";
  files.Add(TUpdateFile("u", In("inst", "broken.txt"), fsDownload_Complete, In("dl", "broken.z")));
  // 4: a status that is not unpacked.
  const std::string failed = Pack("c.txt", "c", "c.z");
  files.Add(TUpdateFile("u", In("inst", "c.txt"), fsDownload_Error, failed));
  // 5: the local folder is missing, so the move fails.
  const std::string lost = Pack("d.txt", "d", "d.z");
  files.Add(TUpdateFile("u", In("missing", "d.txt"), fsDownload_Complete, lost));

  EXPECT_FALSE(files.UnCompress(fZip));

  EXPECT_EQ(files.Items(0).Status, fsDownload_Complete);
  EXPECT_EQ(ReadFile(fDir / "dl" / "meta.json"), "{}");
  EXPECT_EQ(files.Items(1).Status, fsInstall_Complete);
  EXPECT_EQ(ReadFile(fDir / "dl" / "Program.xml"), "<STRUCT/>");
  EXPECT_FALSE(fs::exists(same));
  EXPECT_EQ(files.Items(2).Status, fsInstall_Complete);
  EXPECT_EQ(ReadFile(fDir / "inst" / "b.txt"), "new content");
  EXPECT_FALSE(fs::exists(fDir / "dl" / "packed-name.txt"));
  EXPECT_FALSE(fs::exists(other));
  EXPECT_EQ(files.Items(3).Status, fsInstall_ErrorUncompress);
  EXPECT_FALSE(fs::exists(fDir / "dl" / "broken.z"));
  EXPECT_EQ(files.Items(4).Status, fsDownload_Error);
  EXPECT_TRUE(fs::exists(failed));
  EXPECT_EQ(files.Items(5).Status, fsInstall_Error);
  EXPECT_FALSE(fs::exists(lost));

  const std::string log = ReadFile(fDir / "log" / FileName_ServiceLog);
  EXPECT_NE(log.find("\tUnCompress failed: " + TZlibHandler::ZLibResultToString(TZlibResult::zrCheckInputFailed) +
                     ", " + In("inst", "broken.txt") + "\r\n"),
            std::string::npos)
      << log;
}

TEST_F(UpdateFileListTest, UnCompressOfNothingToDoSucceeds) {
  TUpdateFileList files;
  EXPECT_TRUE(files.UnCompress(fZip));
  files.Add(TUpdateFile("u", In("dl", "x"), fsDownload_Complete, In("dl", "x")));
  files.Add(TUpdateFile("u", In("dl", "y"), fsNA, In("dl", "y.z")));
  EXPECT_TRUE(files.UnCompress(fZip));
  EXPECT_EQ(files.Items(1).Status, fsNA);
}

}  // namespace
}  // namespace Update::Service
