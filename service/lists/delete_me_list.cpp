#include "service/lists/delete_me_list.h"

#include "common/utils.h"
#include "platform/text/text.h"

namespace Update::Service {

int TDeleteMeItem::Compare(const TDeleteMeItem& aLeft, const TDeleteMeItem& aRight) {
  if (const int byPath = Platform::Text::CompareTextNoCase(aLeft.fPath, aRight.fPath); byPath != 0) {
    return byPath;
  }
  return static_cast<int>(aLeft.fType) - static_cast<int>(aRight.fType);
}

TDeleteMeItem& TDeleteMeList::NewItem(const std::string& aPath, TDeleteMeItem::TType aType) {
  TDeleteMeItem candidate(Common::TUpdateUtils::GetLongPathName(aPath), aType);
  for (const auto& item : fItems) {
    if (TDeleteMeItem::Compare(*item, candidate) == 0) {
      return *item;
    }
  }
  fItems.push_back(std::make_unique<TDeleteMeItem>(std::move(candidate)));
  return *fItems.back();
}

}  // namespace Update::Service
