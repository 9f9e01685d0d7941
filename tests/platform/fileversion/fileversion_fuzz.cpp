// GetFileVersion on arbitrary file contents: never a crash or a read outside the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/fileversion/fileversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  static const std::string path = "/tmp/qv_fileversion_fuzz_" + std::to_string(::getpid());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return 0;
  std::fwrite(aData, 1, aSize, file);
  std::fclose(file);
  (void)Platform::GetFileVersion(path);
  return 0;
}
