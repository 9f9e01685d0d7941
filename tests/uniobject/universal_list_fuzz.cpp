// libFuzzer target: any byte string handed to LoadFrom_ExternMemoryStream, without and
// with a password, must end in a message and a result, never in a crash or an overread.

#include <cstddef>
#include <cstdint>

#include "uniobject/settings.h"
#include "uniobject/universal_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  UniObject::UniListSettings().MessageHook = [](const std::string&, UniObject::TMsgDlgType, int, int) {};
  for (const char* password : {"", "pw"}) {
    UniObject::TUniversalList list;
    UniObject::TMemoryStream stream(std::vector<std::uint8_t>(aData, aData + aSize));
    list.LoadFrom_ExternMemoryStream(stream, password, true);
  }
  return 0;
}
