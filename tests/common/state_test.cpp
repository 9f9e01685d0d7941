#include "common/state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/persist_json.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace Update::Common;
using Platform::TDateTime;
using Platform::TFakeClock;

TUpdateState SampleState() {
  TUpdateState state;
  state.FileCheck().StartTime = TDateTime::Encode(2026, 3, 4, 5, 6, 7, 89);
  state.FileCheck().EndTime = TDateTime::Encode(2026, 3, 4, 5, 16, 0, 0);
  state.Download().StartTime = TDateTime::Encode(2026, 3, 5);  // exactly midnight
  state.Download().Error = true;
  state.SetCanDownload(true);
  return state;
}

TEST(UpdateStateTest, GoldenPrettyFile) {
  const std::string expected =
      "{\r\n"
      "  \"fFileCheck\" : {\r\n"
      "    \"StartTime\" : \"2026-03-04 05:06:07.089\",\r\n"
      "    \"EndTime\" : \"2026-03-04 05:16:00.000\",\r\n"
      "    \"Error\" : false\r\n"
      "  },\r\n"
      "  \"fDownload\" : {\r\n"
      "    \"StartTime\" : \"2026-03-05\",\r\n"
      "    \"EndTime\" : \"1899-12-30\",\r\n"
      "    \"Error\" : true\r\n"
      "  },\r\n"
      "  \"fInstall\" : {\r\n"
      "    \"StartTime\" : \"1899-12-30\",\r\n"
      "    \"EndTime\" : \"1899-12-30\",\r\n"
      "    \"Error\" : false\r\n"
      "  },\r\n"
      "  \"fCanDownload\" : true,\r\n"
      "  \"fCanInstall\" : false\r\n"
      "}";
  EXPECT_EQ(SampleState().SaveToJson(true), expected);
}

TEST(UpdateStateTest, CompactRoundTripKeepsEveryField) {
  const TUpdateState state = SampleState();
  const std::string compact = state.SaveToJson(false);
  EXPECT_EQ(compact.rfind(R"({"fFileCheck":{"StartTime":"2026-03-04 05:06:07.089","EndTime":)", 0), 0u) << compact;
  EXPECT_EQ(compact.find('\n'), std::string::npos);
  TUpdateState loaded;
  loaded.LoadFromJson(compact);
  EXPECT_EQ(loaded, state);
}

TEST(UpdateStateTest, BadOrPartialInputLeavesResetValues) {
  for (const char* text : {"", "not json", "[1,2]", "\"x\"", "{\"fCanDownload\":", "{\"fFileCheck\":[{"}) {
    TUpdateState state = SampleState();
    state.LoadFromJson(text);
    EXPECT_EQ(state, TUpdateState()) << text;
  }
  TUpdateState state = SampleState();
  state.LoadFromJson(R"({"fCanInstall":true,"fCanDownload":"yes","fInstall":{"Error":true}})");
  EXPECT_TRUE(state.CanInstall());
  EXPECT_FALSE(state.CanDownload()) << "wrong JSON type gives the zero value";
  EXPECT_TRUE(state.Install().Error);
  EXPECT_FALSE(state.FileCheck().IsStarted()) << "missing member keeps its reset value";
}

TEST(UpdateStateTest, FolderSaveAndLoad) {
  const QuorvaneTest::TTempDir folder("state");
  TUpdateState loaded = SampleState();
  TUpdateState::LoadFromFolder(loaded, folder / "missing");
  EXPECT_EQ(loaded, TUpdateState()) << "missing file gives the reset state";

  TUpdateState::SaveToFolder(SampleState(), folder / "a" / "b");
  const auto file = folder / "a" / "b" / "update.state.json";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(QuorvaneTest::ReadFile(file), SampleState().SaveToJson(true))
      << "UTF-8 without byte-order mark, no final line break";
  TUpdateState::LoadFromFolder(loaded, folder / "a" / "b");
  EXPECT_EQ(loaded, SampleState());
}

