#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace QuorvaneTest {
namespace {

namespace fs = std::filesystem;

// The value of an environment variable, nullopt when unset.
std::optional<std::string> Env(const char* aName) {
  const char* value = std::getenv(aName);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(TempDir, FreshEmptyFoldersBelowTmpdirEachTimeAndGoneAfterwards) {
  TTempDir outer("outer");
  TScopedEnv tmp("TMPDIR", outer.Path().string());
  fs::path first;
  {
    TTempDir a("case");
    TTempDir b("case");
    first = a.Path();
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(a.Path().parent_path(), outer.Path()) << "follows TMPDIR";
    EXPECT_EQ(a.Path().filename().string().rfind("qv_case_", 0), 0u) << a.Path();
    EXPECT_TRUE(fs::is_directory(a.Path()));
    EXPECT_TRUE(fs::is_empty(a.Path()));
    EXPECT_EQ(a.Dir(), a.Path().string() + "/");
    EXPECT_EQ(a.File("x/y.txt"), a.Path().string() + "/x/y.txt");
    EXPECT_EQ(a / "x", a.Path() / "x");
  }
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::is_empty(outer.Path()));
}

TEST(TempDir, RemovalGetsPastReadOnlyEntriesAndLeavesLinkTargetsAlone) {
  TTempDir outside("outside");
  const std::string kept = outside.Write("kept.txt", "keep");
  fs::permissions(kept, fs::perms::owner_read);
  fs::path removed;
  {
    TTempDir dir("removal");
    removed = dir.Path();
    dir.Write("locked/deeper/file.txt", "x");
    fs::permissions(dir / "locked/deeper/file.txt", fs::perms::none);
    fs::permissions(dir / "locked/deeper", fs::perms::none);
    fs::permissions(dir / "locked", fs::perms::owner_read);
    fs::create_symlink(kept, dir / "link.txt");
    fs::create_directory_symlink(outside.Path(), dir / "link-dir");
  }
  EXPECT_FALSE(fs::exists(removed));
  EXPECT_EQ(ReadFile(kept), "keep");
  EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_read) << "a link is never followed";
  fs::permissions(kept, fs::perms::owner_all);
}

TEST(TempDir, FileHelpers) {
  TTempDir dir("files");
  EXPECT_EQ(dir.Write("a/b/c.bin", std::string("\0\xff\r\n", 4)), dir.File("a/b/c.bin"));
  EXPECT_EQ(ReadFile(dir / "a/b/c.bin"), std::string("\0\xff\r\n", 4)) << "bytes, no line-end translation";
  WriteFile(dir / "a/b/c.bin", "short");
  EXPECT_EQ(dir.Read("a/b/c.bin"), "short") << "replaced, not appended";
  EXPECT_EQ(ReadFile(dir / "missing"), "");
  EXPECT_THROW(WriteFile(dir / "no-folder/x.txt", "x"), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir / "no-folder"));
}

TEST(TempDir, UncreatableFolderThrows) {
  TScopedEnv tmp("TMPDIR", "/proc/qv-no-such-folder");
  // temp_directory_path refuses a TMPDIR that is no folder, mkdtemp a folder it cannot write.
  EXPECT_ANY_THROW(TTempDir("never"));
}

TEST(ScopedEnv, RestoresSetUnsetAndRepeatedVariablesInTheirEarlierState) {
  ::setenv("QV_TEST_SET", "before", 1);
  ::unsetenv("QV_TEST_UNSET");
  {
    TScopedEnv env("QV_TEST_SET", nullptr);
    EXPECT_EQ(Env("QV_TEST_SET"), std::nullopt);
    env.Set("QV_TEST_SET", "second");
    env.Set("QV_TEST_UNSET", std::string("new"));
    env.Set("QV_TEST_UNSET", std::optional<std::string>(""));
    EXPECT_EQ(Env("QV_TEST_SET"), "second");
    EXPECT_EQ(Env("QV_TEST_UNSET"), "") << "set to empty is not unset";
    {
      TScopedEnv inner("QV_TEST_SET", "inner");
      EXPECT_EQ(Env("QV_TEST_SET"), "inner");
    }
    EXPECT_EQ(Env("QV_TEST_SET"), "second");
  }
  EXPECT_EQ(Env("QV_TEST_SET"), "before");
  EXPECT_EQ(Env("QV_TEST_UNSET"), std::nullopt);
  ::unsetenv("QV_TEST_SET");
}

TEST(TempRoot, PointsQuorvaneRootAtItselfAndBringsBackTheOldRoot) {
  TScopedEnv env("QUORVANE_ROOT", "/earlier/root");
  fs::path path;
  {
    TTempRoot root("root");
    path = root.Path();
    EXPECT_EQ(Env("QUORVANE_ROOT"), root.Path().string());
    EXPECT_TRUE(fs::is_directory(root.Path()));
  }
  EXPECT_EQ(Env("QUORVANE_ROOT"), "/earlier/root");
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace QuorvaneTest
