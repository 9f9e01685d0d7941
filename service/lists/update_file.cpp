#include "service/lists/update_file.h"

#include <algorithm>
#include <filesystem>

#include "service/formats/packed_file.h"
#include "service/host/log.h"
#include "service/lists/service_utils.h"

namespace Update::Service {

namespace {

namespace fs = std::filesystem;

std::string FolderWithDelimiter(const std::string& aPath) {
  const auto slash = aPath.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : aPath.substr(0, slash + 1);
}

// Replaces aTarget by aSource; across file systems by copy and delete.
bool MoveReplacing(const std::string& aSource, const std::string& aTarget) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(aTarget, error))) {
    fs::remove(aTarget, error);
  }
  fs::rename(aSource, aTarget, error);
  if (!error) {
    return true;
  }
  if (error != std::errc::cross_device_link) {
    return false;
  }
  if (!fs::copy_file(aSource, aTarget, fs::copy_options::overwrite_existing, error)) {
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
    } else if (LongPathName(unpacked) == LongPathName(file.LocalFile)) {
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