TEST(UpdateProgressTest, GoldenCompactAndWholeRecordReplacement) {
  TUpdateProgress progress;
  progress.CurrentAction = usDownloading;
  progress.FilesDone = 3;
  progress.FilesTotal = 10;
  progress.BytesDone = 123456789012;
  progress.BytesTotal = 5000000000;
  const std::string text = progress.SaveToJson(false);
  EXPECT_EQ(text, R"({"CurrentAction":"usDownloading","FilesDone":3,"FilesTotal":10,"BytesDone":123456789012,)"
                  R"("BytesTotal":5000000000})");
  EXPECT_EQ(TUpdateProgress::Create(text), progress);

  progress.LoadFromJson(R"({"CurrentAction":"usInstalling","FilesDone":1})");
  EXPECT_EQ(progress.CurrentAction, usInstalling);
  EXPECT_EQ(progress.FilesDone, 1);
  EXPECT_EQ(progress.BytesTotal, 0) << "a record load replaces the whole record";

  progress.LoadFromJson(R"({"CurrentAction":"usUnknown","FilesDone":2})");
  EXPECT_EQ(progress.CurrentAction, usIdle) << "unknown name gives the first value";
  progress.LoadFromJson(R"({"CurrentAction":4})");
  EXPECT_EQ(progress.CurrentAction, usError) << "a number is the ordinal";
  progress.LoadFromJson("garbage");
  EXPECT_EQ(progress, TUpdateProgress());
}

TEST(UpdateStateItemTest, PhaseLifecycleAndExpiry) {
  TFakeClock clock(TDateTime::Encode(2026, 6, 1, 12));
  TUpdateStateItem item;
  EXPECT_FALSE(item.IsStarted());
  EXPECT_FALSE(item.IsExpired(clock)) << "never started never expires";
  item.Start(clock);
  EXPECT_TRUE(item.IsStarted());
  EXPECT_FALSE(item.IsFinished());
  clock.AdvanceMs(1000);
  item.Finish(true, clock);
  EXPECT_TRUE(item.IsFinished());
  EXPECT_TRUE(item.IsFinishedAndNotExpired(clock));
  EXPECT_EQ(item.StartTime, TDateTime::Encode(2026, 6, 1, 12)) << "Finish keeps the start time";

  // Ended 37 hours ago: finished and expired; as a failure it is judged from its start.
  TFakeClock later(TDateTime::Encode(2026, 6, 3, 1, 0, 1));
  EXPECT_TRUE(item.IsExpired(later));
  EXPECT_FALSE(item.IsFinishedAndNotExpired(later));
  TUpdateStateItem failed;
  failed.StartTime = TDateTime::Encode(2026, 6, 2, 0);
  failed.EndTime = TDateTime::Encode(2026, 6, 1, 12);
  failed.Error = true;
  EXPECT_FALSE(failed.IsFinished());
  EXPECT_FALSE(failed.IsExpired(later)) << "start 25 hours ago is not expired";
  TFakeClock boundary(TDateTime::Encode(2026, 6, 3, 12));
  EXPECT_FALSE(failed.IsExpired(boundary)) << "exactly 36 hours is not more than 36 hours";
  boundary.AdvanceMs(1);
  EXPECT_TRUE(failed.IsExpired(boundary));
}

TEST(UpdateStateItemTest, MidnightRoundTripsThroughDateAlone) {
  TUpdateStateItem item;
  item.StartTime = TDateTime::Encode(2026, 12, 31);
  item.EndTime = TDateTime::Encode(2027, 1, 1, 0, 0, 0, 1);
  const std::string text = item.SaveToJson(false);
  EXPECT_EQ(text, R"({"StartTime":"2026-12-31","EndTime":"2027-01-01 00:00:00.001","Error":false})");
  EXPECT_EQ(TUpdateStateItem::Create(text), item);
}

}  // namespace
