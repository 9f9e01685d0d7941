#include "common/file_version.h"

#include <gtest/gtest.h>

#include "common/persist_json.h"

namespace {

using Update::Common::TFileVersion;

TEST(FileVersionTest, ParsesDottedTexts) {
  const struct {
    const char* Text;
    TFileVersion Expected;
  } cases[] = {
      {"4.2.0.117", {4, 2, 0, 117}},
      {"4", {4, 0, 0, 0}},
      {"4.x.1", {4, 0, 1, 0}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"1..2", {1, 2, 0, 0}},
      {".7.", {7, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"-1.+2.3a. 4", {-1, 2, 0, 0}},
      {"99999999999.1", {0, 1, 0, 0}},
      {"2147483647.-2147483648", {2147483647, -2147483648, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TFileVersion(c.Text), c.Expected) << c.Text;
  }
}

TEST(FileVersionTest, TextFormAndUpdates) {
  TFileVersion version;
  EXPECT_TRUE(version.IsEmpty());
  EXPECT_EQ(version.AsString(), "0.0.0.0");
  version.Update("4.2.0.117");
  EXPECT_EQ(version.AsString(), "4.2.0.117");
  EXPECT_FALSE(version.IsEmpty());
  version.Update("9");
  EXPECT_EQ(version, TFileVersion(9, 0, 0, 0)) << "a parse clears the old parts first";
  version.Update(1, -2, 3, 4);
  EXPECT_EQ(version.AsString(), "1.-2.3.4");
  version.Clear();
  EXPECT_TRUE(version.IsEmpty());
}

TEST(FileVersionTest, TravelsAsRecordWithoutInterceptor) {
  const TFileVersion version(1, 2, 3, 4);
  const std::string text =
      Update::Common::TPersist_Json::Record_SaveToJsonString(version, Update::Common::SaveOptions_Compact);
  EXPECT_EQ(text, R"({"Major":1,"Minor":2,"Release":3,"Build":4})");
  TFileVersion loaded;
  EXPECT_TRUE(Update::Common::TPersist_Json::Record_LoadFromJsonString(text, loaded));
  EXPECT_EQ(loaded, version);
}

}  // namespace
