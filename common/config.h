#pragma once

// TCustomUpdateConfig: the one place for the folders, file names, registry values,
// mailslot names, the feed URL and the product hooks of the update programs. The base
// class fixes the shape and how values derive from each other; a product subclass
// (TUpdateConfig in customer_config.h) supplies the values that name the product.
//
// Every file, registry value or mailslot name of the update system comes from here;
// nothing else spells those paths.
//
// Reach the process-wide instance with UpdateConfig(). It is created on first use by
// the factory set with SetUpdateConfigClass (the product's TUpdateConfig when none is
// set) and published with an atomic compare-and-exchange, so every thread sees one
// instance. Paths are computed once at creation; every other value is recomputed or
// read from the registry on each call (a value the service writes is seen by the
// client on its next read).
//
// Registry reads raise Platform::Registry::ERegistryException for a value of the wrong
// type or a damaged store; writes drop failures silently.
//
// Threads: any. After creation the object has no mutable state of its own.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/file_version.h"
#include "common/settings.h"
#include "platform/datetime/datetime.h"

namespace Update::Common {

class TUpdateMetaManifest;
class TUpdateChannel;
class TUpdateModule;

// The nine resolved folders; every non-empty value ends with "/".
struct TUpdatePaths {
  std::string CommonFilesDir;
  std::string ProgramFilesDir;
  std::string ProgramDataDir;
  std::string WindowsDir;
  std::string SystemDir;
  std::string InstallDir;
  std::string UpdateDownloadDir;
  std::string UpdateLogDir;
  std::string UpdateConfigDir;

  void Clear();
};

class TCustomUpdateConfig {
 public:
  virtual ~TCustomUpdateConfig() = default;
  TCustomUpdateConfig(const TCustomUpdateConfig&) = delete;
  TCustomUpdateConfig& operator=(const TCustomUpdateConfig&) = delete;

  // Builds a configuration of class T with its paths resolved (the two-step creation
  // lets InitPaths call the subclass's virtuals).
  template <typename T>
  static std::unique_ptr<TCustomUpdateConfig> Create() {
    std::unique_ptr<TCustomUpdateConfig> config(new T());
    config->fPaths.Clear();
    config->InitPaths();
    return config;
  }

  const TUpdatePaths& Paths() const { return fPaths; }

  // --- virtuals, in the order of the product's slot table ---
  virtual std::string Dir_Install() const = 0;
  virtual std::string Dir_UpdateBase() const = 0;
  virtual std::string Dir_UpdateLog() const;
  virtual std::string Dir_UpdateConfig() const = 0;
  virtual std::string FileName_UpdateClientExe() const = 0;
  virtual std::string FileName_UpdateHelperExe() const = 0;
  virtual std::string RegKey_Update() const = 0;
  virtual std::string RegValue_EulaVersion() const { return "EulaVersion"; }
  virtual std::string RegValue_UpdateVersion() const { return "UpdateVersion"; }
  virtual std::string RegValue_UpdateChannelName() const { return "UpdateChannel"; }
  virtual std::string RegValue_UpdateChannelSwitchPending() const { return "UpdateChannelSwitchPending"; }
  virtual std::string SpecialDir_InstallDir() const { return "[InstallDir]"; }
  // Machine-wide licence version the installed channel requires (0 = none).
  virtual int EulaVersion() const;
  // Licence version the current user accepted (-1 = never).
  virtual int AcceptedEulaVersion() const;
  virtual void SetEulaVersion(int aValue) const;
  virtual void SetAcceptedEulaVersion(int aValue) const;
  virtual std::string FileName_MetaManifest() const { return "meta.json"; }
  virtual std::string ServiceName() const = 0;
  // Base URL of the update feed.
  virtual std::string UpdateFeed() const = 0;
  // The folder of a special-folder token ("[WinDir]", ... compared without ASCII case,
  // whole token only); empty for anything else.
  virtual std::string ResolveSpecialDir(std::string_view aSpecialDir) const;
  virtual bool UseCacheBusting() const { return false; }
  virtual std::string Mailslot_Prefix() const = 0;
  virtual bool IsUpdateEnabled() const { return true; }
  // The channel to install from aMetaManifest (not owned; points into the manifest), or
  // nullptr. Base: the first channel.
  virtual const TUpdateChannel* GetUpdateChannel(const TUpdateMetaManifest* aMetaManifest) const;
  virtual bool ShouldUpdateModule(const TUpdateMetaManifest* aMetaManifest, const TUpdateChannel* aChannel,
                                  const TUpdateModule* aModule) const;
  virtual TUpdateSettings DefaultSettings() const;
  // Called once by the service after it started.
  virtual void Hook_ServiceCreated() const {}
  // Called once by the client after it told the user an installation completed.
  virtual void Hook_InstallDoneShown() const {}
  virtual bool Stats_IsUploadEnabled() const { return false; }
  // Uploads statistics; false means nothing was uploaded.
  virtual bool Stats_Upload() const { return false; }

