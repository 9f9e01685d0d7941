#include "service/check/file_manager.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "common/config.h"
#include "service/check/program_checker.h"
#include "service/host/log.h"

namespace Update::Service {

// The worker of one check: reduction against the disk, list building, download entries.
class TFileManager::TCheckThread {
 public:
  TCheckThread(TProgramCollection& aDLCSPrograms, const TCheckConfig& aConfig)
      : fDLCSPrograms(aDLCSPrograms), fChecker(aDLCSPrograms, aConfig) {}
  ~TCheckThread() {
    if (fHandle.joinable()) {
      fHandle.join();
    }
  }

  // aOnTerminate runs on this thread when Execute is done, unless cleared before.
  void Start(std::function<void()> aOnTerminate) {
    fOnTerminate = std::move(aOnTerminate);
    fHandle = std::thread([this] { Execute(); });
  }
  void ClearOnTerminate() {
    const std::lock_guard lock(fTerminateSync);
    fOnTerminate = nullptr;
  }
  void Terminate() { fTerminated = true; }
  void Join() {
    if (fHandle.joinable()) {
      fHandle.join();
    }
  }

  TUpdateFileList fFiles;
  bool fErrorException = false;
  bool fReduceFailed = false;

 private:
  void Execute() {
    // The thread needs no per-thread initialisation on Linux (no COM apartment).
    Log("+TFileManager.TCheckThread.Execute");
    try {
      if (DLCSReduce()) {
        Log("\tDLCSReduce: Success");
        const std::shared_lock lock(fDLCSPrograms.Sync());
        for (TStructItem* item : fDLCSPrograms.fFilesToDownload) {
          AddDownloadEntries(item);
        }
      } else {
        fReduceFailed = true;
      }
    } catch (const std::exception& e) {
      fErrorException = true;
      Log("TFileManager.TCheckThread.Execute: Error " + ExceptionText(e));
    } catch (...) {
      fErrorException = true;
      Log("TFileManager.TCheckThread.Execute: Error Untyped Exception");
    }
    Log("-TFileManager.TCheckThread.Execute");
    const std::lock_guard lock(fTerminateSync);
    if (fOnTerminate) {
      fOnTerminate();
    }
  }

  bool DLCSReduce() {
    Log("+TFileManager.TCheckThread.DLCSReduce");
    const std::unique_lock lock(fDLCSPrograms.Sync());
    try {
      if (!fChecker.Reduce()) {
        Log("\tReduce failed");
        return false;
      }
      fDLCSPrograms.fMergedItems.CleanRedundantObjects();
      if (!fChecker.CollectFiles()) {
        Log("\tCollectFiles failed");
        return false;
      }
    } catch (const std::exception& e) {
      LogException("TFileManager.TCheckThread.DLCSReduce: Error " + ExceptionText(e));
      throw;
    }
    Log("-TFileManager.TCheckThread.DLCSReduce");
    return true;
  }

  void AddDownloadEntries(const TStructItem* aItem) {
    if (fTerminated || aItem == nullptr) {
      return;
    }
    if (aItem->FIsDirectory && aItem->Dir() != nullptr && !aItem->Dir()->Items().Empty()) {
      const TStructCollection& children = aItem->Dir()->Items();
      for (std::size_t i = 0; i < children.Count(); ++i) {
        AddDownloadEntries(&children.Items(i));
      }
      return;
    }
    const TInstallInfo* inst = aItem->Inst();
    std::string temp;
    if (inst != nullptr) {
      temp = inst->FSourceFile;
    } else if (aItem->FileInfo() != nullptr) {
      temp = aItem->FileInfo()->FPackedName;
    }
    fFiles.Add(TUpdateFile(aItem->FUrl, inst != nullptr ? inst->FTarget : aItem->FName, fsCheck_NeedsUpdate, temp));
  }

