#include "service/lists/update_file.h"

#include <algorithm>
#include <filesystem>

#include "common/utils.h"
#include "service/formats/packed_file.h"
#include "service/host/log.h"

namespace Update::Service {

namespace {

namespace fs = std::filesystem;

std::string FolderWithDelimiter(const std::string& aPath) {
  const auto slash = aPath.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : aPath.substr(0, slash + 1);
}

// Replaces aTarget by aSource. Within one file system the rename replaces the old file in
// one step (also a read-only one), so a failure leaves it in place; across file systems the
// old file is removed and the new one copied.
bool MoveReplacing(const std::string& aSource, const std::string& aTarget) {
  std::error_code error;
  fs::rename(aSource, aTarget, error);
  if (!error) {
    return true;
  }
  if (error != std::errc::cross_device_link) {
    return false;
  }
  fs::remove(aTarget, error);
  if (!fs::copy_file(aSource, aTarget, error)) {
    return false;
  }
  fs::remove(aSource, error);
  return true;
}

}  // namespace

int TUpdateFileList::GetCount(TUpdateFileStatus aStatus) const {
  return static_cast<int>(
      std::count_if(fItems.begin(), fItems.end(), [&](const TUpdateFile& aFile) { return aFile.Status == aStatus; }));
}

int TUpdateFileList::GetCount(std::initializer_list<TUpdateFileStatus> aStatuses) const {
  return static_cast<int>(std::count_if(fItems.begin(), fItems.end(), [&](const TUpdateFile& aFile) {
    return std::find(aStatuses.begin(), aStatuses.end(), aFile.Status) != aStatuses.end();
  }));
}

bool TUpdateFileList::UnCompress(TZlibHandler& aHandler) {
  bool result = true;
  for (TUpdateFile& file : fItems) {
    if ((file.Status != fsDownload_Complete && file.Status != fsInstall_Active) || file.LocalFile == file.TempFile) {
      continue;
    }
    aHandler.SetInput(file.TempFile);
    aHandler.SetOutput(FolderWithDelimiter(file.TempFile));
    std::string unpacked;
    const TZlibResult unpackResult = aHandler.UnCompress(unpacked);
    if (unpackResult != TZlibResult::zrOK) {
      file.Status = fsInstall_ErrorUncompress;
      Log("\tUnCompress failed: " + TZlibHandler::ZLibResultToString(unpackResult) + ", " + file.LocalFile);
      result = false;
    } else if (Common::TUpdateUtils::GetLongPathName(unpacked) ==
               Common::TUpdateUtils::GetLongPathName(file.LocalFile)) {
      // Exact comparison: on Linux two names that differ in case are two files.
      file.Status = fsInstall_Complete;
    } else {
      file.Status = MoveReplacing(unpacked, file.LocalFile) ? fsInstall_Complete : fsInstall_Error;
    }
    std::error_code error;
    fs::remove(file.TempFile, error);
  }
  return result;
}

}  // namespace Update::Service
