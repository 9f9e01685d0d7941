#pragma once

// Update.Service.Files: the entries that an update step downloads or installs.
//
// A TUpdateFile names where a file comes from (RemoteURL), where it ends up (LocalFile)
// and where the download is written (TempFile: the package in the download folder; equal
// to LocalFile for a file that is not packed), with its progress (Status).
//
// Thread-safety: a TUpdateFileList carries no lock for its operations. Code that replaces
// its contents while another thread may read it holds the list's monitor (Monitor(),
// a std::mutex) for the whole replacement, as the readers do.

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace Update::Service {

class TZlibHandler;

enum TUpdateFileStatus : std::uint8_t {
  fsNA = 0,
  fsCheck_NeedsUpdate = 1,
  fsDownload_Active = 2,
  fsDownload_Complete = 3,
  fsDownload_Error = 4,
  fsInstall_Active = 5,
  fsInstall_Complete = 6,
  fsInstall_Error = 7,
  fsInstall_ErrorUncompress = 8,
};

struct TUpdateFile {
  std::string RemoteURL;
  std::string LocalFile;
  std::string TempFile;
  TUpdateFileStatus Status = fsNA;

  TUpdateFile() = default;
  // The order of the system: remote URL, local file, status, temporary file.
  TUpdateFile(std::string aRemoteURL, std::string aLocalFile, TUpdateFileStatus aStatus, std::string aTempFile)
      : RemoteURL(std::move(aRemoteURL)),
        LocalFile(std::move(aLocalFile)),
        TempFile(std::move(aTempFile)),
        Status(aStatus) {}

  friend bool operator==(const TUpdateFile&, const TUpdateFile&) = default;
};

class TUpdateFileList {
 public:
  TUpdateFileList() = default;
  // Copies the entries, never the monitor.
  TUpdateFileList(const TUpdateFileList& aOther) : fItems(aOther.fItems) {}
  TUpdateFileList& operator=(const TUpdateFileList& aOther) {
    fItems = aOther.fItems;
    return *this;
  }

  std::size_t Count() const { return fItems.size(); }
  bool Empty() const { return fItems.empty(); }
  const TUpdateFile& Items(std::size_t aIndex) const { return fItems.at(aIndex); }
  void SetItem(std::size_t aIndex, TUpdateFile aFile) { fItems.at(aIndex) = std::move(aFile); }
  void Add(TUpdateFile aFile) { fItems.push_back(std::move(aFile)); }
  void Clear() { fItems.clear(); }
  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }

  // The number of entries with that status, or with a status in the set.
  int GetCount(TUpdateFileStatus aStatus) const;
  int GetCount(std::initializer_list<TUpdateFileStatus> aStatuses) const;

  // Unpacks the downloaded packages: every entry that is fsDownload_Complete or
  // fsInstall_Active and whose local file differs from its temporary file is unpacked with
  // aHandler into the temporary file's folder and moved to its local file; the entry
  // becomes fsInstall_Complete, fsInstall_Error (the move failed) or
  // fsInstall_ErrorUncompress (with a log line). The package is deleted in every case.
  // True when every unpack succeeded.
  bool UnCompress(TZlibHandler& aHandler);

  // Held by whoever replaces the contents while others may read them.
  std::mutex& Monitor() const { return fMonitor; }

 private:
  std::vector<TUpdateFile> fItems;
  mutable std::mutex fMonitor;
};

}  // namespace Update::Service
