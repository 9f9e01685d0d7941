#include "common/manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace Update::Common {
namespace {

constexpr const char* kTwoChannels = R"({
  "name": "Quorvane feed",
  "channels": [
    { "name": "Release", "subpath": "rel", "type": "stable", "version": "4.2.0.117", "eula-version": 2,
      "modules": [ { "name": "Core", "type": "program", "manifest": "rel/core.zml" },
                   { "name": "Help", "type": "", "manifest": "help.zml" } ] },
    { "name": "Beta", "version": "5", "modules": [] }
  ]
})";

TEST(MetaManifest, LoadsChannelsAndModules) {
  TUpdateMetaManifest manifest;
  ASSERT_TRUE(manifest.LoadFromJsonString(kTwoChannels));
  EXPECT_EQ(manifest.Name, "Quorvane feed");
  ASSERT_EQ(manifest.Channels().Count(), 2u);
  const TUpdateChannel* release = manifest.Channels().Items(0);
  EXPECT_EQ(release->GetDescription(), "Release (SubPath: rel, Type: stable, Version: 4.2.0.117, EulaVersion: 2)");
  ASSERT_EQ(release->Modules().Count(), 2u);
  EXPECT_EQ(release->Modules().Items(0)->GetDescription(), "Core (Type: program, Manifest: rel/core.zml)");
  EXPECT_EQ(release->Modules().Items(1)->GetDescription(), "Help (Manifest: help.zml)");
  const TUpdateChannel* beta = manifest.Channels().Items(1);
  EXPECT_EQ(beta->GetDescription(), "Beta (Version: 5.0.0.0, EulaVersion: 0)");
  EXPECT_EQ(beta->Modules().Count(), 0u);
}

TEST(MetaManifest, StructuralProblemsReportFalseAndKeepWhatWasLoaded) {
  struct TCase {
    const char* Json;
    bool Result;
    std::size_t Channels;
  };
  const TCase cases[] = {
      {R"({"channels":[{"name":"A","modules":[]}]})", true, 1},
      {R"({"channels":[{"name":"A"}]})", false, 1},                     // no modules: still loaded
      {R"({"channels":["text",{"name":"A","modules":[]}]})", true, 1},  // non-objects skipped
      {R"({"channels":[{"name":"A","modules":[]},{"name":"B","modules":5}]})", false, 2},
      {R"({"name":"x"})", false, 0},     // no channels
      {R"({"channels":{}})", false, 0},  // not an array
      {R"([1])", false, 0},
      {R"(not json)", false, 0},
      {"", false, 0},
  };
  for (const TCase& c : cases) {
    TUpdateMetaManifest manifest;
    manifest.Name = "stale";
    EXPECT_EQ(manifest.LoadFromJsonString(c.Json), c.Result) << c.Json;
    EXPECT_EQ(manifest.Channels().Count(), c.Channels) << c.Json;
    EXPECT_NE(manifest.Name, "stale") << c.Json;  // cleared first
  }
  // Members of the wrong type read as their zero value.
  TUpdateMetaManifest manifest;
  ASSERT_TRUE(manifest.LoadFromJsonString(
      R"({"name":5,"channels":[{"name":["x"],"version":4,"eula-version":"2","modules":[{"name":1,"manifest":null}]}]})"));
  const TUpdateChannel* channel = manifest.Channels().Items(0);
  EXPECT_EQ(manifest.Name, "");
  EXPECT_EQ(channel->Name, "");
  EXPECT_TRUE(channel->Version.IsEmpty());
  EXPECT_EQ(channel->EulaVersion, 0);
  EXPECT_EQ(channel->Modules().Items(0)->ManifestFile, "");
}

