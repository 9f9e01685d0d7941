#include "service/lists/delete_me_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace Update::Service {
namespace {

using TType = TDeleteMeItem::TType;

TEST(DeleteMeListTest, EqualPathsWithoutCaseAndSameTypeAreOneItem) {
  TDeleteMeList list;
  TDeleteMeItem& first = list.NewItem("/opt/Quorvane/Old.dll", TType::dmFile);
  TDeleteMeItem& again = list.NewItem("/OPT/quorvane/old.DLL", TType::dmFile);
  EXPECT_EQ(&first, &again);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Items(0).Path(), "/opt/Quorvane/Old.dll");  // the first spelling stays

  list.NewItem("/opt/quorvane/old.dll", TType::dmDirectory);
  list.NewItem("/opt/Quorvane/Other", TType::dmDirectory);
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items(1).Type(), TType::dmDirectory);
  EXPECT_EQ(list.Items(2).Path(), "/opt/Quorvane/Other");
}

TEST(DeleteMeListTest, PathsAreStoredAsTheirLongPathName) {
  namespace fs = std::filesystem;
  const QuorvaneTest::TTempDir temp("deleteme");
  const fs::path& dir = temp.Path();
  fs::create_directories(dir / "real" / "sub");
  fs::create_directory_symlink(dir / "real", dir / "link");
  std::ofstream(dir / "real" / "x.txt") << "x";

  TDeleteMeList list;
  TDeleteMeItem& viaLink = list.NewItem((dir / "link" / "x.txt").string(), TType::dmFile);
  EXPECT_EQ(viaLink.Path(), (dir / "real" / "x.txt").string());
  EXPECT_EQ(&list.NewItem((dir / "real" / "sub" / ".." / "x.txt").string(), TType::dmFile), &viaLink);
  EXPECT_EQ(list.Count(), 1u);
  // A path that does not exist cannot be resolved and is kept as given.
  EXPECT_EQ(list.NewItem((dir / "link" / "gone").string(), TType::dmFile).Path(), (dir / "link" / "gone").string());
}

}  // namespace
}  // namespace Update::Service
