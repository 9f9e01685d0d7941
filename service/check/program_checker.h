#pragma once

// Update.Service.Programs, the file check's half: merging the structures of all programs
// of a TProgramCollection, comparing the merged structure with the installed files
// (reduction), collecting the lists of files to download and to install, and verifying
// downloaded packages by their packed-file header.
//
// TProgramCollectionChecker works on a collection it does not own and keeps no state of
// its own besides the configuration values.
//
// Locks: no operation here takes the collection's lock; the caller holds it for writing
// around Merge, Reduce, CleanRedundantObjects + CollectFiles and VerifyDownloadedFile (see
// service/lists/program_collection.h). The cancel flag is read at every check point of
// Reduce (before each top-level item and before each child of a folder).
//
// Paths: every install target and download path is the resolved special folder (or the
// download folder) plus item names that TStructItem::BuildPath accepts as one plain path
// element; a folder on disk that is a symbolic link is refused. A refused name fails its
// item with a log line, and with it the reduction. While a folder is reduced it is held
// open and its files are looked up by name in it (fstatat, openat).
//
// Errors: Boolean results and result codes, with log lines; exceptions inside the
// comparisons are logged with the file and compare mode and raised again.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "service/check/check_config.h"
#include "service/formats/packed_file.h"
#include "service/formats/structure.h"
#include "service/lists/program_collection.h"

namespace Update::Service {

// Result codes of VerifyDownloadedFile (the values of the storage error codes).
inline constexpr std::int32_t S_OK = 0;
inline constexpr std::int32_t E_POINTER = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t STG_E_INVALIDFUNCTION = static_cast<std::int32_t>(0x80030001);
inline constexpr std::int32_t STG_E_FILENOTFOUND = static_cast<std::int32_t>(0x80030002);
inline constexpr std::int32_t STG_E_ACCESSDENIED = static_cast<std::int32_t>(0x80030005);
inline constexpr std::int32_t STG_E_INVALIDPOINTER = static_cast<std::int32_t>(0x80030009);
inline constexpr std::int32_t STG_E_SEEKERROR = static_cast<std::int32_t>(0x80030019);
inline constexpr std::int32_t STG_E_READFAULT = static_cast<std::int32_t>(0x8003001E);
inline constexpr std::int32_t STG_E_INVALIDPARAMETER = static_cast<std::int32_t>(0x80030057);
inline constexpr std::int32_t STG_E_INVALIDHEADER = static_cast<std::int32_t>(0x800300FB);
inline constexpr std::int32_t STG_E_INCOMPLETE = static_cast<std::int32_t>(0x80030201);

class TProgramCollectionChecker {
 public:
  TProgramCollectionChecker(TProgramCollection& aCollection, TCheckConfig aConfig);

  // Empties the merged structure and merges every program's top-level items into it. The
  // number of programs all of whose items merged.
  int Merge();
  // The number of file items of the merged structure (a folder without folder description
  // counts as one).
  int CountMergedFiles() const;
  // Compares the merged structure with the disk: sets FToDownload / FFromCache, install
  // targets, sources and URLs, removes current files outside synchronised folders and fills
  // the delete list. False on a cancel request, an unknown or missing install folder, a
  // refused name or a folder that cannot be created. The cancel flag is not cleared here:
  // the one who starts a check clears it before, so a cancel that comes before the
  // reduction starts is not lost.
  bool Reduce();
  // Rebuilds the lists of files to download and to install and the size sums from the
  // reduced structure. False when a file item had no file description.
  bool CollectFiles();
  // Checks the package at the item's install source (header, identifier, checksum of the
  // packed data): S_OK or one of the codes above, with a log line.
  std::int32_t VerifyDownloadedFile(const TStructItem* aItem);

  // -1, 0 or 1 (1: take aOther) under aMode.
  int CompareFileInfo(const TFileInfo& aExisting, const TFileInfo& aOther, TFileCompareMode aMode) const;
  // Whether the installed file aPath (which exists) must be replaced by the one aInfo
  // describes, under aMode.
  bool ShouldFileBeDownloaded(const std::string& aPath, const TFileInfo& aInfo, TFileCompareMode aMode) const;
  // The compare mode in force for an item's mode (the checksum while a channel switch is
  // pending).
  TFileCompareMode EffectiveMode(TFileCompareMode aMode) const;

 private:
  struct TDirContext {
    std::string Target;       // install folder, ending with "/"
    int Folder = AT_FDCWD;    // the install folder, open; AT_FDCWD: files go by their path
    bool Sync = false;        // inside a synchronised folder
    std::string MainUrl;      // URL of the top-level item, ending with "/"
    std::string DownloadDir;  // download folder, ending with "/"
    std::string DirUrl;       // URL of this folder, ending with "/"
  };

  bool MergeMainItem(TMainStructItem& aItem);
  bool MergeItem(TStructItem& aTarget, const TStructItem& aSource, bool aNew);
  bool MergeDirInfo(TDirInfo& aTarget, const TDirInfo& aSource);
  void MergeFileInfo(TFileInfo& aTarget, const TFileInfo& aSource, bool aNew, bool aUnchanged);
  int CountFiles(const TStructCollection& aItems) const;

  bool Reduce_MainItem(TMainStructItem& aItem);
  bool Reduce_DirInfo(TDirInfo& aDir, const TDirContext& aContext);
  bool Reduce_DirItem(TStructItem& aItem, const TDirContext& aContext);
  bool Reduce_FileItem(TStructItem& aItem, bool aProxyPass, const TDirContext& aContext);
  void Reduce_SyncFolder(TStructItem& aItem);
  void SyncFolder(TStructItem& aDirItem, const std::string& aFolder);

  bool CollectDir(TStructCollection& aItems);
  bool CollectFile(TStructItem& aItem);

  // aStat: the installed file's status (it exists). aFolder, aName: the same file in an open
  // folder (AT_FDCWD and aPath when there is none).
  bool ShouldDownload(const std::string& aPath, const struct stat& aStat, const TFileInfo& aInfo,
                      TFileCompareMode aMode, int aFolder, const std::string& aName) const;
  bool IsFileAlreadyDownloaded(const TStructItem& aItem);
  std::int32_t GetPackedFileInfo(const TStructItem* aItem, TZPackedFileInfo* aHeader);

  TProgramCollection& fCollection;
  TCheckConfig fConfig;
};

}  // namespace Update::Service
