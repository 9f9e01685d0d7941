#include "common/settings.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "common/config.h"
#include "common/pc1_cipher.h"
#include "common/persist_json.h"
#include "common/utils.h"
#include "platform/paths/paths.h"
#include "platform/text/digits.h"
#include "platform/text/text.h"

namespace Update::Common {

namespace {

constexpr std::string_view kProxyKey = "PlaidWalrusHums!";

std::string ProxyServer(std::string_view aAddress, std::int32_t aPort) {
  std::string address = Platform::Text::AsciiLower(TUpdateUtils::Trim(aAddress));
  if (address.starts_with("http://"))
    address.erase(0, 7);
  if (address.starts_with("https://"))
    address.erase(0, 8);
  if (aPort > 0) {
    address += ":" + std::to_string(aPort);
  }
  return address;
}

// Milliseconds since the epoch of the date-time type, rounded, so that values that are
// exactly a week apart on the clock compare as exactly a week.
std::int64_t WholeMilliseconds(Platform::TDateTime aValue) {
  return std::llround(aValue.Value() * Platform::TDateTime::MSecsPerDay);
}

// Loads a record from a non-empty text; false (record untouched) when the text is no
// JSON object or the engine refuses a value.
template <typename TRecord>
bool LoadRecord(std::string_view aJson, TRecord& aRecord) {
  if (aJson.empty())
    return false;
  try {
    return TPersist_Json::Record_LoadFromJsonString(aJson, aRecord);
  } catch (const EPersistException&) {
    return false;
  }
}

TPersistSaveOptions SaveOptions(bool aPretty) {
  return aPretty ? SaveOptions_Pretty : SaveOptions_Compact;
}

std::string ConfigFile(const std::string& aName) {
  return UpdateConfig().Paths().UpdateConfigDir + aName;
}

// Empty text when the file is missing or cannot be read: loading then gives defaults.
std::string ReadConfigFile(const std::string& aName) {
  try {
    return TPersist_Json::LoadStringFromFile(ConfigFile(aName));
  } catch (const std::filesystem::filesystem_error&) {
    return std::string();
  }
}

bool WriteConfigFile(const std::string& aName, const std::string& aText) {
  try {
    TPersist_Json::SaveStringToFile(ConfigFile(aName), aText);
    return true;
  } catch (const std::filesystem::filesystem_error&) {
    return false;
  }
}

}  // namespace

std::string ProtectText(std::string_view aPlain) {
  if (aPlain.empty()) {
    return std::string();
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  TPC1Cipher cipher(kProxyKey);
  std::string result;
  for (char c : Platform::Text::Utf8ToCp1252(aPlain)) {
    std::uint8_t byte = cipher.EncryptByte(static_cast<std::uint8_t>(c));
    result.push_back(kHex[byte >> 4]);
    result.push_back(kHex[byte & 15]);
  }
  return result;
}

std::string UnprotectText(std::string_view aProtected) {
  TPC1Cipher cipher(kProxyKey);
  std::string bytes;
  for (std::size_t i = 0; i < aProtected.size(); i += 2) {
    // A group with a character that is no hexadecimal digit reads as 0.
    const std::uint64_t value = Platform::Text::ParseDigits(aProtected.substr(i, 2), 16, 0xFF).value_or(0);
    bytes.push_back(static_cast<char>(cipher.DecryptByte(static_cast<std::uint8_t>(value))));
  }
  return Platform::Text::Cp1252ToUtf8(bytes);
}

// --- TUpdateSettings ---

TUpdateSettings TUpdateSettings::Create(std::string_view aJson) {
  TUpdateSettings settings;
  settings.LoadFromJson(aJson);
  return settings;
}

void TUpdateSettings::Reset() {
  *this = UpdateConfig().DefaultSettings();
}

void TUpdateSettings::LoadFromJson(std::string_view aJson) {
  Reset();
  // A parsed object replaces all four fields, missing or unknown names giving the
  // first value of their enumeration.
  TUpdateSettings loaded{};
  if (LoadRecord(aJson, loaded)) {
    *this = loaded;
  }
}

std::string TUpdateSettings::SaveToJson(bool aPretty) const {
  return TPersist_Json::Record_SaveToJsonString(*this, SaveOptions(aPretty));
}

TUpdateSettings TUpdateSettings::Load() {
  return Create(ReadConfigFile(UpdateConfig().FileName_UpdateSettings()));
}

bool TUpdateSettings::Save(const TUpdateSettings& aSettings) {
  return WriteConfigFile(UpdateConfig().FileName_UpdateSettings(), aSettings.SaveToJson(true));
}

bool TUpdateSettings::AutoUpdateEnabled() const {
  return (AllowCheckForUpdates == TSettings_AllowCheckForUpdates::acAutoOnProgramStart ||
          AllowCheckForUpdates == TSettings_AllowCheckForUpdates::acAutoOnSystemStart) &&
         AllowDownload == TSettings_AllowDownload::adAutoAlways;
}

bool TUpdateSettings::ClientStartOnProgramLaunchRequired() const {
  return AllowCheckForUpdates == TSettings_AllowCheckForUpdates::acAutoOnProgramStart;
}

bool TUpdateSettings::CheckForUpdatesIntervalExpired(const Platform::IClock& aClock) const {
  return IntervalExpired(UpdateConfig().LastUpdateCheck(), aClock.Now());
}

bool TUpdateSettings::IntervalExpired(Platform::TDateTime aLast, Platform::TDateTime aNow) const {
  if (aLast.Value() == 0.0) {
    return true;
  }
  std::int64_t elapsed = std::llabs(WholeMilliseconds(aNow) - WholeMilliseconds(aLast));
  switch (IntervalCheckForUpdates) {
    case TSettings_IntervalCheckForUpdates::icDaily:
      return std::trunc(aNow.Value()) > std::trunc(aLast.Value());
    case TSettings_IntervalCheckForUpdates::icWeekly:
      return elapsed >= 604800000LL;
    case TSettings_IntervalCheckForUpdates::icMonthly:
      return static_cast<double>(elapsed) >= 30.4375 * Platform::TDateTime::MSecsPerDay;
    case TSettings_IntervalCheckForUpdates::icAlways:
      return true;
  }
  return true;
}

// --- TProxySettings ---

TProxySettings TProxySettings::Create(std::string_view aJson) {
  TProxySettings settings;
  settings.LoadFromJson(aJson);
  return settings;
}

void TProxySettings::Reset() {
  *this = TProxySettings();
}

void TProxySettings::LoadFromJson(std::string_view aJson) {
  Reset();
  TProxySettings loaded;
  if (LoadRecord(aJson, loaded)) {
    *this = loaded;
  }
  Manual_Address = UnprotectText(Manual_Address);
  Manual_Username = UnprotectText(Manual_Username);
  Manual_Password = UnprotectText(Manual_Password);
  Auto_Address = UnprotectText(Auto_Address);
}

std::string TProxySettings::SaveToJson(bool aPretty) const {
  // A protected copy is rendered, so this record keeps its plain texts whatever
  // happens while rendering.
  TProxySettings stored = *this;
  stored.Manual_Address = ProtectText(Manual_Address);
  stored.Manual_Username = ProtectText(Manual_Username);
  stored.Manual_Password = ProtectText(Manual_Password);
  stored.Auto_Address = ProtectText(Auto_Address);
  return TPersist_Json::Record_SaveToJsonString(stored, SaveOptions(aPretty));
}

TProxySettings TProxySettings::Load() {
  return Create(ReadConfigFile(UpdateConfig().FileName_ProxySettings()));
}

bool TProxySettings::Save(const TProxySettings& aProxySettings) {
  return WriteConfigFile(UpdateConfig().FileName_ProxySettings(), aProxySettings.SaveToJson(true));
}

bool TProxySettings::Equals(const TProxySettings& aCompareWith) const {
  return Manual == aCompareWith.Manual && Manual_Address == aCompareWith.Manual_Address &&
         Manual_Port == aCompareWith.Manual_Port && Manual_Auth == aCompareWith.Manual_Auth &&
         Manual_Username == aCompareWith.Manual_Username && Manual_Password == aCompareWith.Manual_Password &&
         Auto_Address == aCompareWith.Auto_Address && Auto_Port == aCompareWith.Auto_Port;
}

std::string TProxySettings::GetManualProxyServer() const {
  return ProxyServer(Manual_Address, Manual_Port);
}

std::string TProxySettings::GetAutoProxyServer() const {
  return ProxyServer(Auto_Address, Auto_Port);
}

}  // namespace Update::Common
