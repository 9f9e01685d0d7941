#pragma once

// The user's choices: TUpdateSettings (how automatic updates are) and TProxySettings
// (how to reach the internet behind a proxy). The service stores them in
// "update.settings.json" and "update.proxy.json" in Paths().UpdateConfigDir; the
// client edits copies and sends them whole.
//
// Proxy addresses and credentials never appear in clear text in the file or in a
// message: the four text members are enciphered with PC1 and written as upper-case
// hex ("protected form", see ProtectText). In memory they are always plain.
//
// Loading never fails: a missing, empty or unparseable text gives the defaults
// (settings) or the reset record (proxy). Plain values, no threads of their own.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/persist.h"
#include "platform/datetime/datetime.h"

namespace Update::Common {

// Stored by name; values only grow at the end.
enum class TSettings_AllowCheckForUpdates : std::uint8_t { acOnRequest, acAutoOnProgramStart, acAutoOnSystemStart };
enum class TSettings_IntervalCheckForUpdates : std::uint8_t { icDaily, icWeekly, icMonthly, icAlways };
enum class TSettings_AllowDownload : std::uint8_t { adOnRequest, adAutoAlways };
enum class TSettings_TrayVisible : std::uint8_t {
  tvAlways,
  tvOnActivity,
  tvOnUserInteractionRequired,
  tvOnError,
  tvNever
};
QV_PERSIST_ENUM(TSettings_AllowCheckForUpdates, "Update.Common.Settings.TSettings_AllowCheckForUpdates", acOnRequest,
                acAutoOnProgramStart, acAutoOnSystemStart)
QV_PERSIST_ENUM(TSettings_IntervalCheckForUpdates, "Update.Common.Settings.TSettings_IntervalCheckForUpdates", icDaily,
                icWeekly, icMonthly, icAlways)
QV_PERSIST_ENUM(TSettings_AllowDownload, "Update.Common.Settings.TSettings_AllowDownload", adOnRequest, adAutoAlways)
QV_PERSIST_ENUM(TSettings_TrayVisible, "Update.Common.Settings.TSettings_TrayVisible", tvAlways, tvOnActivity,
                tvOnUserInteractionRequired, tvOnError, tvNever)

struct TUpdateSettings {
  TSettings_AllowCheckForUpdates AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acOnRequest;
  TSettings_IntervalCheckForUpdates IntervalCheckForUpdates = TSettings_IntervalCheckForUpdates::icDaily;
  TSettings_AllowDownload AllowDownload = TSettings_AllowDownload::adOnRequest;
  TSettings_TrayVisible TrayVisible = TSettings_TrayVisible::tvAlways;

  // The configuration's defaults (UpdateConfig().DefaultSettings()).
  static TUpdateSettings Create(std::string_view aJson = {});
  void Reset();
  // Reset, then (when aJson is not empty) load: a parseable object replaces all four
  // fields, a missing or unknown member giving the first value of its enumeration;
  // unparseable text keeps the defaults.
  void LoadFromJson(std::string_view aJson);
  std::string SaveToJson(bool aPretty) const;

  // Paths().UpdateConfigDir + "update.settings.json"; a missing file gives the defaults.
  static TUpdateSettings Load();
  // Writes that file, creating the folders. False when it cannot be written.
  static bool Save(const TUpdateSettings& aSettings);

  bool AutoUpdateEnabled() const;
  bool ClientStartOnProgramLaunchRequired() const;
  // Whether the interval since UpdateConfig().LastUpdateCheck has passed (always true
  // when never checked).
  bool CheckForUpdatesIntervalExpired(const Platform::IClock& aClock = Platform::SystemClock()) const;
  // The same test against given times.
  bool IntervalExpired(Platform::TDateTime aLast, Platform::TDateTime aNow) const;

  bool operator==(const TUpdateSettings&) const = default;

  static void Describe(TPersistDescriber<TUpdateSettings>& d) {
    d.Record("Update.Common.Settings.TUpdateSettings");
    d.Field("AllowCheckForUpdates", &TUpdateSettings::AllowCheckForUpdates);
    d.Field("IntervalCheckForUpdates", &TUpdateSettings::IntervalCheckForUpdates);
    d.Field("AllowDownload", &TUpdateSettings::AllowDownload);
    d.Field("TrayVisible", &TUpdateSettings::TrayVisible);
  }
};

struct TProxySettings {
  bool Manual = false;
  std::string Manual_Address;
  std::int32_t Manual_Port = 0;
  bool Manual_Auth = false;
  std::string Manual_Username;
  std::string Manual_Password;
  std::string Auto_Address;
  std::int32_t Auto_Port = 0;

  static TProxySettings Create(std::string_view aJson = {});
  void Reset();
  // Reset, then load (when aJson is not empty) and decode the four protected members.
  void LoadFromJson(std::string_view aJson);
  // The record with the four texts in their protected form; *this keeps plain texts.
  std::string SaveToJson(bool aPretty) const;

  static TProxySettings Load();
  static bool Save(const TProxySettings& aProxySettings);

  // All eight fields equal, texts compared exactly.
  bool Equals(const TProxySettings& aCompareWith) const;
  // "host:port" for the transfer components: the address lower-cased and trimmed, a
  // leading "http://" and then "https://" removed; ":port" only when the port is > 0.
  std::string GetManualProxyServer() const;
  std::string GetAutoProxyServer() const;

  static void Describe(TPersistDescriber<TProxySettings>& d) {
    d.Record("Update.Common.Settings.TProxySettings");
    d.Field("Manual", &TProxySettings::Manual);
    d.Field("Manual_Address", &TProxySettings::Manual_Address);
    d.Field("Manual_Port", &TProxySettings::Manual_Port);
    d.Field("Manual_Auth", &TProxySettings::Manual_Auth);
    d.Field("Manual_Username", &TProxySettings::Manual_Username);
    d.Field("Manual_Password", &TProxySettings::Manual_Password);
    d.Field("Auto_Address", &TProxySettings::Auto_Address);
    d.Field("Auto_Port", &TProxySettings::Auto_Port);
  }
};

// The protected text form: the text in Windows-1252, enciphered with a fresh PC1 cipher
// under the key "PlaidWalrusHums!", each byte as two upper-case hex digits. Characters
// Windows-1252 cannot hold become "?". The empty text stays empty.
std::string ProtectText(std::string_view aPlain);
// The reverse: two hex digits per byte from the start (an odd last digit forms its own
// group, a group that is not hex reads as 0), deciphered, read as Windows-1252.
std::string UnprotectText(std::string_view aProtected);

}  // namespace Update::Common