TEST(MetaManifest, SaveAndLoadBackWithTheKeyOrder) {
  TUpdateMetaManifest manifest;
  ASSERT_TRUE(manifest.LoadFromJsonString(kTwoChannels));
  QuorvaneTest::TTempDir folder("manifest");
  std::string file = folder.File("new/sub/meta.json");
  ASSERT_TRUE(manifest.SaveToFile(file));

  std::string text = QuorvaneTest::ReadFile(file);
  std::size_t last = 0;
  for (const char* key : {"\"name\"", "\"channels\"", "\"name\"", "\"subpath\"", "\"type\"", "\"version\"",
                          "\"eula-version\"", "\"modules\"", "\"name\"", "\"type\"", "\"manifest\""}) {
    std::size_t at = text.find(key, last);
    ASSERT_NE(at, std::string::npos) << key << " after " << last << " in " << text;
    last = at + 1;
  }

  TUpdateMetaManifest loaded;
  ASSERT_TRUE(loaded.LoadFromFile(file));
  EXPECT_EQ(loaded.SaveToJsonString(false), manifest.SaveToJsonString(false));
  EXPECT_EQ(loaded.Channels().Items(0)->Version.AsString(), "4.2.0.117");
  EXPECT_EQ(loaded.Channels().Items(0)->EulaVersion, 2);
  EXPECT_EQ(loaded.Channels().Items(0)->Modules().Items(1)->ManifestFile, "help.zml");
  EXPECT_FALSE(loaded.LoadFromFile(folder.File("missing.json")));
}

TEST(MetaManifest, AssignIsADeepCopy) {
  TUpdateMetaManifest source;
  ASSERT_TRUE(source.LoadFromJsonString(kTwoChannels));
  TUpdateMetaManifest copy;
  copy.Channels().New()->Name = "old";
  copy.Assign(source);
  EXPECT_EQ(copy.SaveToJsonString(false), source.SaveToJsonString(false));
  source.Channels().Items(0)->Modules().Items(0)->Name = "changed";
  EXPECT_EQ(copy.Channels().Items(0)->Modules().Items(0)->Name, "Core");
  EXPECT_NE(copy.Channels().Items(0), source.Channels().Items(0));
}

TEST(MetaManifest, PathOperationsRewriteEveryModule) {
  TUpdateMetaManifest manifest;
  ASSERT_TRUE(manifest.LoadFromJsonString(kTwoChannels));
  manifest.Channels().Items(0)->Modules().Items(1)->ManifestFile = "..\\shared\\help.zml";  // written on Windows
  manifest.MakePathsAbsolute("/var/dl/");
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(0)->ManifestFile, "/var/dl/rel/core.zml");
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(1)->ManifestFile, "/var/shared/help.zml");
  manifest.MakePathsRelative("/var/dl/meta.json");
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(0)->ManifestFile, "rel/core.zml");
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(1)->ManifestFile, "../shared/help.zml");
  manifest.DropPaths();
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(0)->ManifestFile, "core.zml");
  EXPECT_EQ(manifest.Channels().Items(0)->Modules().Items(1)->ManifestFile, "help.zml");
}

TEST(ChannelList, GetByNameAndListOperations) {
  TUpdateChannelList list;
  TUpdateChannel* release = list.New();
  release->Name = "Release";
  list.New()->Name = "release";  // a later duplicate is never found
  EXPECT_EQ(list.GetByName("release"), release);
  EXPECT_EQ(list.GetByName("RELEASE"), release);
  EXPECT_EQ(list.GetByName("Releases"), nullptr);
  EXPECT_EQ(list.GetByName(""), nullptr);
  EXPECT_EQ(list.FirstOrNil(), release);
  EXPECT_THROW(list.Items(2), std::out_of_range);
  int seen = 0;
  for (TUpdateChannel* channel : list) {
    EXPECT_NE(channel, nullptr);
    ++seen;
  }
  EXPECT_EQ(seen, 2);
  EXPECT_TRUE(list.Remove(release));
  EXPECT_FALSE(list.Remove(release));
  EXPECT_EQ(list.Count(), 1u);
  list.Clear();
  EXPECT_EQ(list.FirstOrNil(), nullptr);
}

}  // namespace
}  // namespace Update::Common
