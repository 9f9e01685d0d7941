#include "common/config.h"

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "common/manifest.h"
#include "common/registry_helpers.h"
#include "common/utils.h"
#include "platform/paths/paths.h"
#include "platform/text/text.h"

// Registry-backed properties, all below RegKey_Update():
//
//   property                    hive                value name                   stored as        missing
//   LastUpdateCheck             HKEY_LOCAL_MACHINE  "LastUpdateCheck"            8-byte double    0
//   LastUpdateInstall           HKEY_LOCAL_MACHINE  "LastUpdateInstall"          8-byte double    0
//   EulaVersion                 HKEY_LOCAL_MACHINE  "EulaVersion"                DWORD            0
//   AcceptedEulaVersion         HKEY_CURRENT_USER   "EulaVersion"                DWORD            -1
//   UpdateVersion               HKEY_LOCAL_MACHINE  "UpdateVersion"              "%d.%d.%d.%d"    0.0.0.0
//   UpdateChannelName           HKEY_LOCAL_MACHINE  "UpdateChannel"              string           empty
//   UpdateChannelSwitchPending  HKEY_LOCAL_MACHINE  "UpdateChannelSwitchPending" DWORD 0/1        false
//
// A value-name virtual that returns an empty name disables that value: reads give the
// default, writes do nothing.

