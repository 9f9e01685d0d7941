#pragma once

// Update.Service.FileCount: the done/total pair of the check and install progress.
// Thread-safe: worker threads count while the controller reads (a reader/writer lock).

#include <cstdint>
#include <shared_mutex>

namespace Update::Service {

class TFileCount {
 public:
  std::int32_t GetFilesDone() const;
  std::int32_t GetFilesTotal() const;
  void SetFilesDone(std::int32_t aValue);
  void SetFilesTotal(std::int32_t aValue);
  void IncFilesDone();
  void IncFilesTotal();
  void DecFilesDone();
  void DecFilesTotal();
  // Both to 0.
  void Reset();

 private:
  mutable std::shared_mutex fSync;
  std::int32_t fFilesDone = 0;
  std::int32_t fFilesTotal = 0;
};

}  // namespace Update::Service
