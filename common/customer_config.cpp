#include "common/customer_config.h"

#include <cstdlib>

#include "common/manifest.h"
#include "platform/paths/paths.h"

namespace Update::Common {

std::string TUpdateConfig::Dir_Install() const {
  return Platform::Paths::IncludeTrailingDelimiter(Platform::Paths::ExecutableDir());
}

std::string TUpdateConfig::Dir_UpdateConfig() const {
  return Paths().ProgramDataDir + "Quorvane/Update/";
}

std::string TUpdateConfig::UpdateFeed() const {
  const char* feed = std::getenv("QUORVANE_UPDATE_FEED");
  return feed && *feed ? std::string(feed) : std::string(kDefaultUpdateFeed);
}

const TUpdateChannel* TUpdateConfig::GetUpdateChannel(const TUpdateMetaManifest* aMetaManifest) const {
  std::string name = UpdateChannelName();
  if (aMetaManifest && !name.empty()) {
    if (const TUpdateChannel* channel = aMetaManifest->Channels().GetByName(name)) {
      return channel;
    }
  }
  return TCustomUpdateConfig::GetUpdateChannel(aMetaManifest);
}

std::unique_ptr<TCustomUpdateConfig> CreateProductUpdateConfig() {
  return TCustomUpdateConfig::Create<TUpdateConfig>();
}

}  // namespace Update::Common
