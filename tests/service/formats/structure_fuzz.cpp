// Structure files come from the feed: any bytes must load without crashing, a loaded tree
// must survive a write and a second load unchanged, and no accepted name may lead a built
// path out of its folder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "service/formats/structure.h"

namespace {

using namespace Update::Service;

void CheckPaths(const TStructCollection& aItems) {
  const std::string folder = "/base/";
  for (std::size_t i = 0; i < aItems.Count(); ++i) {
    const TStructItem& item = aItems.Items(i);
    std::string path;
    if (item.BuildPath(folder, path) && (path.compare(0, folder.size(), folder) != 0 ||
                                         path.find('/', folder.size()) != std::string::npos || path == folder)) {
      std::abort();
    }
    if (const TFileInfo* info = item.FileInfo();
        info != nullptr && info->BuildPackedPath(folder, path) && path.find('/', folder.size()) != std::string::npos) {
      std::abort();
    }
    if (const TDirInfo* dir = item.Dir()) {
      CheckPaths(dir->Items());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  TMainStructCollection structure;
  std::istringstream in(std::string(reinterpret_cast<const char*>(aData), aSize));
  if (!structure.LoadFromStream(in)) {
    return 0;
  }
  CheckPaths(structure);
  const std::string first = structure.SaveToString();
  TMainStructCollection again;
  std::istringstream reread(first);
  if (!again.LoadFromStream(reread) || again.SaveToString() != first) {
    std::abort();
  }
  structure.Sort(true);
  structure.RebuildInstSourcePath("/src");
  return 0;
}
