#pragma once

// The small value types that the update service and client exchange and store:
// TUpdateStatus, the progress record TUpdateProgress, the per-phase record
// TUpdateStateItem and the state object TUpdateState ("update.state.json").
//
// JSON forms follow the persistence rules (names as declared, enumerations as their
// names, date-times as "yyyy-mm-dd hh:nn:ss.zzz" with the time omitted at midnight,
// records as nested objects). Loading never raises: text that does not parse leaves the
// reset values.
//
// Thread: value types; an instance belongs to one thread at a time. Time-dependent
// operations take an IClock (the system clock by default) so tests can fix "now".

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/persist.h"
#include "platform/datetime/datetime.h"

namespace Update::Common {

// Ordinals are stored in files and messages: append only.
enum TUpdateStatus : std::uint8_t {
  usIdle,            // nothing running
  usFileChecking,    // the file check is running
  usDownloading,     // a download is running
  usInstalling,      // an installation is running
  usError,           // the last action failed
  usErrorTransient,  // the service cannot be reached at the moment (set by the client)
};
QV_PERSIST_ENUM(TUpdateStatus, "Update.Common.State.TUpdateStatus", usIdle, usFileChecking, usDownloading, usInstalling,
                usError, usErrorTransient)

inline constexpr std::string_view kFileName_UpdateState = "update.state.json";

struct TUpdateProgress {
  TUpdateStatus CurrentAction = usIdle;
  std::int32_t FilesDone = 0;
  std::int32_t FilesTotal = 0;
  std::int64_t BytesDone = 0;
  std::int64_t BytesTotal = 0;

  TUpdateProgress() = default;
  // LoadFromJson(aJson).
  static TUpdateProgress Create(std::string_view aJson);

  void Reset() { *this = TUpdateProgress(); }
  std::string SaveToJson(bool aPretty) const;
  // Resets, then loads the record from a non-empty text: every member missing from the
  // text is zero afterwards.
  void LoadFromJson(std::string_view aJson);

  friend bool operator==(const TUpdateProgress&, const TUpdateProgress&) = default;

  static void Describe(TPersistDescriber<TUpdateProgress>& d) {
    d.Record("Update.Common.State.TUpdateProgress");
    d.Field("CurrentAction", &TUpdateProgress::CurrentAction);
    d.Field("FilesDone", &TUpdateProgress::FilesDone);
    d.Field("FilesTotal", &TUpdateProgress::FilesTotal);
    d.Field("BytesDone", &TUpdateProgress::BytesDone);
    d.Field("BytesTotal", &TUpdateProgress::BytesTotal);
  }
};

struct TUpdateStateItem {
  static constexpr double kExpirySeconds = 129600;  // 36 hours

  Platform::TDateTime StartTime;  // 0 = never started
  Platform::TDateTime EndTime;    // 0 = not ended
  bool Error = false;             // the phase ended with a failure

  TUpdateStateItem() = default;
  static TUpdateStateItem Create(std::string_view aJson);

  void Reset() { *this = TUpdateStateItem(); }
  // Reset, then StartTime := now.
  void Start(const Platform::IClock& aClock = Platform::SystemClock());
  // EndTime := now, Error := !aSuccess; StartTime unchanged.
  void Finish(bool aSuccess, const Platform::IClock& aClock = Platform::SystemClock());
  bool IsStarted() const { return StartTime.Value() > 0; }
  // A phase that ended in error is not finished.
  bool IsFinished() const { return !Error && EndTime.Value() > 0; }
  // The end time when finished, else the start time when started, lies more than 36
  // hours before now; false when neither.
  bool IsExpired(const Platform::IClock& aClock = Platform::SystemClock()) const;
  bool IsFinishedAndNotExpired(const Platform::IClock& aClock = Platform::SystemClock()) const {
    return IsFinished() && !IsExpired(aClock);
  }

  std::string SaveToJson(bool aPretty) const;
  void LoadFromJson(std::string_view aJson);

  friend bool operator==(const TUpdateStateItem&, const TUpdateStateItem&) = default;

  static void Describe(TPersistDescriber<TUpdateStateItem>& d) {
    d.Record("Update.Common.State.TUpdateStateItem");
    d.Field("StartTime", &TUpdateStateItem::StartTime);
    d.Field("EndTime", &TUpdateStateItem::EndTime);
    d.Field("Error", &TUpdateStateItem::Error);
  }
};

class TUpdateState {
 public:
  TUpdateState() { Reset(); }

  const TUpdateStateItem& FileCheck() const { return fFileCheck; }
  const TUpdateStateItem& Download() const { return fDownload; }
  const TUpdateStateItem& Install() const { return fInstall; }
  // Callers change the phases through the item's methods (Start, Finish, Reset).
  TUpdateStateItem& FileCheck() { return fFileCheck; }
  TUpdateStateItem& Download() { return fDownload; }
  TUpdateStateItem& Install() { return fInstall; }
  bool CanDownload() const { return fCanDownload; }
  void SetCanDownload(bool aValue) { fCanDownload = aValue; }
  bool CanInstall() const { return fCanInstall; }
  void SetCanInstall(bool aValue) { fCanInstall = aValue; }

  void Reset();
  // Pretty for the file, compact for messages; never compressed.
  std::string SaveToJson(bool aPretty) const;
  // Reset, then fill from a non-empty text; text that is no JSON object leaves the reset
  // state, members missing from it keep their reset values.
  void LoadFromJson(std::string_view aJson);

  // "update.state.json" in aFolder: written pretty-printed (missing folders created;
  // file-system errors raise std::filesystem::filesystem_error), read leniently (a
  // missing or unreadable file yields the reset state).
  static void SaveToFolder(const TUpdateState& aUpdateState, const std::filesystem::path& aFolder);
  static void LoadFromFolder(TUpdateState& aUpdateState, const std::filesystem::path& aFolder);
  // The same in the update configuration folder (Paths.UpdateConfigDir).
  static void Save(const TUpdateState& aUpdateState);
  static void Load(TUpdateState& aUpdateState);

  friend bool operator==(const TUpdateState&, const TUpdateState&) = default;

  static void Describe(TPersistDescriber<TUpdateState>& d) {
    d.Class("Update.Common.State.TUpdateState");
    d.Field("fFileCheck", &TUpdateState::fFileCheck);
    d.Field("fDownload", &TUpdateState::fDownload);
    d.Field("fInstall", &TUpdateState::fInstall);
    d.Field("fCanDownload", &TUpdateState::fCanDownload);
    d.Field("fCanInstall", &TUpdateState::fCanInstall);
  }

 private:
  TUpdateStateItem fFileCheck;
  TUpdateStateItem fDownload;
  TUpdateStateItem fInstall;
  bool fCanDownload = false;
  bool fCanInstall = false;
};

}  // namespace Update::Common
