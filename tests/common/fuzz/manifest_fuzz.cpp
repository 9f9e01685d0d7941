// The meta manifest comes from the network: loading any text must not crash, and what
// was loaded must save and load back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  using Update::Common::TUpdateMetaManifest;
  TUpdateMetaManifest manifest;
  manifest.LoadFromJsonString(std::string_view(reinterpret_cast<const char*>(aData), aSize));
  manifest.MakePathsAbsolute("/var/lib/x/");
  manifest.MakePathsRelative("/var/lib/x/meta.json");
  std::string saved = manifest.SaveToJsonString(false);
  TUpdateMetaManifest again;
  again.LoadFromJsonString(saved);
  if (again.SaveToJsonString(false) != saved) {
    std::abort();
  }
  return 0;
}