  TProgramCollection& fDLCSPrograms;
  TProgramCollectionChecker fChecker;
  std::thread fHandle;
  std::atomic<bool> fTerminated = false;
  std::mutex fTerminateSync;
  std::function<void()> fOnTerminate;
};

TFileManager::TFileManager(TUpdateFileList& aFiles, TProgramCollection& aDLCSPrograms, ITaskQueue& aQueue)
    : fFiles(aFiles), fDLCSPrograms(aDLCSPrograms), fQueue(aQueue), fAlive(std::make_shared<TFileManager*>(this)) {}

TFileManager::~TFileManager() {
  if (fBusy) {
    Cancel();
  }
  FreeThread();
  for (const auto& thread : fDetached) {
    thread->Join();
  }
}

bool TFileManager::CheckFiles() {
  if (fBusy) {
    Log("\tError: Busy");
    return false;
  }
  Log("\tCheckFiles " + std::string(50, '-'));
  fBusy = true;
  bool merged = false;
  try {
    merged = DLCSMerge();
  } catch (...) {
    fBusy = false;  // no thread runs: the next check must not be refused as busy
    throw;
  }
  if (!merged) {
    Log("\tDLCSMerge failed");
    fBusy = false;
    return false;
  }
  // Cleared here, before the thread exists, so that a Cancel coming before the reduction
  // starts is not overwritten by it.
  fDLCSPrograms.SetCancelReduce(false);
  FreeThread();
  fThread = std::make_unique<TCheckThread>(fDLCSPrograms, fConfig);
  TCheckThread* thread = fThread.get();
  std::weak_ptr<TFileManager*> alive = fAlive;
  ITaskQueue& queue = fQueue;
  thread->Start([&queue, alive, thread] {
    queue.Post([alive, thread] {
      if (const auto manager = alive.lock()) {
        (*manager)->OnThreadTerminate(thread);
      }
    });
  });
  return true;
}

bool TFileManager::DLCSMerge() {
  Log("+TFileManager.DLCSMerge");
  const std::unique_lock lock(fDLCSPrograms.Sync());
  try {
    fConfig = TCheckConfig::FromUpdateConfig(Common::UpdateConfig());
    for (std::size_t i = 0; i < fDLCSPrograms.Count(); ++i) {
      TProgramItem& program = fDLCSPrograms.Items(i);
      if (!program.fItems.LoadFromFile(program.fFileName)) {
        Log("\tLoadFromFile UpdateScript failed: " + program.fFileName);
        program.fItems.Clear();
      }
    }
    TProgramCollectionChecker checker(fDLCSPrograms, fConfig);
    const int merged = checker.Merge();
    if (merged != static_cast<int>(fDLCSPrograms.Count())) {
      return false;
    }
    fDLCSPrograms.Clear();
    fDLCSPrograms.fFileCount.Reset();
    fDLCSPrograms.fFileCount.SetFilesTotal(checker.CountMergedFiles());
  } catch (const std::exception& e) {
    LogException("TFileManager.DLCSMerge: Error " + ExceptionText(e));
    throw;
  }
  Log("-TFileManager.DLCSMerge");
  return true;
}

void TFileManager::Cancel() {
  if (!fBusy) {
    return;
  }
  Log("+TFileManager.Cancel");
  fBusy = false;
  fDLCSPrograms.SetCancelReduce(true);
  fDLCSPrograms.WaitFor();
  FreeThread();
  Log("-TFileManager.Cancel");
}

void TFileManager::FreeThread() {
  if (!fThread) {
    return;
  }
  fThread->ClearOnTerminate();
  fThread->Terminate();
  fDetached.push_back(std::move(fThread));
}

void TFileManager::OnThreadTerminate(TCheckThread* aThread) {
  if (aThread != fThread.get()) {
    return;  // a thread detached by Cancel
  }
  Log("+TFileManager.OnThreadTerminate");
  fBusy = false;
  try {
    fThread->Join();
    const std::unique_ptr<TCheckThread> thread = std::move(fThread);
    if (thread->fErrorException || thread->fReduceFailed) {
      Log(thread->fErrorException ? "\tThread terminated: Error Exception" : "\tThread terminated: Error Reduce");
      if (fOnError) {
        fOnError(*this);
      }
    } else {
      Log("\tThread terminated: Success");
      {
        const std::lock_guard lock(fFiles.Monitor());
        fFiles = thread->fFiles;
      }
      if (fOnDone) {
        fOnDone(*this);
      }
    }
  } catch (const std::exception& e) {
    Log("Error accessing fThread: " + ExceptionText(e));
    if (fOnError) {
      fOnError(*this);
    }
  }
  Log("-TFileManager.OnThreadTerminate");
}

int TFileManager::FilesDone() const {
  return fBusy ? fDLCSPrograms.fFileCount.GetFilesDone() : 0;
}

int TFileManager::FilesTotal() const {
  return fBusy ? fDLCSPrograms.fFileCount.GetFilesTotal() : 0;
}

}  // namespace Update::Service
