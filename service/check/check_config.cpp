#include "service/check/check_config.h"

#include "common/config.h"

namespace Update::Service {

TCheckConfig TCheckConfig::FromUpdateConfig(const Common::TCustomUpdateConfig& aConfig) {
  TCheckConfig config;
  config.ResolveSpecialDir = [&aConfig](const std::string& aSpecialDir) {
    return aConfig.ResolveSpecialDir(aSpecialDir);
  };
  config.UpdateDownloadDir = aConfig.Paths().UpdateDownloadDir;
  config.UpdateLogDir = aConfig.Paths().UpdateLogDir;
  config.UpdateChannelSwitchPending = aConfig.UpdateChannelSwitchPending();
  return config;
}

std::string TCheckConfig::Resolve(const std::string& aSpecialDir) const {
  return ResolveSpecialDir ? ResolveSpecialDir(aSpecialDir) : std::string();
}

}  // namespace Update::Service