namespace Update::Common {

namespace {

using Platform::Registry::THive;
constexpr THive kMachine = THive::HKEY_LOCAL_MACHINE;
constexpr THive kUser = THive::HKEY_CURRENT_USER;

std::atomic<TCustomUpdateConfig*> gUpdateConfig{nullptr};

std::mutex& ClassLock() {
  static std::mutex lock;
  return lock;
}

TUpdateConfigClass& ConfigClass() {
  static TUpdateConfigClass configClass;
  return configClass;
}

// Frees the instance at program end.
struct TUpdateConfigOwner {
  ~TUpdateConfigOwner() { FreeUpdateConfig(); }
} gUpdateConfigOwner;

template <typename T, typename F>
T ReadOr(std::string_view aName, T aDefault, F&& aRead) {
  if (aName.empty()) {
    return aDefault;
  }
  T value = aDefault;
  return aRead(value) ? value : aDefault;
}

}  // namespace

void TUpdatePaths::Clear() {
  *this = TUpdatePaths();
}

void TCustomUpdateConfig::InitPaths() {
  using Platform::Paths::IncludeTrailingDelimiter;
  fPaths.CommonFilesDir = IncludeTrailingDelimiter(Platform::Paths::CommonFilesDir());
  fPaths.ProgramFilesDir = IncludeTrailingDelimiter(Platform::Paths::ProgramFilesDir());
  fPaths.ProgramDataDir = IncludeTrailingDelimiter(Platform::Paths::ProgramDataDir());
  fPaths.WindowsDir = IncludeTrailingDelimiter(Platform::Paths::WindowsDir());
  fPaths.SystemDir = IncludeTrailingDelimiter(Platform::Paths::SystemDir());
  fPaths.InstallDir = IncludeTrailingDelimiter(Dir_Install());
  fPaths.UpdateDownloadDir = IncludeTrailingDelimiter(Dir_UpdateDownload());
  fPaths.UpdateLogDir = IncludeTrailingDelimiter(Dir_UpdateLog());
  fPaths.UpdateConfigDir = IncludeTrailingDelimiter(Dir_UpdateConfig());
}

std::string TCustomUpdateConfig::Dir_UpdateLog() const {
  return Platform::Paths::IncludeTrailingDelimiter(Dir_UpdateBase()) + "Log";
}

std::string TCustomUpdateConfig::Dir_UpdateDownload() const {
  return Platform::Paths::IncludeTrailingDelimiter(Dir_UpdateBase()) + "Download";
}

std::string TCustomUpdateConfig::File_UpdateClient() const {
  return Platform::Paths::IncludeTrailingDelimiter(Dir_UpdateBase()) + FileName_UpdateClientExe();
}

std::string TCustomUpdateConfig::File_UpdateHelper() const {
  return Platform::Paths::IncludeTrailingDelimiter(Dir_UpdateBase()) + FileName_UpdateHelperExe();
}

std::string TCustomUpdateConfig::Url_UpdateFeed() const {
  return TUpdateUtils::GetUrl(UpdateFeed(), FileName_MetaManifest(), true);
}

std::string TCustomUpdateConfig::FormatBitsJobName(std::string_view aJobName, Platform::TDateTime aJobData) const {
  return "V&W Update - " + std::string(aJobName) + " (" + TUpdateUtils::DateTimeToStr(aJobData) + ")";
}

std::string TCustomUpdateConfig::ResolveSpecialDir(std::string_view aSpecialDir) const {
  using Platform::Text::SameAsciiNoCase;
  if (SameAsciiNoCase(aSpecialDir, "[WinDir]"))
    return fPaths.WindowsDir;
  if (SameAsciiNoCase(aSpecialDir, "[WinSysDir]"))
    return fPaths.SystemDir;
  if (SameAsciiNoCase(aSpecialDir, "[CommonFilesDir]"))
    return fPaths.CommonFilesDir;
  if (SameAsciiNoCase(aSpecialDir, "[ProgramsDir]"))
    return fPaths.ProgramFilesDir;
  if (SameAsciiNoCase(aSpecialDir, "[ProgramDataDir]"))
    return fPaths.ProgramDataDir;
  std::string installToken = SpecialDir_InstallDir();
  if (!installToken.empty() && SameAsciiNoCase(aSpecialDir, installToken))
    return fPaths.InstallDir;
  return std::string();
}

TUpdateSettings TCustomUpdateConfig::DefaultSettings() const {
  TUpdateSettings settings;
  settings.AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acAutoOnSystemStart;
  settings.IntervalCheckForUpdates = TSettings_IntervalCheckForUpdates::icDaily;
  settings.AllowDownload = TSettings_AllowDownload::adAutoAlways;
  settings.TrayVisible = TSettings_TrayVisible::tvOnUserInteractionRequired;
  return settings;
}

bool TCustomUpdateConfig::ShouldUpdateModule(const TUpdateMetaManifest*, const TUpdateChannel*,
                                             const TUpdateModule*) const {
  return true;
}

// --- registry-backed properties ---

int TCustomUpdateConfig::EulaVersion() const {
  std::string name = RegValue_EulaVersion();
  return ReadOr(name, 0, [&](int& aValue) { return ReadRegInteger(kMachine, RegKey_Update(), name, aValue); });
}

int TCustomUpdateConfig::AcceptedEulaVersion() const {
  std::string name = RegValue_EulaVersion();
  return ReadOr(name, -1, [&](int& aValue) { return ReadRegInteger(kUser, RegKey_Update(), name, aValue); });
}

void TCustomUpdateConfig::SetEulaVersion(int aValue) const {
  if (std::string name = RegValue_EulaVersion(); !name.empty()) {
    WriteRegInteger(kMachine, RegKey_Update(), name, aValue);
  }
}

void TCustomUpdateConfig::SetAcceptedEulaVersion(int aValue) const {
  if (std::string name = RegValue_EulaVersion(); !name.empty()) {
    WriteRegInteger(kUser, RegKey_Update(), name, aValue);
  }
}

Platform::TDateTime TCustomUpdateConfig::LastUpdateCheck() const {
  std::string name = RegValue_LastUpdateCheck();
  return ReadOr(name, Platform::TDateTime(0.0),
                [&](Platform::TDateTime& aValue) { return ReadRegDateTime(kMachine, RegKey_Update(), name, aValue); });
}

void TCustomUpdateConfig::SetLastUpdateCheck(Platform::TDateTime aValue) const {
  if (std::string name = RegValue_LastUpdateCheck(); !name.empty()) {
    WriteRegDateTime(kMachine, RegKey_Update(), name, aValue);
  }
}

Platform::TDateTime TCustomUpdateConfig::LastUpdateInstall() const {
  std::string name = RegValue_LastUpdateInstall();
  return ReadOr(name, Platform::TDateTime(0.0),
                [&](Platform::TDateTime& aValue) { return ReadRegDateTime(kMachine, RegKey_Update(), name, aValue); });
}

void TCustomUpdateConfig::SetLastUpdateInstall(Platform::TDateTime aValue) const {
  if (std::string name = RegValue_LastUpdateInstall(); !name.empty()) {
    WriteRegDateTime(kMachine, RegKey_Update(), name, aValue);
  }
}

TFileVersion TCustomUpdateConfig::UpdateVersion() const {
  std::string name = RegValue_UpdateVersion();
  std::string text;
  if (name.empty() || !ReadRegString(kMachine, RegKey_Update(), name, text)) {
    return TFileVersion();
  }
  return TFileVersion(text);
}

void TCustomUpdateConfig::SetUpdateVersion(const TFileVersion& aValue) const {
  if (std::string name = RegValue_UpdateVersion(); !name.empty()) {
    WriteRegString(kMachine, RegKey_Update(), name, aValue.AsString());
  }
}

const TUpdateChannel* TCustomUpdateConfig::GetUpdateChannel(const TUpdateMetaManifest* aMetaManifest) const {
  return aMetaManifest ? aMetaManifest->Channels().FirstOrNil() : nullptr;
}

std::string TCustomUpdateConfig::UpdateChannelName() const {
  std::string name = RegValue_UpdateChannelName();
  return ReadOr(name, std::string(),
                [&](std::string& aValue) { return ReadRegString(kMachine, RegKey_Update(), name, aValue); });
}

void TCustomUpdateConfig::SetUpdateChannelName(std::string_view aValue) const {
  if (std::string name = RegValue_UpdateChannelName(); !name.empty()) {
    WriteRegString(kMachine, RegKey_Update(), name, aValue);
  }
}

bool TCustomUpdateConfig::UpdateChannelSwitchPending() const {
  std::string name = RegValue_UpdateChannelSwitchPending();
  return ReadOr(name, false, [&](bool& aValue) { return ReadRegBool(kMachine, RegKey_Update(), name, aValue); });
}

void TCustomUpdateConfig::SetUpdateChannelSwitchPending(bool aValue) const {
  if (std::string name = RegValue_UpdateChannelSwitchPending(); !name.empty()) {
    WriteRegBool(kMachine, RegKey_Update(), name, aValue);
  }
}

// --- the process-wide instance ---

TCustomUpdateConfig& UpdateConfig() {
  if (TCustomUpdateConfig* current = gUpdateConfig.load(std::memory_order_acquire)) {
    return *current;
  }
  TUpdateConfigClass factory;
  {
    std::lock_guard guard(ClassLock());
    factory = ConfigClass();
  }
  std::unique_ptr<TCustomUpdateConfig> created = factory ? factory() : CreateProductUpdateConfig();
  if (!created) {
    throw std::logic_error("UpdateConfigClass returned no configuration object");
  }
  TCustomUpdateConfig* expected = nullptr;
  if (gUpdateConfig.compare_exchange_strong(expected, created.get(), std::memory_order_acq_rel)) {
    return *created.release();
  }
  // Another thread published first; ours is freed by the unique_ptr.
  return *expected;
}

void SetUpdateConfigClass(TUpdateConfigClass aClass) {
  std::lock_guard guard(ClassLock());
  ConfigClass() = std::move(aClass);
}

void FreeUpdateConfig() {
  delete gUpdateConfig.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace Update::Common
