// Hive files may be edited by hand or damaged: parsing any text must either give a hive
// or raise ERegistryException, and a parsed hive must survive its own text form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  using namespace Platform::Registry;
  std::string_view text(reinterpret_cast<const char*>(aData), aSize);
  THiveData hive;
  try {
    hive = ParseHive(text, "fuzz.reg");
  } catch (const ERegistryException&) {
    return 0;
  }
  // Key names that normalise differently may merge on re-reading; compare the second
  // round trip, which must be stable.
  THiveData again = ParseHive(FormatHive(hive), "again.reg");
  if (!(ParseHive(FormatHive(again), "third.reg") == again)) {
    std::abort();
  }
  return 0;
}
