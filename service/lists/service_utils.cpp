#include "service/lists/service_utils.h"

#include <cmath>
#include <filesystem>

#include "common/utils.h"
#include "service/host/log.h"

namespace Update::Service {

namespace fs = std::filesystem;

void TUpdateServiceUtils::DeleteTempFiles(const std::string& aDownloadDir) {
  if (!aDownloadDir.empty()) {
    Common::TUpdateUtils::DeleteDirectory(aDownloadDir);
  }
}

std::string TUpdateServiceUtils::FileStatusToString(TUpdateFileStatus aStatus) {
  switch (aStatus) {
    case fsNA:
      return "NA";
    case fsCheck_NeedsUpdate:
      return "Check_NeedsUpdate";
    case fsDownload_Active:
      return "Download_Active";
    case fsDownload_Complete:
      return "Download_Complete";
    case fsDownload_Error:
      return "Download_Error";
    case fsInstall_Active:
      return "Install_Active";
    case fsInstall_Complete:
      return "Install_Complete";
    case fsInstall_Error:
      return "Install_Error";
    case fsInstall_ErrorUncompress:
      return "";
  }
  return "";
}

std::string TUpdateServiceUtils::UpdateErrorToString(TUpdateError aError) {
  switch (aError) {
    case ueNone:
      return "No Error";
    case ueUnknown:
      return "Unknown Error";
    case ueNoInternetConnection:
      return "No Internet Connection";
    case ueBITSUnavailabe:
      return "BITS Unavailabe";
    case ueBITSVersion:
      return "Wrong BITS Version";
    case ueProxyAuthRequired:
      return "Proxy Auth Required";
    case ueMetaManifestError:
      return "Meta Manifest Error";
    case ueExceptionInThread:
      return "Exception in Thread";
  }
  return "";
}

bool TUpdateServiceUtils::IsBITSJobExpired(Platform::TDateTime aCreationTime, const Platform::IClock& aClock) {
  // In whole milliseconds: the day fraction of a double cannot say "exactly 36 hours".
  const double ageMs = std::round((aClock.Now() - aCreationTime) * Platform::TDateTime::MSecsPerDay);
  return ageMs > static_cast<double>(BITSJobLifetimeSeconds) * 1000.0;
}

bool TUpdateServiceUtils::ForceDirectories(const std::string& aFolder) {
  std::error_code error;
  if (fs::is_directory(aFolder, error)) {
    return true;
  }
  try {
    fs::create_directories(aFolder);
    return fs::is_directory(aFolder, error);
  } catch (const std::exception& e) {
    const bool exists = fs::is_directory(aFolder, error);
    if (!exists) {
      Log("\tDirectory doesn't exist and couldn't be created: " + aFolder);
    }
    LogException(ExceptionText(e));
    return exists;
  }
}

void TUpdateServiceUtils::LogFiles(const TUpdateFileList& aFiles, const std::string& aHeading,
                                   const Platform::IClock& aClock) {
  const std::string rule(50, '-');
  std::string text = rule + "\r\n";
  text += Common::TUpdateUtils::DateTimeToStr(aClock.Now()) + "\t(" + std::to_string(aFiles.Count()) + ")\t" +
          aHeading + "\r\n";
  text += rule + "\r\n";
  for (const TUpdateFile& file : aFiles) {
    text += "\t" + FileStatusToString(file.Status) + "\t\t\t" + file.LocalFile + "\r\n";
  }
  AppendFilesLog(text);
}

}  // namespace Update::Service
