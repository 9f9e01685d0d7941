#include "platform/process/process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/paths/paths.h"

namespace Platform::Process {
namespace {

TEST(Process, SnapshotContainsThisProcessWithItsPath) {
  std::vector<TProcessEntry> processes = Snapshot();
  auto self = std::find_if(processes.begin(), processes.end(),
                           [](const TProcessEntry& aEntry) { return aEntry.Pid == CurrentProcessId(); });
  ASSERT_NE(self, processes.end());
  EXPECT_EQ(self->ExePath, Paths::ExecutablePath());
  EXPECT_EQ(self->ExeName, "process_test");
}

TEST(Process, StartDetachedRunsTheProgramAndReportsFailures) {
  std::optional<pid_t> pid = StartDetached("/bin/sleep", {"30"});
  ASSERT_TRUE(pid.has_value());
  EXPECT_TRUE(IsProcessAlive(*pid));
  bool seen = false;
  for (const TProcessEntry& entry : Snapshot()) {
    seen = seen || (entry.Pid == *pid && entry.ExeName == "sleep");
  }
  EXPECT_TRUE(seen);
  ::kill(*pid, SIGKILL);
  // Not our child: init reaps it; wait until it is gone.
  for (int i = 0; i < 100 && IsProcessAlive(*pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(IsProcessAlive(*pid));

  int error = 0;
  EXPECT_EQ(StartDetached("/nonexistent/program", {}, &error), std::nullopt);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(IsProcessAlive(0));
}

}  // namespace
}  // namespace Platform::Process
