#include "service/check/program_checker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <vector>

#include "common/utils.h"
#include "platform/paths/paths.h"
#include "platform/text/text.h"
#include "service/formats/crc.h"
#include "service/formats/dos_date.h"
#include "service/host/log.h"
#include "service/lists/service_utils.h"

namespace Update::Service {

namespace {

using Common::TUpdateUtils;

const char* const kPackedPrefix = "TProgramCollection.GetPackedFileInfo: Error ";
const std::string kHeaderSize = std::to_string(PackedHeaderSize);

using Common::TFileVersion;

TFileVersion VersionOf(const TFileInfo& aInfo) {
  return {aInfo.FVersionMajor, aInfo.FVersionMinor, aInfo.FVersionRelease, aInfo.FVersionBuild};
}

// The version stamped into an installed file, if it carries one.
std::optional<TFileVersion> InstalledVersion(const std::string& aPath) {
  TFileVersion version;
  if (!TUpdateUtils::GetFileVersion(aPath, version)) {
    return std::nullopt;
  }
  return version;
}

bool IsProxy(const TStructItem& aItem) {
  return aItem.FileInfo() != nullptr && aItem.FileInfo()->FCompareMode == fcmProxy;
}

// The ".version" sibling of a file item in its own collection.
TStructItem* VersionSibling(const TStructItem& aItem) {
  const TStructCollection* parent = aItem.ParentCollection();
  return parent == nullptr ? nullptr : parent->GetFileByName(aItem.FName + ".version");
}

std::string ModeName(TFileCompareMode aMode) {
  return FileCompareModeToString(aMode);
}

// A folder URL that ends with "/".
std::string FolderUrl(const std::string& aUrl) {
  return TUpdateUtils::CorrectUrl(aUrl, true);
}

// The URL of a child below a folder: none -> aDirUrl + aName; absolute -> itself; from the
// root ("/...") -> aDirUrl + it; otherwise aMainUrl + it.
std::string ResolveUrl(const std::string& aUrl, const std::string& aName, const std::string& aMainUrl,
                       const std::string& aDirUrl) {
  if (aUrl.empty()) {
    return aDirUrl + aName;
  }
  if (TUpdateUtils::IsAbsoluteUrl(aUrl)) {
    return aUrl;
  }
  if (aUrl.front() == '/') {
    return aDirUrl + aUrl;
  }
  return aMainUrl + aUrl;
}

bool IsDir(const std::string& aPath) {
  struct stat st {};
  return ::stat(aPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the folder aPath is the folder aKept (ending with "/") or holds it.
bool HoldsFolder(const std::string& aPath, const std::string& aKept) {
  const std::string folder = Platform::Paths::IncludeTrailingDelimiter(aPath);
  return !aKept.empty() && aKept.compare(0, folder.size(), folder) == 0;
}

bool IsSymbolicLink(const std::string& aPath) {
  struct stat st {};
  return ::lstat(aPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A folder held open while its files are checked: they are looked up by name in it, which
// spares the walk along the whole path for every file and keeps them in the folder that was
// checked, even if a link takes its place meanwhile. Fd() is AT_FDCWD when the folder could
// not be opened; the files then go by their full path.
class TOpenFolder {
 public:
  TOpenFolder(const std::string& aPath, bool aFollowLink)
      : fFd(::open(aPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (aFollowLink ? 0 : O_NOFOLLOW))) {}
  ~TOpenFolder() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  TOpenFolder(const TOpenFolder&) = delete;
  TOpenFolder& operator=(const TOpenFolder&) = delete;
  int Fd() const { return fFd >= 0 ? fFd : AT_FDCWD; }

 private:
  int fFd;
};

// The status of a file given by folder and name, or by aPath where no folder is open.
bool StatAt(int aFolder, const std::string& aName, const std::string& aPath, struct stat& aStat) {
  return aFolder == AT_FDCWD ? ::stat(aPath.c_str(), &aStat) == 0 : ::fstatat(aFolder, aName.c_str(), &aStat, 0) == 0;
}

}  // namespace

TProgramCollectionChecker::TProgramCollectionChecker(TProgramCollection& aCollection, TCheckConfig aConfig)
    : fCollection(aCollection), fConfig(std::move(aConfig)) {}

TFileCompareMode TProgramCollectionChecker::EffectiveMode(TFileCompareMode aMode) const {
  return fConfig.UpdateChannelSwitchPending ? fcmCheckSum : aMode;
}

// Merge

int TProgramCollectionChecker::Merge() {
  fCollection.fMergedItems.Clear();
  fCollection.fUnpackedSize = 0;
  fCollection.fPackedSize = 0;
  int merged = 0;
  for (std::size_t p = 0; p < fCollection.Count(); ++p) {
    const TMainStructCollection& items = fCollection.Items(p).fItems;
    bool ok = true;
    for (std::size_t i = 0; i < items.Count(); ++i) {
      ok = MergeMainItem(items.GetItem(i)) && ok;
    }
    merged += ok ? 1 : 0;
  }
  return merged;
}

bool TProgramCollectionChecker::MergeMainItem(TMainStructItem& aItem) {
  if (TMainStructItem* existing = fCollection.fMergedItems.GetBySpecialDir(aItem.FSpecialDir)) {
    return MergeItem(*existing, aItem, false);
  }
  return MergeItem(fCollection.fMergedItems.AddMain(), aItem, true);
}

bool TProgramCollectionChecker::MergeItem(TStructItem& aTarget, const TStructItem& aSource, bool aNew) {
  bool unchanged = false;
  if (!aNew && !aSource.FIsDirectory && aTarget.FileInfo() != nullptr && aSource.FileInfo() != nullptr) {
    const int cmp =
        CompareFileInfo(*aTarget.FileInfo(), *aSource.FileInfo(), EffectiveMode(aSource.FileInfo()->FCompareMode));
    unchanged = cmp == -1;
  }
  if (!unchanged) {
    aTarget.FName = aSource.FName;
    aTarget.FIsDirectory = aSource.FIsDirectory;
    aTarget.FUrl = aSource.FUrl;
    aTarget.FDeleteMe = aSource.FDeleteMe;
    if (aTarget.IsMain() && aSource.IsMain()) {
      static_cast<TMainStructItem&>(aTarget).FSpecialDir = static_cast<const TMainStructItem&>(aSource).FSpecialDir;
    }
  }
  if (!aSource.FIsDirectory) {
    if (aSource.FileInfo() != nullptr) {
      MergeFileInfo(aTarget.NeedFileInfo(), *aSource.FileInfo(), aNew, unchanged);
    } else if (aNew) {
      aTarget.FreeFileObject();
    }
    aTarget.FreeDirObject();
    return true;
  }
  aTarget.FreeFileObject();
  if (aSource.Dir() == nullptr) {
    return true;
  }
  return MergeDirInfo(aTarget.NeedDir(), *aSource.Dir());
}

bool TProgramCollectionChecker::MergeDirInfo(TDirInfo& aTarget, const TDirInfo& aSource) {
  aTarget.FSync = aSource.FSync;
  bool ok = true;
  const TStructCollection& children = aSource.Items();
  for (std::size_t i = 0; i < children.Count(); ++i) {
    const TStructItem& child = children.Items(i);
    TStructItem* existing =
        child.FIsDirectory ? aTarget.Items().GetDirByName(child.FName) : aTarget.Items().GetFileByName(child.FName);
    if (existing != nullptr) {
      ok = MergeItem(*existing, child, false) && ok;
    } else {
      ok = MergeItem(aTarget.Items().Add(), child, true) && ok;
    }
  }
  return ok;
}

void TProgramCollectionChecker::MergeFileInfo(TFileInfo& aTarget, const TFileInfo& aSource, bool aNew,
                                              bool aUnchanged) {
  if (!aUnchanged) {
    aTarget.FPackedName = aSource.FPackedName;
    aTarget.FSize = aSource.FSize;
    aTarget.FPackedSize = aSource.FPackedSize;
    aTarget.FTime = aSource.FTime;
    aTarget.FVersionMajor = aSource.FVersionMajor;
    aTarget.FVersionMinor = aSource.FVersionMinor;
    aTarget.FVersionRelease = aSource.FVersionRelease;
    aTarget.FVersionBuild = aSource.FVersionBuild;
    aTarget.FCrc = aSource.FCrc;
    aTarget.FPackedCrc = aSource.FPackedCrc;
    aTarget.FCompareMode = aSource.FCompareMode;
  }
  if (aNew) {
    fCollection.fUnpackedSize += aSource.FSize;
    fCollection.fPackedSize += aSource.FPackedSize + static_cast<std::int32_t>(PackedHeaderSize);
  }
}

int TProgramCollectionChecker::CountMergedFiles() const {
  int count = 0;
  for (std::size_t i = 0; i < fCollection.fMergedItems.Count(); ++i) {
    const TStructItem& item = fCollection.fMergedItems.Items(i);
    count += item.Dir() != nullptr ? CountFiles(item.Dir()->Items()) : 1;
  }
  return count;
}

int TProgramCollectionChecker::CountFiles(const TStructCollection& aItems) const {
  int count = 0;
  for (std::size_t i = 0; i < aItems.Count(); ++i) {
    const TStructItem& item = aItems.Items(i);
    if (item.FIsDirectory && item.Dir() != nullptr) {
      count += CountFiles(item.Dir()->Items());
    } else {
      ++count;
    }
  }
  return count;
}

int TProgramCollectionChecker::CompareFileInfo(const TFileInfo& aExisting, const TFileInfo& aOther,
                                               TFileCompareMode aMode) const {
  try {
    switch (aMode) {
      case fcmDefault: {
        const int cmp = TUpdateUtils::CompareFileVersion(VersionOf(aOther), VersionOf(aExisting));
        if (cmp != 0) {
          return cmp;
        }
        return aOther.FCrc != aExisting.FCrc ? 1 : 0;
      }
      case fcmCheckSum:
        return aOther.FCrc != aExisting.FCrc ? 1 : 0;
      case fcmVersion:
        return TUpdateUtils::CompareFileVersion(VersionOf(aOther), VersionOf(aExisting));
      case fcmProxy: {
        const TStructItem* existingItem = aExisting.ParentItem();
        const TStructItem* otherItem = aOther.ParentItem();
        const TStructItem* existingVersion = existingItem != nullptr ? VersionSibling(*existingItem) : nullptr;
        const TStructItem* otherVersion = otherItem != nullptr ? VersionSibling(*otherItem) : nullptr;
        if (existingVersion == nullptr || otherVersion == nullptr || existingVersion->FileInfo() == nullptr ||
            otherVersion->FileInfo() == nullptr) {
          return 1;
        }
        return CompareFileInfo(*existingVersion->FileInfo(), *otherVersion->FileInfo(),
                               EffectiveMode(otherVersion->FileInfo()->FCompareMode));
      }
      case fcmDate:
        return aOther.FTime == aExisting.FTime
                   ? 0
                   : (static_cast<std::uint32_t>(aOther.FTime) > static_cast<std::uint32_t>(aExisting.FTime) ? 1 : -1);
      case fcmNever:
        return 0;
      case fcmAlways:
      default:
        return 1;
    }
  } catch (const std::exception& e) {
    LogException("TProgramCollection.CompareFileInfo: Error " + ExceptionText(e));
    Log("\tFileName1 = " + aExisting.FPackedName);
    Log("\tFileName2 = " + aOther.FPackedName);
    Log("\tCompareMode = " + ModeName(aMode));
    throw;
  }
}

// Reduce

bool TProgramCollectionChecker::Reduce() {
  fCollection.fUnpackedSize = 0;
  fCollection.fPackedSize = 0;
  Log("\tTProgramCollection.Reduce: Try ReduceMainItem");
  TMainStructCollection& merged = fCollection.fMergedItems;
  for (std::size_t i = merged.Count(); i-- > 0;) {
    if (fCollection.CancelReduce()) {
      Log("\tTProgramCollection.Reduce: CancelReduce");
      return false;
    }
    if (!Reduce_MainItem(merged.GetItem(i))) {
      Log("\tTProgramCollection.Reduce: Reduce_MainItem failed");
      return false;
    }
    Log("\tTProgramCollection.Reduce: Reduce_MainItem finished");
  }
  Log("\tTProgramCollection.Reduce: Try Reduce_SyncFolder");
  for (std::size_t i = merged.Count(); i-- > 0;) {
    if (merged.Items(i).FIsDirectory) {
      Reduce_SyncFolder(merged.Items(i));
    }
  }
  Log("\tTProgramCollection.Reduce: Reduce_SyncFolder finished");
  return true;
}

bool TProgramCollectionChecker::Reduce_MainItem(TMainStructItem& aItem) {
  Log("+TProgramCollection.Reduce_MainItem");
  if (aItem.Dir() == nullptr || aItem.Dir()->Items().Empty()) {
    return true;
  }
  TInstallInfo& inst = aItem.NeedInst();
  if (aItem.FSpecialDir.empty()) {
    Log("\tSpecialDir is empty");
    return false;
  }
  const std::string resolved = fConfig.Resolve(aItem.FSpecialDir);
  if (resolved.empty()) {
    Log("\tInvalid Specialdir: " + aItem.FSpecialDir);
    return false;
  }
  inst.FTarget = Platform::Paths::IncludeTrailingDelimiter(resolved);
  if (!IsDir(inst.FTarget)) {
    // Reported by the caller's "Reduce_MainItem failed"; the folder is named here so the
    // log says which module's install folder is missing.
    Log("\tInstall folder doesn't exist: " + inst.FTarget);
    return false;
  }
  // The install folder itself may be a link (a special folder placed elsewhere).
  const TOpenFolder folder(inst.FTarget, true);
  TDirContext context;
  context.Target = inst.FTarget;
  context.Folder = folder.Fd();
  context.Sync = aItem.Dir()->FSync;
  context.MainUrl = TUpdateUtils::GetUrl(fCollection.fMainUrl, aItem.FName, false);
  Log("\tMainUrl: " + context.MainUrl);
  std::string downloadDir;
  if (!aItem.BuildPath(fConfig.UpdateDownloadDir, downloadDir)) {
    Log("\tReduceDir failed: " + aItem.FName);
    return false;
  }
  context.DownloadDir = downloadDir + "/";
  Log("\tParentDir: " + context.DownloadDir);
  if (!TUpdateServiceUtils::ForceDirectories(context.DownloadDir)) {
    Log("\tParentDir dosn't exist and couldn't be created");
    return false;
  }
  context.DirUrl = context.MainUrl;
  if (!Reduce_DirInfo(*aItem.Dir(), context)) {
    Log("\tReduceDir failed: " + aItem.FName);
    return false;
  }
  Log("-TProgramCollection.Reduce_MainItem");
  return true;
}

bool TProgramCollectionChecker::Reduce_DirInfo(TDirInfo& aDir, const TDirContext& aContext) {
  TStructCollection& items = aDir.Items();
  for (int pass = 0; pass < 2; ++pass) {
    const bool proxyPass = pass == 1;
    for (std::size_t i = items.Count(); i-- > 0;) {
      if (fCollection.CancelReduce()) {
        Log("\tTProgramCollection.Reduce_DirInfo: CancelReduce");
        return false;
      }
      // A failed item is never removed, so its name is still there for the log line.
      TStructItem& child = items.Items(i);
      if (child.FIsDirectory) {
        if (!proxyPass && !Reduce_DirItem(child, aContext)) {
          Log("\tTProgramCollection.Reduce_DirInfo: Reduce_DirItem failed: " + child.FName);
          return false;
        }
      } else if (!Reduce_FileItem(child, proxyPass, aContext)) {
        Log("\tTProgramCollection.Reduce_DirInfo: Reduce_FileItem failed: " + child.FName);
        return false;
      }
    }
  }
  return true;
}

bool TProgramCollectionChecker::Reduce_DirItem(TStructItem& aItem, const TDirContext& aContext) {
  TInstallInfo& inst = aItem.NeedInst();
  std::string target;
  if (!aItem.BuildPath(aContext.Target, target)) {
    return false;
  }
  inst.FTarget = target + "/";
  if (aItem.FDeleteMe) {
    fCollection.fDeleteMeList.NewItem(target, TDeleteMeItem::TType::dmDirectory);
    aItem.Delete();
    return true;
  }
  // A link would lead the install out of its folder.
  if (IsSymbolicLink(target)) {
    Log("\tSymbolic link refused: " + target);
    return false;
  }
  TDirContext context;
  context.Target = inst.FTarget;
  context.MainUrl = aContext.MainUrl;
  std::string downloadDir;
  if (!aItem.BuildPath(aContext.DownloadDir, downloadDir)) {
    return false;
  }
  context.DownloadDir = downloadDir + "/";
  if (!TUpdateServiceUtils::ForceDirectories(context.Target) ||
      !TUpdateServiceUtils::ForceDirectories(context.DownloadDir)) {
    return false;
  }
  aItem.FUrl = FolderUrl(ResolveUrl(aItem.FUrl, aItem.FName, aContext.MainUrl, aContext.DirUrl));
  context.DirUrl = aItem.FUrl;
  if (aItem.Dir() == nullptr) {
    return true;
  }
  const TOpenFolder folder(target, false);
  context.Folder = folder.Fd();
  context.Sync = aContext.Sync || aItem.Dir()->FSync;
  if (!Reduce_DirInfo(*aItem.Dir(), context)) {
    Log("\tTProgramCollection.Reduce_DirItem: Reduce_DirInfo failed: " + aItem.FName);
    return false;
  }
  return true;
}

bool TProgramCollectionChecker::Reduce_FileItem(TStructItem& aItem, bool aProxyPass, const TDirContext& aContext) {
  if (IsProxy(aItem) != aProxyPass) {
    return true;
  }
  TFileInfo* info = aItem.FileInfo();
  if (info == nullptr) {
    return false;
  }
  info->FToDownload = false;
  info->FFromCache = false;
  TInstallInfo& inst = aItem.NeedInst();
  if (!aItem.BuildPath(aContext.Target, inst.FTarget)) {
    return false;
  }
  if (aItem.FDeleteMe) {
    fCollection.fDeleteMeList.NewItem(inst.FTarget, TDeleteMeItem::TType::dmFile);
    aItem.Delete();
    return true;
  }
  if (!info->BuildPackedPath(aContext.DownloadDir, inst.FSourceFile)) {
    return false;
  }
  struct stat st {};
  const bool exists = StatAt(aContext.Folder, aItem.FName, inst.FTarget, st);
  info->FToDownload =
      !exists || ShouldDownload(inst.FTarget, st, *info, EffectiveMode(info->FCompareMode), aContext.Folder,
                                aContext.Folder == AT_FDCWD ? inst.FTarget : aItem.FName);
  if (info->FToDownload) {
    if (IsFileAlreadyDownloaded(aItem)) {
      info->FToDownload = false;
      info->FFromCache = true;
    } else {
      aItem.FUrl = ResolveUrl(aItem.FUrl, info->FPackedName, aContext.MainUrl, aContext.DirUrl);
      fCollection.fUnpackedSize += info->FSize;
      fCollection.fPackedSize += info->FPackedSize + static_cast<std::int32_t>(PackedHeaderSize);
    }
  }
  // Every reduced file counts, so the progress reaches the total.
  fCollection.fFileCount.IncFilesDone();
  if (!info->FToDownload && !info->FFromCache && !aContext.Sync) {
    aItem.Delete();
  }
  return true;
}

bool TProgramCollectionChecker::ShouldFileBeDownloaded(const std::string& aPath, const TFileInfo& aInfo,
                                                       TFileCompareMode aMode) const {
  struct stat st {};
  if (::stat(aPath.c_str(), &st) != 0) {
    st = {};
    st.st_size = -1;
  }
  return ShouldDownload(aPath, st, aInfo, aMode, AT_FDCWD, aPath);
}

bool TProgramCollectionChecker::ShouldDownload(const std::string& aPath, const struct stat& aStat,
                                               const TFileInfo& aInfo, TFileCompareMode aMode, int aFolder,
                                               const std::string& aName) const {
  try {
    const auto byChecksum = [&] {
      if (aStat.st_size != aInfo.FSize) {
        return true;
      }
      std::uint32_t crc = 0;
      if (fCollection.fCrc == nullptr || !fCollection.fCrc->GetFileCrcAt(aFolder, aName, crc)) {
        return true;
      }
      return crc != static_cast<std::uint32_t>(aInfo.FCrc);
    };
    switch (aMode) {
      case fcmDefault:
        if (const auto installed = InstalledVersion(aPath)) {
          return TUpdateUtils::CompareFileVersion(VersionOf(aInfo), *installed) > 0;
        }
        return byChecksum();
      case fcmCheckSum:
        return byChecksum();
      case fcmVersion:
        return TUpdateUtils::CompareFileVersion(VersionOf(aInfo), InstalledVersion(aPath).value_or(TFileVersion{})) > 0;
      case fcmProxy: {
        const TStructItem* item = aInfo.ParentItem();
        if (item == nullptr || item->ParentCollection() == nullptr) {
          return true;
        }
        const TStructItem* sibling = VersionSibling(*item);
        if (sibling == nullptr || sibling->FileInfo() == nullptr) {
          return false;
        }
        const std::string target = sibling->Inst() != nullptr && !sibling->Inst()->FTarget.empty()
                                       ? sibling->Inst()->FTarget
                                       : Platform::Paths::ExtractFilePath(aPath) + sibling->FName;
        struct stat st {};
        if (::stat(target.c_str(), &st) != 0) {
          return true;  // without its ".version" file the proxied file cannot count as current
        }
        return ShouldDownload(target, st, *sibling->FileInfo(), EffectiveMode(sibling->FileInfo()->FCompareMode),
                              AT_FDCWD, target);
      }
      case fcmDate: {
        const std::int32_t installed = DateTimeToFileDate(Platform::TDateTime::FromTimespec(aStat.st_mtim));
        return static_cast<std::uint32_t>(installed) < static_cast<std::uint32_t>(aInfo.FTime);
      }
      case fcmNever:
        return false;
      case fcmAlways:
      default:
        return true;
    }
  } catch (const std::exception& e) {
    LogException("TProgramCollection.ShouldFileBeDownloaded: Error " + ExceptionText(e));
    Log("\tFileName = " + aPath);
    Log("\tCompareMode = " + ModeName(aMode));
    throw;
  }
}

bool TProgramCollectionChecker::IsFileAlreadyDownloaded(const TStructItem& aItem) {
  try {
    if (aItem.FileInfo() == nullptr || aItem.Inst() == nullptr) {
      return false;
    }
    struct stat st {};
    if (::stat(aItem.Inst()->FSourceFile.c_str(), &st) != 0) {
      return false;  // nothing downloaded yet: not worth a log line
    }
    TZPackedFileInfo header;
    if (GetPackedFileInfo(&aItem, &header) != S_OK) {
      return false;
    }
    const TFileCompareMode mode = EffectiveMode(aItem.FileInfo()->FCompareMode);
    if (mode == fcmProxy) {
      const TStructItem* sibling = VersionSibling(aItem);
      return sibling != nullptr && IsFileAlreadyDownloaded(*sibling);
    }
    TFileInfo fromHeader;
    fromHeader.FSize = header.Size;
    fromHeader.FTime = header.Date;
    fromHeader.FCrc = static_cast<std::int32_t>(header.CRC);
    fromHeader.FPackedSize = header.PackedSize;
    fromHeader.FPackedCrc = static_cast<std::int32_t>(header.PackedCRC);
    fromHeader.FVersionMajor = header.MajorNumber;
    fromHeader.FVersionMinor = header.MinorNumber;
    fromHeader.FVersionRelease = header.ReleaseNumber;
    fromHeader.FVersionBuild = header.BuildNumber;
    return CompareFileInfo(fromHeader, *aItem.FileInfo(), mode) != 1;
  } catch (const std::exception& e) {
    LogException("TProgramCollection.IsFileAlreadyDownloaded: Error " + ExceptionText(e));
    Log("\tFileName = " + aItem.FName);
    throw;
  }
}

std::int32_t TProgramCollectionChecker::VerifyDownloadedFile(const TStructItem* aItem) {
  return GetPackedFileInfo(aItem, nullptr);
}

std::int32_t TProgramCollectionChecker::GetPackedFileInfo(const TStructItem* aItem, TZPackedFileInfo* aHeader) {
  std::int32_t step = STG_E_ACCESSDENIED;
  try {
    TCalcStreamCRC* crc = fCollection.fCrc;
    if (crc == nullptr) {
      Log(std::string(kPackedPrefix) + "fCrc = nil");
      return E_POINTER;
    }
    if (aItem == nullptr) {
      Log(std::string(kPackedPrefix) + "aFileItem = nil");
      return STG_E_INVALIDPOINTER;
    }
    if (aItem->Inst() == nullptr) {
      Log(std::string(kPackedPrefix) + "aFileItem.Inst = nil");
      return STG_E_INVALIDPARAMETER;
    }
    if (aItem->FileInfo() == nullptr) {
      Log(std::string(kPackedPrefix) + "aFileItem.FileInfo = nil");
      return STG_E_INVALIDPARAMETER;
    }
    const std::string& path = aItem->Inst()->FSourceFile;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      Log(std::string(kPackedPrefix) + "File not found " + path);
      return STG_E_FILENOTFOUND;
    }
    std::vector<char> buffer(TCalcStreamCRC::FileBufferSize);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    in.open(path, std::ios::binary);
    if (!in) {
      throw std::runtime_error("cannot open " + path);
    }
    if (static_cast<std::uint64_t>(st.st_size) < PackedHeaderSize) {
      Log(std::string(kPackedPrefix) + "STG_E_INVALIDHEADER " + std::to_string(st.st_size) + " < " + kHeaderSize);
      return STG_E_INVALIDHEADER;
    }
    step = STG_E_READFAULT;
    TPackedHeaderBytes bytes{};
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto got = in.gcount();
    if (static_cast<std::size_t>(got) != PackedHeaderSize) {
      Log(std::string(kPackedPrefix) + "STG_E_INVALIDHEADER " + std::to_string(got) + " <> " + kHeaderSize);
      return STG_E_INVALIDHEADER;
    }
    const TZPackedFileInfo header = DecodePackedFileInfo(bytes);
    std::string ident = header.ID;
    ident.erase(ident.find_last_not_of(std::string_view(" \t\r\n\0", 5)) + 1);
    ident = Platform::Text::AsciiUpper(ident);
    if (ident != "KVTZLIBFILE") {
      Log(std::string(kPackedPrefix) + "STG_E_INVALIDHEADER " + ident + " <> KVTZLIBFILE");
      return STG_E_INVALIDHEADER;
    }
    step = STG_E_SEEKERROR;
    in.clear();
    in.seekg(static_cast<std::streamoff>(PackedHeaderSize));
    if (!in) {
      throw std::runtime_error("cannot seek in " + path);
    }
    // From the position after the header to the end; the stream is detached before it goes
    // out of scope, the register keeps the checksum.
    crc->SetBinStream(&in);
    crc->Reset();
    const bool calculated = crc->Calculate();
    crc->SetBinStream(nullptr);
    if (!calculated) {
      Log(std::string(kPackedPrefix) + "fCrc.Calculate");
      return STG_E_INVALIDFUNCTION;
    }
    if (crc->CRC() != header.PackedCRC) {
      Log(std::string(kPackedPrefix) + "STG_E_INCOMPLETE " + std::to_string(crc->CRC()) + " <> " +
          std::to_string(header.PackedCRC));
      return STG_E_INCOMPLETE;
    }
    if (aHeader != nullptr) {
      *aHeader = header;
    }
    return S_OK;
  } catch (const std::exception& e) {
    LogException(std::string(kPackedPrefix) + ExceptionText(e));
    return step;
  }
}

// Synchronised folders

void TProgramCollectionChecker::Reduce_SyncFolder(TStructItem& aItem) {
  if (aItem.Dir() == nullptr) {
    return;
  }
  if (aItem.Dir()->FSync) {
    if (aItem.Inst() != nullptr && !aItem.Inst()->FTarget.empty()) {
      SyncFolder(aItem, aItem.Inst()->FTarget);
    }
    return;
  }
  TStructCollection& items = aItem.Dir()->Items();
  for (std::size_t i = items.Count(); i-- > 0;) {
    if (items.Items(i).FIsDirectory) {
      Reduce_SyncFolder(items.Items(i));
    }
  }
}

void TProgramCollectionChecker::SyncFolder(TStructItem& aDirItem, const std::string& aFolder) {
  const std::string folder = Platform::Paths::IncludeTrailingDelimiter(aFolder);
  DIR* handle = ::opendir(folder.c_str());
  if (handle == nullptr) {
    return;
  }
  std::vector<std::string> folders;
  std::vector<std::string> files;
  while (const dirent* entry = ::readdir(handle)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    struct stat st {};
    const std::string path = folder + name;
    // Links are listed as files: deleting one removes the link, never what it points to.
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      folders.push_back(path);
    } else {
      files.push_back(path);
    }
  }
  ::closedir(handle);

  const auto strike = [](std::vector<std::string>& aList, const std::string& aPath) {
    const auto it = std::find(aList.begin(), aList.end(), aPath);
    if (it == aList.end()) {
      return false;
    }
    aList.erase(it);
    return true;
  };
  if (aDirItem.Dir() != nullptr) {
    TStructCollection& items = aDirItem.Dir()->Items();
    for (std::size_t i = items.Count(); i-- > 0;) {
      TStructItem& child = items.Items(i);
      if (child.Inst() == nullptr || child.Inst()->FTarget.empty()) {
        continue;
      }
      if (child.FIsDirectory) {
        const std::string target = Platform::Paths::ExcludeTrailingDelimiter(child.Inst()->FTarget);
        if (strike(folders, target)) {
          SyncFolder(child, child.Inst()->FTarget);
        }
      } else {
        strike(files, child.Inst()->FTarget);
      }
    }
  }
  for (const std::string& path : folders) {
    // The product's download and log folders lie in its install folder: deleting them with
    // a synchronised install folder would take the packages of this very update.
    if (HoldsFolder(path, fConfig.UpdateDownloadDir) || HoldsFolder(path, fConfig.UpdateLogDir)) {
      continue;
    }
    fCollection.fDeleteMeList.NewItem(path, TDeleteMeItem::TType::dmDirectory);
  }
  for (const std::string& path : files) {
    fCollection.fDeleteMeList.NewItem(path, TDeleteMeItem::TType::dmFile);
  }
}

// Lists

bool TProgramCollectionChecker::CollectFiles() {
  fCollection.fFilesToDownload.Clear();
  fCollection.fFilesToInstall.Clear();
  fCollection.fUnpackedSize = 0;
  fCollection.fPackedSize = 0;
  bool ok = true;
  TMainStructCollection& merged = fCollection.fMergedItems;
  for (std::size_t i = merged.Count(); i-- > 0;) {
    if (TDirInfo* dir = merged.Items(i).Dir()) {
      ok = CollectDir(dir->Items()) && ok;
    }
  }
  return ok;
}

bool TProgramCollectionChecker::CollectDir(TStructCollection& aItems) {
  bool ok = true;
  for (std::size_t i = aItems.Count(); i-- > 0;) {
    TStructItem& item = aItems.Items(i);
    if (item.FIsDirectory) {
      if (item.Dir() != nullptr) {
        ok = CollectDir(item.Dir()->Items()) && ok;
      }
    } else {
      ok = CollectFile(item) && ok;
    }
  }
  return ok;
}

bool TProgramCollectionChecker::CollectFile(TStructItem& aItem) {
  const TFileInfo* info = aItem.FileInfo();
  if (info == nullptr) {
    Log("\tTProgramCollection.CollectFile: no file description: " + aItem.FName);
    aItem.Delete();
    return false;
  }
  if (info->FToDownload) {
    fCollection.fFilesToDownload.Add(&aItem);
    fCollection.fFilesToInstall.Add(&aItem);
    fCollection.fUnpackedSize += info->FSize;
    fCollection.fPackedSize += info->FPackedSize + static_cast<std::int32_t>(PackedHeaderSize);
  } else if (info->FFromCache) {
    fCollection.fFilesToInstall.Add(&aItem);
  } else {
    aItem.Delete();
  }
  return true;
}

}  // namespace Update::Service
