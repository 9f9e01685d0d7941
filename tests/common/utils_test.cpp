#include "common/utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/paths/paths.h"
#include "tests/support/temp_dir.h"

namespace Update::Common {
namespace {

TEST(UpdateUtils, CorrectUrlAndGetUrl) {
  EXPECT_EQ(TUpdateUtils::CorrectUrl("/", false), "");
  EXPECT_EQ(TUpdateUtils::CorrectUrl("", true), "");
  EXPECT_EQ(TUpdateUtils::CorrectUrl("a", true), "a/");
  EXPECT_EQ(TUpdateUtils::CorrectUrl("a/", true), "a/");
  EXPECT_EQ(TUpdateUtils::CorrectUrl("a//", false), "a/");  // only one slash removed

  struct TCase {
    const char* Main;
    const char* Path;
    bool IsFile;
    const char* Expected;
  };
  const TCase cases[] = {
      {"http://h/c", "meta.json", true, "http://h/c/meta.json"},
      {"http://h/c/", "meta.json", true, "http://h/c/meta.json"},
      {"h/c", "meta.json", true, "http://h/c/meta.json"},  // no scheme: http assumed
      {"http://h/c", "sub", false, "http://h/c/sub/"},
      {"http://h/c", "sub/", true, "http://h/c/sub"},
      {"http://h/c", "/x", true, "http://h/c//x"},  // no normalisation beyond that
      {"https://h", "", false, "https://h/"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TUpdateUtils::GetUrl(c.Main, c.Path, c.IsFile), c.Expected) << c.Main << " + " << c.Path;
  }
}

TEST(UpdateUtils, UrlAndPathKinds) {
  EXPECT_TRUE(TUpdateUtils::IsAbsoluteUrl("http://h/x"));
  EXPECT_FALSE(TUpdateUtils::IsAbsoluteUrl("://h"));           // scheme must not be empty
  EXPECT_FALSE(TUpdateUtils::IsAbsoluteUrl("/a?u=http://h"));  // a "/" before "://"
  EXPECT_FALSE(TUpdateUtils::IsAbsoluteUrl("h/x"));
  EXPECT_TRUE(TUpdateUtils::IsRelativeUrlFromRoot("/x"));
  EXPECT_FALSE(TUpdateUtils::IsRelativeUrlFromRoot(""));
  EXPECT_TRUE(TUpdateUtils::IsAbsolutePath("/a"));
  EXPECT_FALSE(TUpdateUtils::IsAbsolutePath("a/b"));
  EXPECT_FALSE(TUpdateUtils::IsAbsolutePath(""));
}

TEST(UpdateUtils, MakePathAbsoluteAndRelative) {
  struct TCase {
    const char* Base;
    const char* Path;
    const char* Absolute;
  };
  const TCase cases[] = {
      {"/a/b", "../c/d.txt", "/a/c/d.txt"},
      {"/a/b/", "./c/./d.txt", "/a/b/c/d.txt"},
      {"/a/b", "..\\c\\d.txt", "/a/c/d.txt"},  // Windows delimiters from feed content
      {"/a", "../../../x", "/x"},              // never above the root
      {"/a/b", "/abs/x", "/abs/x"},
      {"/a/b", "", ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TUpdateUtils::MakePathAbsolute(c.Base, c.Path), c.Absolute) << c.Base << " + " << c.Path;
  }
  // Relative paths are taken from the folder part of the base.
  EXPECT_EQ(TUpdateUtils::MakePathRelative("/a/b/meta.json", "/a/b/m/x.json"), "m/x.json");
  EXPECT_EQ(TUpdateUtils::MakePathRelative("/a/b/meta.json", "/a/c/x.json"), "../c/x.json");
  EXPECT_EQ(TUpdateUtils::MakePathRelative("/a/b/meta.json", "/a/b/x.json"), "x.json");
  EXPECT_EQ(TUpdateUtils::MakePathRelative("/a/b/meta.json", "rel/x.json"), "rel/x.json");
  EXPECT_EQ(TUpdateUtils::MakePathRelative("/a/b/meta.json", ""), "");
  // Round trip: relative to the manifest's folder and back.
  std::string relative = TUpdateUtils::MakePathRelative("/f/d/meta.json", "/f/e/g.zml");
  EXPECT_EQ(TUpdateUtils::MakePathAbsolute("/f/d/", relative), "/f/e/g.zml");

  EXPECT_EQ(TUpdateUtils::GetDirectoryName("/a/bb/"), "bb");
  EXPECT_EQ(TUpdateUtils::GetDirectoryName("/a/bb"), "bb");
}

TEST(UpdateUtils, FormatFileSize) {
  TNumberFormat english;  // "." and ","
  TNumberFormat german{",", ".", 3};
  struct TCase {
    std::int64_t Bytes;
    bool Long;
    const char* English;
    const char* German;
  };
  const TCase cases[] = {
      {0, false, "0 Bytes", "0 Bytes"},
      {1023, false, "1023 Bytes", "1023 Bytes"},
      {1024, false, "1.00 KB", "1,00 KB"},
      {10240, false, "10.0 KB", "10,0 KB"},
      {102400, false, "100 KB", "100 KB"},
      {1048576, false, "1.00 MB", "1,00 MB"},
      {1536, true, "1.50 KB (1,536 Bytes)", "1,50 KB (1.536 Bytes)"},
      {5LL * 1024 * 1024 * 1024, false, "5.00 GB", "5,00 GB"},
      {2000LL * 1024 * 1024 * 1024, true, "2000 GB (2,147,483,648,000 Bytes)", "2000 GB (2.147.483.648.000 Bytes)"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TUpdateUtils::FormatFileSize(c.Bytes, c.Long, english), c.English);
    EXPECT_EQ(TUpdateUtils::FormatFileSize(c.Bytes, c.Long, german), c.German);
  }
  // The C locale has no grouping: the English form is used.
  ::setenv("LC_ALL", "C", 1);
  EXPECT_EQ(TUpdateUtils::FormatFileSize(1536, true), "1.50 KB (1,536 Bytes)");
  ::unsetenv("LC_ALL");
}

TEST(UpdateUtils, DateTimeToStrOmitsMidnight) {
  EXPECT_EQ(TUpdateUtils::DateTimeToStr(Platform::TDateTime::Encode(2016, 3, 4)), "2016-03-04");
  EXPECT_EQ(TUpdateUtils::DateTimeToStr(Platform::TDateTime::Encode(2016, 3, 4, 5, 6, 7)), "2016-03-04 05:06:07");
}

TEST(UpdateUtils, Buffers) {
  EXPECT_FALSE(TUpdateUtils::GetBoolFromBuffer(""));
  EXPECT_FALSE(TUpdateUtils::GetBoolFromBuffer(std::string("\0\1", 2)));
  EXPECT_TRUE(TUpdateUtils::GetBoolFromBuffer("\x02"));
  EXPECT_EQ(TUpdateUtils::GetStringFromBuffer(std::string("\x41\x00\x42", 3)), "A");
  EXPECT_EQ(TUpdateUtils::GetStringFromBuffer(""), "");
  EXPECT_EQ(TUpdateUtils::GetStringFromBuffer(std::string("\xe4\x00\xac\x20", 4)), "\xc3\xa4\xe2\x82\xac");
}

TEST(UpdateUtils, FilesAndFolders) {
  QuorvaneTest::TTempDir folder("utils");
  std::filesystem::create_directories(folder / "sub/deeper");
  std::string file = folder.Write("sub/f.bin", "12345");

  TSearchRec info;
  ASSERT_TRUE(TUpdateUtils::GetFileInfo(file, info));
  EXPECT_EQ(info.Name, "f.bin");
  EXPECT_EQ(info.Size, 5);
  EXPECT_GT(info.Time.Value(), Platform::TDateTime::Encode(2020, 1, 1).Value());
  EXPECT_EQ(TUpdateUtils::GetFileSize(file), 5);
  EXPECT_FALSE(TUpdateUtils::GetFileInfo((folder / "sub").string(), info));  // a folder is not a file
  EXPECT_EQ(TUpdateUtils::GetFileSize((folder / "none").string()), -1);

  EXPECT_EQ(TUpdateUtils::GetLongPathName((folder / "sub/../sub/f.bin").string()), file);
  EXPECT_EQ(TUpdateUtils::GetLongPathName("/no/such/file"), "/no/such/file");

  TUpdateUtils::DeleteDirectory((folder / "sub/").string());
  EXPECT_FALSE(std::filesystem::exists(folder / "sub"));
  TUpdateUtils::DeleteDirectory(folder.File("missing"));  // nothing to do, no error
}

TEST(UpdateUtils, CompareFileVersionTakesTheFirstDifference) {
  struct TCase {
    const char* Left;
    const char* Right;
    int Expected;
  };
  const TCase cases[] = {
      {"1.2.3.4", "1.2.3.4", 0}, {"1.2.3.4", "1.2.3.5", -1},
      {"2.0.0.0", "1.9.9.9", 1}, {"1.10.0.0", "1.9.0.0", 1},  // numbers, not texts
      {"1.2", "1.2.0.0", 0},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TUpdateUtils::CompareFileVersion(TFileVersion(c.Left), TFileVersion(c.Right)), c.Expected)
        << c.Left << " vs " << c.Right;
  }
  EXPECT_EQ(TUpdateUtils::CompareFileVersion(TFileVersion(-1, 0, 0, 0), TFileVersion(0, 0, 0, 0)), -1);
}

TEST(UpdateUtils, FileVersionOfOurOwnProgramsOnly) {
  TFileVersion version = TFileVersion(9, 9, 9, 9);
  // The test program is stamped like every program of the build.
  ASSERT_TRUE(TUpdateUtils::GetFileVersion(Platform::Paths::ExecutablePath(), version));
  EXPECT_FALSE(version.IsEmpty());
  EXPECT_EQ(TUpdateUtils::GetFileVersion_AsString(Platform::Paths::ExecutablePath()), version.AsString());
  EXPECT_FALSE(TUpdateUtils::GetFileVersion("/etc/hostname", version));
  EXPECT_TRUE(version.IsEmpty());
  EXPECT_EQ(TUpdateUtils::GetFileVersion_AsString("/nonexistent"), "");
}

TEST(UpdateUtils, CacheBustingAppendsAFreshGuid) {
  std::string first = TUpdateUtils::GetUrlWithCacheBusting("http://h/meta.json");
  std::string second = TUpdateUtils::GetUrlWithCacheBusting("http://h/meta.json");
  ASSERT_EQ(first.size(), std::string("http://h/meta.json?").size() + 32);
  EXPECT_TRUE(first.starts_with("http://h/meta.json?"));
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef", 19), std::string::npos) << first;
  EXPECT_NE(first, second);
}

TEST(UpdateUtils, IsAppRunningComparesWholeExecutablePaths) {
  std::string self = Platform::Paths::ExecutablePath();
  EXPECT_TRUE(TUpdateUtils::IsAppRunning(self));
  // The same name in another folder is another program.
  EXPECT_FALSE(TUpdateUtils::IsAppRunning("/nonexistent/" + Platform::Paths::ExtractFileName(self)));
  EXPECT_FALSE(TUpdateUtils::IsAppRunning(""));
}

}  // namespace
}  // namespace Update::Common
