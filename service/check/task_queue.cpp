#include "service/check/task_queue.h"

namespace Update::Service {

void TBlockingTaskQueue::Post(TTask aTask) {
  {
    const std::lock_guard lock(fMutex);
    fTasks.push_back(std::move(aTask));
  }
  fChanged.notify_one();
}

bool TBlockingTaskQueue::RunOne(std::chrono::milliseconds aTimeout) {
  TTask task;
  {
    std::unique_lock lock(fMutex);
    if (!fChanged.wait_for(lock, aTimeout, [this] { return !fTasks.empty(); })) {
      return false;
    }
    task = std::move(fTasks.front());
    fTasks.pop_front();
  }
  task();
  return true;
}

int TBlockingTaskQueue::RunPending() {
  int count = 0;
  while (RunOne(std::chrono::milliseconds(0))) {
    ++count;
  }
  return count;
}

std::size_t TBlockingTaskQueue::Count() const {
  const std::lock_guard lock(fMutex);
  return fTasks.size();
}

}  // namespace Update::Service
