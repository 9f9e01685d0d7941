// GetFileVersion on arbitrary file contents: never a crash or a read outside the file.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fileversion/fileversion.h"
#include "tests/support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  static const QuorvaneTest::TTempDir folder("fileversion_fuzz");
  static const std::string path = folder.File("input");
  QuorvaneTest::WriteFile(path, std::string_view(reinterpret_cast<const char*>(aData), aSize));
  (void)Platform::GetFileVersion(path);
  return 0;
}
