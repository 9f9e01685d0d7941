#include "service/lists/program_collection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace Update::Service {
namespace {

TEST(ProgramCollectionTest, ProgramsAndUrls) {
  TProgramCollection programs;
  TProgramItem& first = programs.Add();
  first.fName = "Program";
  first.fFileName = "Program.zml";
  programs.Add().fFileName = "Help.zml";
  EXPECT_EQ(programs.Count(), 2u);
  EXPECT_TRUE(programs.Contains("program.ZML"));
  EXPECT_FALSE(programs.Contains("Program"));
  EXPECT_TRUE(first.fItems.Empty());
  programs.Delete(0);
  EXPECT_FALSE(programs.Contains("Program.zml"));

  struct TCase {
    const char* MainUrl;
    const char* Path;
    bool IsFile;
    const char* Url;
  };
  const TCase cases[] = {
      {"http://feed.example/updates", "Program", false, "http://feed.example/updates/Program/"},
      {"http://feed.example/updates/", "a.txt.z", true, "http://feed.example/updates/a.txt.z"},
      {"feed.example/updates", "a/", true, "http://feed.example/updates/a"},
      {"https://feed.example", "/abs", false, "https://feed.example//abs/"},  // no normalisation
      {"feed/x://y", "f", true, "http://feed/x://y/f"},                       // "://" after the first "/" is no scheme
  };
  for (const TCase& test : cases) {
    programs.fMainUrl = test.MainUrl;
    EXPECT_EQ(programs.GetUrl(test.Path, test.IsFile), test.Url) << test.MainUrl << " " << test.Path;
  }
}

TEST(ProgramCollectionTest, CancelFlagAndFileCountAcrossThreads) {
  TProgramCollection programs;
  EXPECT_FALSE(programs.CancelReduce());
  std::thread controller([&] { programs.SetCancelReduce(true); });
  controller.join();
  EXPECT_TRUE(programs.CancelReduce());

  TFileCount& count = programs.fFileCount;
  count.SetFilesTotal(10);
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&] {
      for (int n = 0; n < 1000; ++n) {
        count.IncFilesDone();
        count.IncFilesTotal();
        count.DecFilesTotal();
      }
    });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  EXPECT_EQ(count.GetFilesDone(), 4000);
  EXPECT_EQ(count.GetFilesTotal(), 10);
  count.DecFilesDone();
  EXPECT_EQ(count.GetFilesDone(), 3999);
  count.Reset();
  EXPECT_EQ(count.GetFilesDone(), 0);
  EXPECT_EQ(count.GetFilesTotal(), 0);
}

TEST(ProgramCollectionTest, WaitForReturnsOnlyAfterTheReaderLeaves) {
  TProgramCollection programs;
  programs.BeginRead();
  programs.BeginRead();  // readers share the lock
  programs.EndRead();
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    programs.WaitFor();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  programs.EndRead();
  waiter.join();
  EXPECT_TRUE(returned);
  programs.BeginWrite();
  programs.EndWrite();
}

}  // namespace
}  // namespace Update::Service
