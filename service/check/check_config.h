#pragma once

// The few configuration values the file check reads, handed in by whoever creates the
// file manager (the update manager fills it from the update configuration).
//
// Contract: ResolveSpecialDir may be called from the check thread; it must not touch
// state that another thread changes. Values are copied at construction of the file
// manager: the pending channel switch is the state at the start of the check.

#include <functional>
#include <string>

namespace Update::Service {

struct TCheckConfig {
  // The folder of a special-directory token ("[InstallDir]"), ending with "/", or empty for
  // an unknown token.
  std::function<std::string(const std::string& aSpecialDir)> ResolveSpecialDir;
  // The download folder, ending with "/".
  std::string UpdateDownloadDir;
  // The user switched channels and no install has completed since: every comparison uses
  // the checksum.
  bool UpdateChannelSwitchPending = false;

  // ResolveSpecialDir, or empty when none was given.
  std::string Resolve(const std::string& aSpecialDir) const;
};

}  // namespace Update::Service
