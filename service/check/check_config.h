#pragma once

// The values of the update configuration that one file check works with, taken once when
// the check starts (FromUpdateConfig, on the owner's thread). The merge and the reduction
// of one check so decide with the same compare modes, and the check thread reads no
// registry value.
//
// Contract: ResolveSpecialDir is called on the check thread. The resolver FromUpdateConfig
// installs calls the configuration object it was given; that object is immutable after
// creation, may be used from any thread and must outlive the check (the process-wide one
// is freed only at program end, after the service's managers).

#include <functional>
#include <string>

namespace Update::Common {
class TCustomUpdateConfig;
}

namespace Update::Service {

struct TCheckConfig {
  // The folder of a special-directory token ("[InstallDir]"), ending with "/", or empty for
  // an unknown token.
  std::function<std::string(const std::string& aSpecialDir)> ResolveSpecialDir;
  // The download folder, ending with "/".
  std::string UpdateDownloadDir;
  // The service's log folder, ending with "/". Like the download folder it may lie inside
  // an installed folder; a synchronised folder never deletes either of them.
  std::string UpdateLogDir;
  // The user switched channels and no install has completed since: every comparison uses
  // the checksum.
  bool UpdateChannelSwitchPending = false;

  // The configuration's special folders, its download folder and its pending channel
  // switch as it is now. Raises what the configuration's registry read raises.
  static TCheckConfig FromUpdateConfig(const Common::TCustomUpdateConfig& aConfig);

  // ResolveSpecialDir, or empty when none was given.
  std::string Resolve(const std::string& aSpecialDir) const;
};

}  // namespace Update::Service
