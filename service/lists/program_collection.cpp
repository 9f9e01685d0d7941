#include "service/lists/program_collection.h"

#include "common/utils.h"
#include "platform/text/text.h"

namespace Update::Service {

TProgramItem& TProgramCollection::Add() {
  fPrograms.push_back(std::make_unique<TProgramItem>());
  return *fPrograms.back();
}

void TProgramCollection::Delete(std::size_t aIndex) {
  fPrograms.erase(fPrograms.begin() + static_cast<std::ptrdiff_t>(aIndex));
}

bool TProgramCollection::Contains(const std::string& aFileName) const {
  for (const auto& program : fPrograms) {
    if (Platform::Text::SameTextNoCase(program->fFileName, aFileName)) {
      return true;
    }
  }
  return false;
}

std::string TProgramCollection::GetUrl(const std::string& aPath, bool aIsFile) const {
  return Common::TUpdateUtils::GetUrl(fMainUrl, aPath, aIsFile);
}

void TProgramCollection::WaitFor() {
  const std::unique_lock lock(fSync);
}

bool TProgramCollection::CancelReduce() const {
  const std::lock_guard lock(fCancelReduceSync);
  return fCancelReduce;
}

void TProgramCollection::SetCancelReduce(bool aValue) {
  const std::lock_guard lock(fCancelReduceSync);
  fCancelReduce = aValue;
}

}  // namespace Update::Service
