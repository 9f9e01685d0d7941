#pragma once

// TUpdateConfig: the values that tie the update programs to this product.
//
// The feed is "http://updates.quorvane.example/Downloads/Quorvane/update/channels"
// unless the environment variable QUORVANE_UPDATE_FEED holds a base URL, which then
// replaces it whole (tests and the demo point the programs at a loopback feed that
// way). The variable is read on every call.

#include "common/config.h"

namespace Update::Common {

inline constexpr const char* kDefaultUpdateFeed = "http://updates.quorvane.example/Downloads/Quorvane/update/channels";

class TUpdateConfig : public TCustomUpdateConfig {
 public:
  // The folder of the running program (its real path), with "/".
  std::string Dir_Install() const override;
  std::string Dir_UpdateBase() const override { return Dir_Install(); }
  // Paths().ProgramDataDir + "Quorvane/Update/".
  std::string Dir_UpdateConfig() const override;
  std::string FileName_UpdateClientExe() const override { return "quorvane-update"; }
  std::string FileName_UpdateHelperExe() const override { return "quorvane-update-helper"; }
  std::string RegKey_Update() const override { return "Software\\Quorvane\\Update"; }
  std::string ServiceName() const override { return "QuorvaneUpdateSvc"; }
  std::string UpdateFeed() const override;
  std::string Mailslot_Prefix() const override { return "quorvane\\"; }
  // The channel named by UpdateChannelName (without case), else the first channel.
  const TUpdateChannel* GetUpdateChannel(const TUpdateMetaManifest* aMetaManifest) const override;

 protected:
  TUpdateConfig() = default;
  friend class TCustomUpdateConfig;
};

}  // namespace Update::Common
