#include "common/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/config.h"
#include "platform/text/text.h"
#include "tests/common/update_config_fixture.h"

namespace Update::Common {
namespace {

using SettingsTest = QuorvaneTest::UpdateConfigTest;
using Platform::TDateTime;
using QuorvaneTest::ReadFile;

TEST_F(SettingsTest, MissingOrBadTextGivesTheDefaults) {
  TUpdateSettings defaults = UpdateConfig().DefaultSettings();
  EXPECT_EQ(TUpdateSettings::Load(), defaults);  // no file
  EXPECT_EQ(TUpdateSettings::Create(""), defaults);
  EXPECT_EQ(TUpdateSettings::Create("{not json"), defaults);
  EXPECT_EQ(TUpdateSettings::Create("[1,2]"), defaults);
}

TEST_F(SettingsTest, AParsedObjectReplacesAllFields) {
  std::filesystem::create_directories(UpdateConfig().Paths().UpdateConfigDir);
  std::ofstream(UpdateConfig().Paths().UpdateConfigDir + "update.settings.json") << R"({"TrayVisible":"tvNever"})";
  TUpdateSettings settings = TUpdateSettings::Load();
  EXPECT_EQ(settings.AllowCheckForUpdates, TSettings_AllowCheckForUpdates::acOnRequest);
  EXPECT_EQ(settings.IntervalCheckForUpdates, TSettings_IntervalCheckForUpdates::icDaily);
  EXPECT_EQ(settings.AllowDownload, TSettings_AllowDownload::adOnRequest);
  EXPECT_EQ(settings.TrayVisible, TSettings_TrayVisible::tvNever);
  // An unknown name gives the first value too.
  EXPECT_EQ(TUpdateSettings::Create(R"({"TrayVisible":"tvSometimes","AllowDownload":"adAutoAlways"})").TrayVisible,
            TSettings_TrayVisible::tvAlways);
}

TEST_F(SettingsTest, SaveWritesTheNamesInOrderAndLoadsBack) {
  TUpdateSettings settings;
  settings.AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acAutoOnProgramStart;
  settings.IntervalCheckForUpdates = TSettings_IntervalCheckForUpdates::icWeekly;
  settings.AllowDownload = TSettings_AllowDownload::adAutoAlways;
  settings.TrayVisible = TSettings_TrayVisible::tvOnError;
  ASSERT_TRUE(TUpdateSettings::Save(settings));
  std::string text = ReadFile(UpdateConfig().Paths().UpdateConfigDir + "update.settings.json");
  std::size_t a = text.find("\"AllowCheckForUpdates\" : \"acAutoOnProgramStart\"");
  std::size_t b = text.find("\"IntervalCheckForUpdates\" : \"icWeekly\"");
  std::size_t c = text.find("\"AllowDownload\" : \"adAutoAlways\"");
  std::size_t d = text.find("\"TrayVisible\" : \"tvOnError\"");
  ASSERT_NE(d, std::string::npos) << text;
  EXPECT_TRUE(a < b && b < c && c < d) << text;
  EXPECT_EQ(TUpdateSettings::Load(), settings);
  EXPECT_EQ(TUpdateSettings::Create(settings.SaveToJson(false)), settings);
}

TEST_F(SettingsTest, AutoUpdateFlags) {
  TUpdateSettings s;
  s.AllowDownload = TSettings_AllowDownload::adAutoAlways;
  s.AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acOnRequest;
  EXPECT_FALSE(s.AutoUpdateEnabled());
  s.AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acAutoOnProgramStart;
  EXPECT_TRUE(s.AutoUpdateEnabled());
  EXPECT_TRUE(s.ClientStartOnProgramLaunchRequired());
  s.AllowCheckForUpdates = TSettings_AllowCheckForUpdates::acAutoOnSystemStart;
  EXPECT_TRUE(s.AutoUpdateEnabled());
  EXPECT_FALSE(s.ClientStartOnProgramLaunchRequired());
  s.AllowDownload = TSettings_AllowDownload::adOnRequest;
  EXPECT_FALSE(s.AutoUpdateEnabled());
}

TEST_F(SettingsTest, CheckIntervals) {
  using I = TSettings_IntervalCheckForUpdates;
  const TDateTime now = TDateTime::Encode(2026, 3, 10, 0, 1);
  struct TCase {
    I Interval;
    TDateTime Last;
    bool Expired;
  };
  const TCase cases[] = {
      {I::icDaily, TDateTime::Encode(2026, 3, 9, 23, 59), true},  // a new calendar day
      {I::icDaily, TDateTime::Encode(2026, 3, 10, 0, 0), false},
      {I::icWeekly, TDateTime::Encode(2026, 3, 9, 23, 59), false},
      {I::icWeekly, now - 7.0, true},                             // exactly a week
      {I::icWeekly, TDateTime::Encode(2026, 3, 3, 1, 1), false},  // 6 days 23 hours
      {I::icWeekly, now + 7.0, true},                             // a clock set back counts as well
      {I::icMonthly, now - 30.4375, true},
      {I::icMonthly, now - 30.4, false},
      {I::icAlways, now, true},
      {I::icDaily, TDateTime(0.0), true},  // never checked
      {I::icMonthly, TDateTime(0.0), true},
  };
  for (const TCase& c : cases) {
    TUpdateSettings settings;
    settings.IntervalCheckForUpdates = c.Interval;
    EXPECT_EQ(settings.IntervalExpired(c.Last, now), c.Expired)
        << static_cast<int>(c.Interval) << " last " << c.Last.FormatDateTime();
  }
  // Through the configuration's LastUpdateCheck and a clock.
  Platform::TFakeClock clock(now);
  TUpdateSettings weekly;
  weekly.IntervalCheckForUpdates = I::icWeekly;
  EXPECT_TRUE(weekly.CheckForUpdatesIntervalExpired(clock));
  UpdateConfig().SetLastUpdateCheck(now - 1.0);
  EXPECT_FALSE(weekly.CheckForUpdatesIntervalExpired(clock));
  clock.Set(now + 6.0);
  EXPECT_TRUE(weekly.CheckForUpdatesIntervalExpired(clock));
}

TEST(ProtectedText, KnownCiphertextAndTolerantDecoding) {
  // Expected hex from a separate PC1 computation (see pc1_cipher_test.cpp).
  EXPECT_EQ(ProtectText("proxy.local"), "C55A9E3EBE67BC7EF20311");
  EXPECT_EQ(UnprotectText("C55A9E3EBE67BC7EF20311"), "proxy.local");
  EXPECT_EQ(ProtectText(""), "");
  EXPECT_EQ(UnprotectText(""), "");
  // Lower-case digits decode too; a bad group reads as byte 0 and gives a wrong text
  // of the same length, never an error.
  EXPECT_EQ(UnprotectText("c55a9e3ebe67bc7ef20311"), "proxy.local");
  EXPECT_EQ(Platform::Text::Utf8ToCp1252(UnprotectText("C5ZZ9E")).size(), 3u);
  EXPECT_EQ(Platform::Text::Utf8ToCp1252(UnprotectText("C55")).size(), 2u);  // odd last digit forms its own group
  EXPECT_EQ(UnprotectText("C5ZZ9E"), UnprotectText("C5009E")) << "a group that is no hexadecimal number reads as 0";
  EXPECT_EQ(UnprotectText("C55"), UnprotectText("C505"));
  // Windows-1252 characters survive, others become "?".
  EXPECT_EQ(UnprotectText(ProtectText("M\xc3\xbcller \xe2\x82\xac")), "M\xc3\xbcller \xe2\x82\xac");
  EXPECT_EQ(UnprotectText(ProtectText("\xe4\xb8\xad")), "?");
}

TEST_F(SettingsTest, ProxyRoundTripKeepsOnlyHexInTheFile) {
  TProxySettings proxy;
  proxy.Manual = true;
  proxy.Manual_Address = "http://proxy.local";
  proxy.Manual_Port = 3128;
  proxy.Manual_Auth = true;
  proxy.Manual_Username = "walrus";
  proxy.Manual_Password = "s3cret \"quoted\"";
  proxy.Auto_Address = "auto.local";
  proxy.Auto_Port = 8080;
  ASSERT_TRUE(TProxySettings::Save(proxy));
  EXPECT_EQ(proxy.Manual_Password, "s3cret \"quoted\"");  // memory keeps plain texts

  std::string text = ReadFile(UpdateConfig().Paths().UpdateConfigDir + "update.proxy.json");
  for (const char* member : {"Manual_Address", "Manual_Username", "Manual_Password", "Auto_Address"}) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, std::regex(std::string("\"") + member + "\" : \"([^\"]*)\"")))
        << member << " in " << text;
    EXPECT_TRUE(std::regex_match(match[1].str(), std::regex("([0-9A-F]{2})+"))) << member << ": " << match[1];
  }
  EXPECT_EQ(text.find("walrus"), std::string::npos);
  EXPECT_LT(text.find("\"Manual\""), text.find("\"Auto_Port\""));

  TProxySettings loaded = TProxySettings::Load();
  EXPECT_TRUE(loaded.Equals(proxy));
  loaded.Manual_Password = "S3cret \"quoted\"";
  EXPECT_FALSE(loaded.Equals(proxy));  // exact comparison
  EXPECT_TRUE(TProxySettings::Create(proxy.SaveToJson(false)).Equals(proxy));
}

TEST_F(SettingsTest, ProxyMissingOrBadFileGivesTheResetRecord) {
  EXPECT_TRUE(TProxySettings::Load().Equals(TProxySettings()));
  EXPECT_TRUE(TProxySettings::Create("garbage").Equals(TProxySettings()));
}

TEST(ProxySettings, ProxyServerText) {
  TProxySettings proxy;
  proxy.Manual_Address = "  HTTP://Proxy.Local  ";
  proxy.Manual_Port = 8080;
  EXPECT_EQ(proxy.GetManualProxyServer(), "proxy.local:8080");
  proxy.Manual_Port = 0;
  EXPECT_EQ(proxy.GetManualProxyServer(), "proxy.local");
  proxy.Auto_Address = "https://auto";
  proxy.Auto_Port = -1;
  EXPECT_EQ(proxy.GetAutoProxyServer(), "auto");
  proxy.Auto_Address = "";
  proxy.Auto_Port = 81;
  EXPECT_EQ(proxy.GetAutoProxyServer(), ":81");
}

}  // namespace
}  // namespace Update::Common
