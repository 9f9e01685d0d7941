#include "common/state.h"

#include "common/config.h"

#include <stdexcept>

#include "common/persist_json.h"

namespace Update::Common {

namespace {

constexpr double kSecondsPerDay = 86400;

TPersistSaveOptions SaveOptions(bool aPretty) {
  return aPretty ? SaveOptions_Pretty : SaveOptions_Compact;
}

// Loads a record from a non-empty text; conversion errors (which only strict options
// raise) leave the record as the caller reset it.
template <class TRecord>
void LoadRecord(std::string_view aJson, TRecord& aRecord) {
  if (aJson.empty()) {
    return;
  }
  try {
    TPersist_Json::Record_LoadFromJsonString(aJson, aRecord);
  } catch (const EPersistException&) {
    aRecord.Reset();
  }
}

}  // namespace

// ---- TUpdateProgress ----

TUpdateProgress TUpdateProgress::Create(std::string_view aJson) {
  TUpdateProgress progress;
  progress.LoadFromJson(aJson);
  return progress;
}

std::string TUpdateProgress::SaveToJson(bool aPretty) const {
  return TPersist_Json::Record_SaveToJsonString(*this, SaveOptions(aPretty));
}

void TUpdateProgress::LoadFromJson(std::string_view aJson) {
  Reset();
  LoadRecord(aJson, *this);
}

// ---- TUpdateStateItem ----

TUpdateStateItem TUpdateStateItem::Create(std::string_view aJson) {
  TUpdateStateItem item;
  item.LoadFromJson(aJson);
  return item;
}

void TUpdateStateItem::Start(const Platform::IClock& aClock) {
  Reset();
  StartTime = aClock.Now();
}

void TUpdateStateItem::Finish(bool aSuccess, const Platform::IClock& aClock) {
  EndTime = aClock.Now();
  Error = !aSuccess;
}

bool TUpdateStateItem::IsExpired(const Platform::IClock& aClock) const {
  Platform::TDateTime reference;
  if (IsFinished()) {
    reference = EndTime;
  } else if (IsStarted()) {
    reference = StartTime;
  } else {
    return false;
  }
  return (aClock.Now() - reference) * kSecondsPerDay > kExpirySeconds;
}

std::string TUpdateStateItem::SaveToJson(bool aPretty) const {
  return TPersist_Json::Record_SaveToJsonString(*this, SaveOptions(aPretty));
}

void TUpdateStateItem::LoadFromJson(std::string_view aJson) {
  Reset();
  LoadRecord(aJson, *this);
}

// ---- TUpdateState ----

void TUpdateState::Reset() {
  fFileCheck.Reset();
  fDownload.Reset();
  fInstall.Reset();
  fCanDownload = false;
  fCanInstall = false;
}

std::string TUpdateState::SaveToJson(bool aPretty) const {
  return TPersist_Json::Object_SaveToJsonString(*this, InstanceOptions_Save, SaveOptions(aPretty));
}

void TUpdateState::LoadFromJson(std::string_view aJson) {
  Reset();
  if (aJson.empty()) {
    return;
  }
  try {
    TPersist_Json::Object_LoadFromJsonString(aJson, *this, InstanceOptions_Load);
  } catch (const EPersistException&) {
    Reset();
  }
}

void TUpdateState::SaveToFolder(const TUpdateState& aUpdateState, const std::filesystem::path& aFolder) {
  TPersist_Json::SaveStringToFile(aFolder / kFileName_UpdateState, aUpdateState.SaveToJson(true));
}

void TUpdateState::LoadFromFolder(TUpdateState& aUpdateState, const std::filesystem::path& aFolder) {
  std::string text;
  try {
    text = TPersist_Json::LoadStringFromFile(aFolder / kFileName_UpdateState);
  } catch (const std::filesystem::filesystem_error&) {
    text.clear();  // unreadable: the reset state, without an error
  }
  aUpdateState.LoadFromJson(text);
}

void TUpdateState::Save(const TUpdateState& aUpdateState) {
  SaveToFolder(aUpdateState, UpdateConfig().Paths().UpdateConfigDir);
}

void TUpdateState::Load(TUpdateState& aUpdateState) {
  LoadFromFolder(aUpdateState, UpdateConfig().Paths().UpdateConfigDir);
}

}  // namespace Update::Common
