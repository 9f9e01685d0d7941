#include "platform/paths/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace Platform::Paths {
namespace {

// Sets an environment variable for the life of the object and restores it afterwards.
class TScopedEnv {
 public:
  TScopedEnv(const char* aName, const char* aValue) : fName(aName) {
    if (const char* old = std::getenv(aName))
      fOld = old;
    aValue ? ::setenv(aName, aValue, 1) : ::unsetenv(aName);
  }
  ~TScopedEnv() { fOld ? ::setenv(fName, fOld->c_str(), 1) : ::unsetenv(fName); }

 private:
  const char* fName;
  std::optional<std::string> fOld;
};

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
  std::filesystem::path base = std::filesystem::temp_directory_path() / ("qv-paths-" + std::to_string(getpid()));
  EXPECT_TRUE(ForceDirectories((base / "a/b/c").string()));
  EXPECT_TRUE(std::filesystem::is_directory(base / "a/b/c"));
  std::filesystem::remove_all(base);
  EXPECT_FALSE(ForceDirectories("/proc/qv-cannot-exist/x"));
}

}  // namespace
}  // namespace Platform::Paths
