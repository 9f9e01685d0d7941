// libFuzzer target: the archive reader on arbitrary bytes; whatever it accepts must
// write back to the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/report/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  using namespace Platform::Report;
  const ArchiveReadResult read = ReadArchive(aData, aSize);
  if (read.Document) {
    const std::vector<std::uint8_t> written = WriteArchive(*read.Document);
    // The reader normalises nothing except the fill colour of unfilled rectangles.
    if (written.size() != aSize)
      std::abort();
  } else if (read.Error.empty()) {
    std::abort();
  }
  return 0;
}
