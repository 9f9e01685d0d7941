#include "platform/datetime/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using Platform::TDateTime;
using Platform::TDateTimeParts;

namespace {

// Serial numbers checked against the published day count from 1899-12-30.
struct SerialCase {
  int Year, Month, Day;
  double Serial;
};

TEST(DateTime, EncodesKnownSerialNumbers) {
  const SerialCase cases[] = {
      {1899, 12, 30, 0},    {1899, 12, 31, 1},   {1900, 1, 1, 2},    {1900, 3, 1, 61},        {1970, 1, 1, 25569},
      {2000, 2, 29, 36585}, {2016, 3, 4, 42433}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDateTime::EncodeDate(c.Year, c.Month, c.Day).Value(), c.Serial) << c.Year << '-' << c.Month;
    const TDateTimeParts parts = TDateTime(c.Serial).Decode();
    EXPECT_EQ(parts.Year, c.Year);
    EXPECT_EQ(parts.Month, c.Month);
    EXPECT_EQ(parts.Day, c.Day);
  }
}

TEST(DateTime, RejectsInvalidCalendarParts) {
  EXPECT_FALSE(TDateTime::TryEncodeDate(2023, 2, 29));
  EXPECT_FALSE(TDateTime::TryEncodeDate(1900, 2, 29));  // not a leap year
  EXPECT_TRUE(TDateTime::TryEncodeDate(2000, 2, 29));
  EXPECT_FALSE(TDateTime::TryEncodeDate(0, 1, 1));
  EXPECT_FALSE(TDateTime::TryEncodeDate(2020, 13, 1));
  EXPECT_FALSE(TDateTime::TryEncodeTime(24, 0, 0, 0));
  EXPECT_FALSE(TDateTime::TryEncodeTime(0, 0, 0, 1000));
  EXPECT_THROW(TDateTime::EncodeDate(2021, 4, 31), std::invalid_argument);
  EXPECT_FALSE(TDateTime(NAN).TryDecode());
  EXPECT_EQ(TDateTime(1e12).FormatDateTime(), "");
}

TEST(DateTime, RoundsToMillisecondsAndCarriesIntoTheNextDay) {
  const TDateTime almost(1.0 - 0.4 / TDateTime::MSecsPerDay);  // 0.4 ms before midnight
  EXPECT_EQ(almost.FormatDateTime(), "1899-12-31");
  EXPECT_TRUE(almost.IsMidnight());
  const TDateTime t = TDateTime::Encode(2026, 12, 11, 23, 59, 59, 999);
  EXPECT_EQ(t.FormatDateTime(), "2026-12-11 23:59:59.999");
}

TEST(DateTime, NegativeValuesKeepTheTimeAsAbsoluteFraction) {
  EXPECT_EQ(TDateTime(-1.25).FormatDateTime(), "1899-12-29 06:00:00.000");
  EXPECT_EQ(TDateTime::Encode(1899, 12, 29, 6).Value(), -1.25);
  EXPECT_EQ(TDateTime(-0.5).FormatDateTime(), "1899-12-30 12:00:00.000");
}

TEST(DateTime, FixedTextsOmitTheTimeAtMidnight) {
  EXPECT_EQ(TDateTime(0).FormatDateTime(), "1899-12-30");
  EXPECT_EQ(TDateTime::EncodeDate(2016, 3, 4).FormatDateTime(), "2016-03-04");
  EXPECT_EQ(TDateTime::EncodeDate(2016, 3, 4).FormatDateTimeShort(), "2016-03-04");
  const TDateTime t = TDateTime::Encode(2016, 3, 4, 7, 8, 9, 12);
  EXPECT_EQ(t.FormatDate(), "2016-03-04");
  EXPECT_EQ(t.FormatTime(), "07:08:09.012");
  EXPECT_EQ(t.FormatTimeShort(), "07:08:09");
  EXPECT_EQ(t.FormatDateTime(), "2016-03-04 07:08:09.012");
  EXPECT_EQ(t.FormatDateTimeShort(), "2016-03-04 07:08:09");
  // One millisecond after midnight is not midnight.
  EXPECT_EQ(TDateTime::Encode(2016, 3, 4, 0, 0, 0, 1).FormatDateTime(), "2016-03-04 00:00:00.001");
}

TEST(DateTime, TextsDoNotDependOnTheLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
    std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(TDateTime::Encode(2016, 3, 4, 7, 8, 9, 12).FormatDateTime(), "2016-03-04 07:08:09.012");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(DateTime, ParsesWhatItFormats) {
  const TDateTime t = TDateTime::Encode(2026, 12, 11, 13, 14, 15, 160);
  EXPECT_EQ(TDateTime::TryParseDateTime(t.FormatDateTime()), t);
  EXPECT_EQ(TDateTime::TryParseDateTime("2026-12-11"), TDateTime::EncodeDate(2026, 12, 11));
  EXPECT_EQ(TDateTime::TryParseDateTime("2026-12-11T13:14:15"), TDateTime::Encode(2026, 12, 11, 13, 14, 15));
  EXPECT_EQ(TDateTime::TryParseTime("13:14:15.5"), TDateTime::EncodeTime(13, 14, 15, 500));
  EXPECT_EQ(TDateTime::TryParseDateTime("1899-12-29 06:00:00.000"), TDateTime(-1.25));
  for (const char* bad : {"", "2026-1-11", "2026-02-30", "2026-12-11 ", "2026-12-11 25:00:00", "13:14", "13:14:15.",
                          "13:14:15.1234", "2026-12-11x13:14:15"})
    EXPECT_FALSE(TDateTime::TryParseDateTime(bad) || TDateTime::TryParseTime(bad)) << bad;
}

TEST(DateTime, UnixTimeConvertsInTheLocalZone) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  // 2026-07-01 10:00:00 UTC is 12:00 in Berlin (summer time).
  const TDateTime t = TDateTime::FromUnixTime(1782900000);
  EXPECT_EQ(t.FormatDateTime(), "2026-07-01 12:00:00.000");
  EXPECT_EQ(t.ToUnixTime(), 1782900000);
  unsetenv("TZ");
  tzset();
}

TEST(DateTime, DayOfWeek) {
  EXPECT_EQ(TDateTime(0).DayOfWeek(), 6);                         // Saturday
  EXPECT_EQ(TDateTime::EncodeDate(2026, 12, 11).DayOfWeek(), 5);  // Friday
  EXPECT_EQ(TDateTime::Encode(1899, 12, 29, 6).DayOfWeek(), 5);   // Friday
}

TEST(FakeClock, MovesOnlyWhenTold) {
  Platform::TFakeClock clock(TDateTime::Encode(2026, 1, 1, 12));
  const auto tick = clock.TickMs();
  clock.AdvanceMs(1500);
  EXPECT_EQ(clock.Now().FormatDateTime(), "2026-01-01 12:00:01.500");
  EXPECT_EQ(clock.TickMs() - tick, 1500);
}

}  // namespace
