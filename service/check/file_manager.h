#pragma once

// Update.Service.FileManager: the file check of one update run.
//
// CheckFiles merges the structure files of all programs on the calling thread (the
// owner's loop) and starts the check thread, which compares the merged structure with
// the installed files and builds the download entries. The thread's end is posted to the
// owner's task queue; there OnDone or OnError fire and the owner's file list receives the
// entries. Nothing of the manager runs on the check thread except the thread's own work
// on the collection (under the collection's locks).
//
// Contract:
//   - CheckFiles, Cancel, the events and the destructor are called on the owner's loop
//     thread, the one that drains aQueue.
//   - Each CheckFiles takes the special folders, the download folder and the pending
//     channel switch from the process-wide update configuration (UpdateConfig()) before
//     it merges; the check thread works with that copy (see check_config.h).
//   - The file list and the program collection are not owned and must outlive the manager.
//   - A check whose reduction fails (cancel aside) ends with OnError: a missing install
//     folder or a refused name is a failed check, not "nothing to do".
//   - Cancel stops the reduction at its next check point and returns after it did; no
//     event fires for a cancelled check. The destructor cancels and waits for the thread.

#include <functional>
#include <memory>
#include <vector>

#include "service/check/check_config.h"
#include "service/check/task_queue.h"
#include "service/lists/program_collection.h"
#include "service/lists/update_file.h"

namespace Update::Service {

class TFileManager {
 public:
  using TNotifyEvent = std::function<void(TFileManager& aSender)>;

  TFileManager(TUpdateFileList& aFiles, TProgramCollection& aDLCSPrograms, ITaskQueue& aQueue);
  ~TFileManager();
  TFileManager(const TFileManager&) = delete;
  TFileManager& operator=(const TFileManager&) = delete;

  // False when a check is running or the merge failed. An exception of the merge (a
  // damaged registry value, for one) is raised again and leaves the manager idle.
  bool CheckFiles();
  void Cancel();
  bool Busy() const { return fBusy; }
  // The collection's file counter while busy, else 0.
  int FilesDone() const;
  int FilesTotal() const;

  void SetOnDone(TNotifyEvent aHandler) { fOnDone = std::move(aHandler); }
  void SetOnError(TNotifyEvent aHandler) { fOnError = std::move(aHandler); }

 private:
  class TCheckThread;

  bool DLCSMerge();
  void FreeThread();
  void OnThreadTerminate(TCheckThread* aThread);

  TUpdateFileList& fFiles;
  TProgramCollection& fDLCSPrograms;
  // Taken from the update configuration by each CheckFiles.
  TCheckConfig fConfig;
  ITaskQueue& fQueue;
  std::unique_ptr<TCheckThread> fThread;
  // Threads detached by Cancel, joined by the destructor.
  std::vector<std::unique_ptr<TCheckThread>> fDetached;
  bool fBusy = false;
  TNotifyEvent fOnDone;
  TNotifyEvent fOnError;
  // Posted notifications check it, so none reaches a destroyed manager.
  std::shared_ptr<TFileManager*> fAlive;
};

}  // namespace Update::Service
