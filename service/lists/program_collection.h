#pragma once

// Update.Service.Programs: the programs (feed modules) of one check and everything the
// check, download and install steps hand to each other about them.
//
// TProgramCollection owns its programs, the merged structure of all of them, the delete
// list and the file counter; the lists of files to download and to install refer to items
// of the merged structure and do not own them. The checksum calculator and the packed-file
// handler belong to the update manager.
//
// Locks:
//   - fSync, a reader/writer lock, guards the programs, fMergedItems, fFilesToDownload,
//     fFilesToInstall, fDeleteMeList, fMainUrl and the two size sums. The merge, the
//     reduction, the collection of the lists, the verification and the install take it for
//     writing once around their whole work; counts and the building of download entries
//     take it for reading. It is not re-entrant: a holder must not take it again.
//   - fCancelReduceSync guards the cancel request of the reduction (CancelReduce), which
//     the controller's thread writes while the check thread reads it.
//   - fFileCount has a lock of its own (the controller reads progress while workers count).

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "service/formats/structure.h"
#include "service/lists/delete_me_list.h"
#include "service/lists/file_count.h"

namespace Update::Service {

class TCalcStreamCRC;
class TZlibHandler;

class TProgramItem {
 public:
  std::string fName;             // module name
  std::string fFileName;         // its structure file: the manifest's name, later the path in the download folder
  TMainStructCollection fItems;  // filled by loading the structure file
};

class TProgramCollection {
 public:
  TProgramCollection() = default;
  TProgramCollection(const TProgramCollection&) = delete;
  TProgramCollection& operator=(const TProgramCollection&) = delete;

  // A new, empty program appended.
  TProgramItem& Add();
  std::size_t Count() const { return fPrograms.size(); }
  TProgramItem& Items(std::size_t aIndex) const { return *fPrograms.at(aIndex); }
  void Delete(std::size_t aIndex);
  void Clear() { fPrograms.clear(); }
  // Whether a program has that structure file name (without regard to case).
  bool Contains(const std::string& aFileName) const;
  // The URL of aPath below fMainUrl: a folder URL ends with "/", a file URL does not.
  std::string GetUrl(const std::string& aPath, bool aIsFile) const;

  void BeginRead() { fSync.lock_shared(); }
  void EndRead() { fSync.unlock_shared(); }
  void BeginWrite() { fSync.lock(); }
  void EndWrite() { fSync.unlock(); }
  // For std::shared_lock / std::unique_lock.
  std::shared_mutex& Sync() { return fSync; }
  // Returns once no reader or writer holds the lock.
  void WaitFor();

  bool CancelReduce() const;
  void SetCancelReduce(bool aValue);

  // Guarded by fSync.
  TMainStructCollection fMergedItems;
  TStructList fFilesToDownload;
  TStructList fFilesToInstall;
  TDeleteMeList fDeleteMeList;
  std::string fMainUrl;
  std::int32_t fUnpackedSize = 0;  // unpacked sizes of the files to download
  std::int32_t fPackedSize = 0;    // packed size + 352 of the files to download
  // Own lock.
  TFileCount fFileCount;
  // Not owned: the update manager's.
  TCalcStreamCRC* fCrc = nullptr;
  TZlibHandler* fZip = nullptr;

 private:
  std::vector<std::unique_ptr<TProgramItem>> fPrograms;
  std::shared_mutex fSync;
  bool fCancelReduce = false;
  mutable std::mutex fCancelReduceSync;
};

}  // namespace Update::Service
