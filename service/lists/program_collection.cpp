#include "service/lists/program_collection.h"

#include "platform/text/text.h"

namespace Update::Service {

namespace {

// URL rules of the update feed: a base without scheme is taken as "http://"; a file URL
// loses one trailing "/", a folder URL gets one; nothing else is normalised.
std::string CorrectUrl(std::string aUrl, bool aIncludeSlash) {
  if (aUrl.empty()) {
    return aUrl;
  }
  const bool hasSlash = aUrl.back() == '/';
  if (aIncludeSlash && !hasSlash) {
    aUrl += '/';
  } else if (!aIncludeSlash && hasSlash) {
    aUrl.pop_back();
  }
  return aUrl;
}

bool IsAbsoluteUrl(const std::string& aUrl) {
  const auto scheme = aUrl.find("://");
  return scheme != std::string::npos && scheme > 0 && scheme < aUrl.find('/');
}

}  // namespace

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
  const std::string base =
      IsAbsoluteUrl(fMainUrl) ? CorrectUrl(fMainUrl, true) : "http://" + CorrectUrl(fMainUrl, true);
  return CorrectUrl(base + aPath, !aIsFile);
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
