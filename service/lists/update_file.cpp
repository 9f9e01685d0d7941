#include "service/lists/update_file.h"

#include <algorithm>

namespace Update::Service {

int TUpdateFileList::GetCount(TUpdateFileStatus aStatus) const {
  return static_cast<int>(
      std::count_if(fItems.begin(), fItems.end(), [&](const TUpdateFile& aFile) { return aFile.Status == aStatus; }));
}

int TUpdateFileList::GetCount(std::initializer_list<TUpdateFileStatus> aStatuses) const {
  return static_cast<int>(std::count_if(fItems.begin(), fItems.end(), [&](const TUpdateFile& aFile) {
    return std::find(aStatuses.begin(), aStatuses.end(), aFile.Status) != aStatuses.end();
  }));
}

}  // namespace Update::Service
