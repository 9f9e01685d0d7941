#include "service/lists/file_count.h"

#include <mutex>

namespace Update::Service {

std::int32_t TFileCount::GetFilesDone() const {
  const std::shared_lock lock(fSync);
  return fFilesDone;
}

std::int32_t TFileCount::GetFilesTotal() const {
  const std::shared_lock lock(fSync);
  return fFilesTotal;
}

void TFileCount::SetFilesDone(std::int32_t aValue) {
  const std::unique_lock lock(fSync);
  fFilesDone = aValue;
}

void TFileCount::SetFilesTotal(std::int32_t aValue) {
  const std::unique_lock lock(fSync);
  fFilesTotal = aValue;
}

void TFileCount::IncFilesDone() {
  const std::unique_lock lock(fSync);
  ++fFilesDone;
}

void TFileCount::IncFilesTotal() {
  const std::unique_lock lock(fSync);
  ++fFilesTotal;
}

void TFileCount::DecFilesDone() {
  const std::unique_lock lock(fSync);
  --fFilesDone;
}

void TFileCount::DecFilesTotal() {
  const std::unique_lock lock(fSync);
  --fFilesTotal;
}

void TFileCount::Reset() {
  const std::unique_lock lock(fSync);
  fFilesDone = 0;
  fFilesTotal = 0;
}

}  // namespace Update::Service
