#include "service/check/check_config.h"

namespace Update::Service {

std::string TCheckConfig::Resolve(const std::string& aSpecialDir) const {
  return ResolveSpecialDir ? ResolveSpecialDir(aSpecialDir) : std::string();
}

}  // namespace Update::Service
