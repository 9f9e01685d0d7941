#include "platform/paths/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace Platform::Paths {
namespace {

using QuorvaneTest::TScopedEnv;

TEST(Paths, MachineFoldersFollowThePrefix) {
  struct TCase {
    std::string (*Folder)();
    const char* Expected;
  };
  const TCase cases[] = {
      {CommonFilesDir, "usr/share/"}, {ProgramFilesDir, "opt/"}, {ProgramDataDir, "var/lib/"},
      {WindowsDir, "etc/"},           {SystemDir, "usr/lib/"},   {RunDir, "run/"},
  };
  {
    TScopedEnv root("QUORVANE_ROOT", nullptr);
    for (const TCase& c : cases)
      EXPECT_EQ(c.Folder(), std::string("/") + c.Expected);
  }
  {
    TScopedEnv root("QUORVANE_ROOT", "/tmp/qv-root");  // no trailing "/"
    for (const TCase& c : cases)
      EXPECT_EQ(c.Folder(), std::string("/tmp/qv-root/") + c.Expected);
    EXPECT_EQ(UnderRoot("//etc/x"), "/tmp/qv-root/etc/x");
  }
}

TEST(Paths, UserFoldersAreRelocatedBelowAPrefixOnly) {
  TScopedEnv config("XDG_CONFIG_HOME", "/home/u/.cfg");
  TScopedEnv runtime("XDG_RUNTIME_DIR", "relative/ignored");
  TScopedEnv home("HOME", "/home/u");
  {
    TScopedEnv root("QUORVANE_ROOT", "");
    EXPECT_EQ(UserConfigDir(), "/home/u/.cfg/");
    EXPECT_EQ(UserRuntimeDir(), "/run/user/" + std::to_string(getuid()) + "/");
  }
  TScopedEnv root("QUORVANE_ROOT", "/tmp/r/");
  EXPECT_EQ(UserConfigDir(), "/tmp/r/home/u/.cfg/");
  TScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(UserConfigDir(), "/tmp/r/home/u/.config/");
}

TEST(Paths, ExecutableAndCanonicalPaths) {
  std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(ExtractFileName(exe), "paths_test");
  EXPECT_EQ(ExecutableDir() + "paths_test", exe);
  EXPECT_EQ(CanonicalPath(ExecutableDir() + "./../" + ExtractFileName(ExcludeTrailingDelimiter(ExecutableDir())) +
                          "/paths_test"),
            exe);
  EXPECT_EQ(CanonicalPath("/nonexistent/qv"), std::nullopt);
  EXPECT_EQ(CanonicalPath(""), std::nullopt);
}

TEST(Paths, LexicalHelpers) {
  EXPECT_EQ(IncludeTrailingDelimiter(""), "/");
  EXPECT_EQ(IncludeTrailingDelimiter("/a/"), "/a/");
  EXPECT_EQ(ExcludeTrailingDelimiter("/a/"), "/a");
  EXPECT_EQ(ExcludeTrailingDelimiter("/"), "/");
  EXPECT_EQ(ExtractFileName("/a/b.txt"), "b.txt");
  EXPECT_EQ(ExtractFileName("b.txt"), "b.txt");
  EXPECT_EQ(ExtractFilePath("/a/b.txt"), "/a/");
  EXPECT_EQ(ExtractFilePath("b.txt"), "");
}

TEST(Paths, ForceDirectoriesCreatesParents) {
  QuorvaneTest::TTempDir base("paths");
  EXPECT_TRUE(ForceDirectories(base.File("a/b/c")));
  EXPECT_TRUE(std::filesystem::is_directory(base / "a/b/c"));
  EXPECT_FALSE(ForceDirectories("/proc/qv-cannot-exist/x"));
}

}  // namespace
}  // namespace Platform::Paths
