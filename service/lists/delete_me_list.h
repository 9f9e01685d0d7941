#pragma once

// Update.Service.DeleteMe: the files and folders an install deletes.
//
// The list keeps its items in insertion order and never holds two equal items: equal
// means the same path without regard to case and the same type. Paths are stored as their
// long path name (the canonical real path as far as it exists).
//
// Thread-safety: none; the program collection's write lock guards it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Update::Service {

class TDeleteMeItem {
 public:
  enum class TType : std::uint8_t { dmFile, dmDirectory };

  TDeleteMeItem(std::string aPath, TType aType) : fPath(std::move(aPath)), fType(aType) {}

  const std::string& Path() const { return fPath; }
  TType Type() const { return fType; }

  // <0, 0, >0: the paths without regard to case, then the types.
  static int Compare(const TDeleteMeItem& aLeft, const TDeleteMeItem& aRight);

 private:
  std::string fPath;
  TType fType;
};

class TDeleteMeList {
 public:
  // The item for aPath (as its long path name) and aType: an equal existing item, or a new
  // one appended.
  TDeleteMeItem& NewItem(const std::string& aPath, TDeleteMeItem::TType aType);

  std::size_t Count() const { return fItems.size(); }
  const TDeleteMeItem& Items(std::size_t aIndex) const { return *fItems.at(aIndex); }
  void Clear() { fItems.clear(); }

 private:
  std::vector<std::unique_ptr<TDeleteMeItem>> fItems;
};

}  // namespace Update::Service