  // --- non-virtual ---
  std::string File_UpdateClient() const;
  std::string File_UpdateHelper() const;
  // The meta manifest URL: the feed with exactly one "/" before "meta.json".
  std::string Url_UpdateFeed() const;
  std::string FileName_UpdateSettings() const { return "update.settings.json"; }
  std::string FileName_ProxySettings() const { return "update.proxy.json"; }
  std::string FileName_LastBitsJob() const { return "update.resume.json"; }
  std::string FileName_UpdateState() const { return "update.state.json"; }
  std::string FileName_ServiceLog() const { return "update.service.log"; }
  std::string FileName_FilesLog() const { return "update.log"; }
  std::string Mailslot_ServerName_Service() const { return Mailslot_Prefix() + "UpdateService\\Main"; }
  std::string Mailslot_ServerName_Client() const { return Mailslot_Prefix() + "UpdateClient\\Main"; }
  // "V&W Update - <name> (<yyyy-mm-dd hh:nn:ss>)", the time left out at midnight.
  std::string FormatBitsJobName(std::string_view aJobName, Platform::TDateTime aJobData) const;
  std::string Dir_UpdateDownload() const;
  std::string RegValue_LastUpdateCheck() const { return "LastUpdateCheck"; }
  std::string RegValue_LastUpdateInstall() const { return "LastUpdateInstall"; }

  // --- registry-backed properties (see the table in config.cpp) ---
  Platform::TDateTime LastUpdateCheck() const;
  void SetLastUpdateCheck(Platform::TDateTime aValue) const;
  Platform::TDateTime LastUpdateInstall() const;
  void SetLastUpdateInstall(Platform::TDateTime aValue) const;
  TFileVersion UpdateVersion() const;
  void SetUpdateVersion(const TFileVersion& aValue) const;
  std::string UpdateChannelName() const;
  void SetUpdateChannelName(std::string_view aValue) const;
  bool UpdateChannelSwitchPending() const;
  void SetUpdateChannelSwitchPending(bool aValue) const;

 protected:
  TCustomUpdateConfig() = default;
  // Fills fPaths in table order: the machine folders first, because the product's
  // Dir_UpdateConfig reads Paths().ProgramDataDir.
  void InitPaths();

 private:
  TUpdatePaths fPaths;
};

using TUpdateConfigClass = std::function<std::unique_ptr<TCustomUpdateConfig>()>;

// The process-wide configuration; creates it on first use.
TCustomUpdateConfig& UpdateConfig();
// Sets the factory used by the first UpdateConfig() call (set it before that call).
// Empty: the product's TUpdateConfig.
void SetUpdateConfigClass(TUpdateConfigClass aClass);
// Frees the instance so that the next UpdateConfig() creates a new one. For program
// shutdown and for tests; no other thread may use the configuration meanwhile.
void FreeUpdateConfig();

// Provided by the product unit (customer_config.cpp).
std::unique_ptr<TCustomUpdateConfig> CreateProductUpdateConfig();

}  // namespace Update::Common
