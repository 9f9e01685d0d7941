#pragma once

// Update.Service.Utils: small operations and types shared by the service's update steps.
//
// Folders are parameters here (the download folder of DeleteTempFiles); the caller passes
// the configuration's value. The file log "update.log" is the one InitLog set up.
//
// Thread-safety: every operation may be called from any thread; LogFiles appends to the
// file log without a lock and is called only by the thread that completes update-manager
// operations.

#include <cstdint>
#include <string>

#include "platform/datetime/datetime.h"
#include "service/lists/update_file.h"

namespace Update::Service {

// Errors reported by the download threads. Values are stored and sent; they never change.
enum TUpdateError : std::uint8_t {
  ueNone = 0,
  ueUnknown = 1,
  ueNoInternetConnection = 2,
  ueBITSUnavailabe = 3,
  ueBITSVersion = 4,
  ueProxyAuthRequired = 5,
  ueMetaManifestError = 6,
  ueExceptionInThread = 7,
};

enum TJobType : std::uint8_t { jtUnknown, jtMetaManifest, jtFileCheck, jtDownload };

class TUpdateServiceUtils {
 public:
  // A transfer job older than this is given up.
  static constexpr std::int64_t BITSJobLifetimeSeconds = 129600;  // 36 hours

  // Deletes the download folder with all its contents; nothing is reported.
  static void DeleteTempFiles(const std::string& aDownloadDir);
  // "NA", "Check_NeedsUpdate", ...; empty for fsInstall_ErrorUncompress and unknown values.
  static std::string FileStatusToString(TUpdateFileStatus aStatus);
  // "No Error", "Unknown Error", ...; empty for unknown values.
  static std::string UpdateErrorToString(TUpdateError aError);
  // True when aCreationTime lies more than 36 hours before the clock's now (to the
  // millisecond: exactly 36 hours is not expired).
  static bool IsBITSJobExpired(Platform::TDateTime aCreationTime,
                               const Platform::IClock& aClock = Platform::SystemClock());
  // Creates the folder with all missing parents. True when the folder exists afterwards;
  // a failure is written to the service log.
  static bool ForceDirectories(const std::string& aFolder);
  // Appends a block to the file log: a line of 50 "-", "<time>\t(<count>)\t<heading>",
  // another line of 50 "-", then "\t<status>\t\t\t<local file>" per entry.
  static void LogFiles(const TUpdateFileList& aFiles, const std::string& aHeading,
                       const Platform::IClock& aClock = Platform::SystemClock());
};

}  // namespace Update::Service
