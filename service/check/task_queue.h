#pragma once

// The queue of the loop that owns a manager: worker threads post their termination
// notification here, and it runs on the loop's thread, in posting order.
//
// Contract: Post may be called from any thread and never blocks for long. The tasks run
// on the thread that drains the queue (TBlockingTaskQueue::RunOne / RunPending), never on
// the posting thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace Update::Service {

using TTask = std::function<void()>;

class ITaskQueue {
 public:
  virtual ~ITaskQueue() = default;
  virtual void Post(TTask aTask) = 0;
};

// A plain blocking queue: what the service's worker loop drains, and what tests drive.
class TBlockingTaskQueue final : public ITaskQueue {
 public:
  void Post(TTask aTask) override;
  // Waits up to aTimeout for a task and runs it on the calling thread. False when none came.
  bool RunOne(std::chrono::milliseconds aTimeout);
  // Runs the tasks already queued; their number.
  int RunPending();
  std::size_t Count() const;

 private:
  mutable std::mutex fMutex;
  std::condition_variable fChanged;
  std::deque<TTask> fTasks;
};

}  // namespace Update::Service
