#include "platform/datetime/datetime.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace Platform {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr void CivilFromDays(std::int64_t z, int& aYear, int& aMonth, int& aDay) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  aYear = static_cast<int>(y + (m <= 2));
  aMonth = static_cast<int>(m);
  aDay = static_cast<int>(d);
}

constexpr std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // 1899-12-30 relative to 1970-01-01
constexpr std::int64_t kMinDay = DaysFromCivil(1, 1, 1) - kEpochOffset;
constexpr std::int64_t kMaxDay = DaysFromCivil(9999, 12, 31) - kEpochOffset;

bool IsLeap(int aYear) {
  return (aYear % 4 == 0 && aYear % 100 != 0) || aYear % 400 == 0;
}

int DaysInMonth(int aYear, int aMonth) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return aMonth == 2 && IsLeap(aYear) ? 29 : kDays[aMonth - 1];
}

// Splits a value into its day number and the milliseconds of its time of day,
// following the sign convention described in the header.
bool SplitValue(double aValue, std::int64_t& aDay, std::int64_t& aMs) {
  if (!std::isfinite(aValue) || aValue < static_cast<double>(kMinDay) - 1 || aValue > static_cast<double>(kMaxDay) + 1)
    return false;
  double integral = 0;
  const double fraction = std::modf(aValue, &integral);
  aDay = static_cast<std::int64_t>(integral);
  aMs = std::llround(std::fabs(fraction) * TDateTime::MSecsPerDay);
  if (aMs >= kMsPerDay) {  // rounded up into the next day, in the direction of the sign
    aMs -= kMsPerDay;
    aDay += aValue < 0 ? -1 : 1;
  }
  return aDay >= kMinDay && aDay <= kMaxDay;
}

double Compose(std::int64_t aDay, std::int64_t aMs) {
  const double time = static_cast<double>(aMs) / TDateTime::MSecsPerDay;
  return aDay < 0 ? static_cast<double>(aDay) - time : static_cast<double>(aDay) + time;
}

// Reads exactly aCount decimal digits.
bool ReadDigits(std::string_view& aText, int aCount, int& aValue) {
  if (aText.size() < static_cast<size_t>(aCount))
    return false;
  aValue = 0;
  for (int i = 0; i < aCount; ++i) {
    const char c = aText[i];
    if (c < '0' || c > '9')
      return false;
    aValue = aValue * 10 + (c - '0');
  }
  aText.remove_prefix(aCount);
  return true;
}

bool ReadChar(std::string_view& aText, char aChar) {
  if (aText.empty() || aText.front() != aChar)
    return false;
  aText.remove_prefix(1);
  return true;
}

std::optional<TDateTime> ParseDatePrefix(std::string_view& aText) {
  int y = 0, m = 0, d = 0;
  if (!ReadDigits(aText, 4, y) || !ReadChar(aText, '-') || !ReadDigits(aText, 2, m) || !ReadChar(aText, '-') ||
      !ReadDigits(aText, 2, d))
    return std::nullopt;
  return TDateTime::TryEncodeDate(y, m, d);
}

std::optional<TDateTime> ParseTimeWhole(std::string_view aText) {
  int h = 0, n = 0, s = 0, ms = 0;
  if (!ReadDigits(aText, 2, h) || !ReadChar(aText, ':') || !ReadDigits(aText, 2, n) || !ReadChar(aText, ':') ||
      !ReadDigits(aText, 2, s))
    return std::nullopt;
  if (ReadChar(aText, '.')) {
    int digits = 0;
    while (!aText.empty() && digits < 3 && aText.front() >= '0' && aText.front() <= '9') {
      ms = ms * 10 + (aText.front() - '0');
      aText.remove_prefix(1);
      ++digits;
    }
    if (digits == 0)
      return std::nullopt;
    for (; digits < 3; ++digits)
      ms *= 10;
  }
  if (!aText.empty())
    return std::nullopt;
  return TDateTime::TryEncodeTime(h, n, s, ms);
}

std::string Format(const char* aFormat, auto... aArgs) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, aFormat, aArgs...);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace

TDateTime TDateTime::Now() {
  return FromSystemClock(std::chrono::system_clock::now());
}

TDateTime TDateTime::Today() {
  return Now().DatePart();
}

std::optional<TDateTime> TDateTime::TryEncodeDate(int aYear, int aMonth, int aDay) {
  if (aYear < 1 || aYear > 9999 || aMonth < 1 || aMonth > 12 || aDay < 1 || aDay > DaysInMonth(aYear, aMonth))
    return std::nullopt;
  return TDateTime(static_cast<double>(DaysFromCivil(aYear, aMonth, aDay) - kEpochOffset));
}

std::optional<TDateTime> TDateTime::TryEncodeTime(int aHour, int aMinute, int aSecond, int aMilliSecond) {
  if (aHour < 0 || aHour > 23 || aMinute < 0 || aMinute > 59 || aSecond < 0 || aSecond > 59 || aMilliSecond < 0 ||
      aMilliSecond > 999)
    return std::nullopt;
  const std::int64_t ms = ((aHour * 60LL + aMinute) * 60 + aSecond) * 1000 + aMilliSecond;
  return TDateTime(static_cast<double>(ms) / MSecsPerDay);
}

std::optional<TDateTime> TDateTime::TryEncode(const TDateTimeParts& aParts) {
  const auto date = TryEncodeDate(aParts.Year, aParts.Month, aParts.Day);
  const auto time = TryEncodeTime(aParts.Hour, aParts.Minute, aParts.Second, aParts.MilliSecond);
  if (!date || !time)
    return std::nullopt;
  const auto day = static_cast<std::int64_t>(date->Value());
  return TDateTime(Compose(day, std::llround(time->Value() * MSecsPerDay)));
}

TDateTime TDateTime::EncodeDate(int aYear, int aMonth, int aDay) {
  if (auto value = TryEncodeDate(aYear, aMonth, aDay))
    return *value;
  throw std::invalid_argument(Format("Invalid date: %d-%d-%d", aYear, aMonth, aDay));
}

TDateTime TDateTime::EncodeTime(int aHour, int aMinute, int aSecond, int aMilliSecond) {
  if (auto value = TryEncodeTime(aHour, aMinute, aSecond, aMilliSecond))
    return *value;
  throw std::invalid_argument(Format("Invalid time: %d:%d:%d.%d", aHour, aMinute, aSecond, aMilliSecond));
}

TDateTime TDateTime::Encode(const TDateTimeParts& aParts) {
  if (auto value = TryEncode(aParts))
    return *value;
  throw std::invalid_argument(Format("Invalid date-time: %d-%d-%d %d:%d:%d.%d", aParts.Year, aParts.Month, aParts.Day,
                                     aParts.Hour, aParts.Minute, aParts.Second, aParts.MilliSecond));
}

TDateTime TDateTime::Encode(int aYear, int aMonth, int aDay, int aHour, int aMinute, int aSecond, int aMilliSecond) {
  return Encode(TDateTimeParts{aYear, aMonth, aDay, aHour, aMinute, aSecond, aMilliSecond});
}

std::optional<TDateTimeParts> TDateTime::TryDecode() const {
  std::int64_t day = 0, ms = 0;
  if (!SplitValue(fValue, day, ms))
    return std::nullopt;
  TDateTimeParts parts;
  CivilFromDays(day + kEpochOffset, parts.Year, parts.Month, parts.Day);
  parts.MilliSecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  parts.Second = static_cast<int>(ms % 60);
  ms /= 60;
  parts.Minute = static_cast<int>(ms % 60);
  parts.Hour = static_cast<int>(ms / 60);
  return parts;
}

TDateTimeParts TDateTime::Decode() const {
  if (auto parts = TryDecode())
    return *parts;
  throw std::out_of_range(Format("Date-time value out of range: %g", fValue));
}

TDateTime TDateTime::DatePart() const {
  std::int64_t day = 0, ms = 0;
  if (!SplitValue(fValue, day, ms))
    return TDateTime(std::trunc(fValue));
  return TDateTime(static_cast<double>(day));
}

TDateTime TDateTime::TimePart() const {
  std::int64_t day = 0, ms = 0;
  if (!SplitValue(fValue, day, ms))
    return TDateTime(std::fabs(fValue - std::trunc(fValue)));
  return TDateTime(static_cast<double>(ms) / MSecsPerDay);
}

bool TDateTime::IsMidnight() const {
  std::int64_t day = 0, ms = 0;
  return SplitValue(fValue, day, ms) && ms == 0;
}

int TDateTime::DayOfWeek() const {
  // 1899-12-30 was a Saturday (6).
  const auto day = static_cast<std::int64_t>(DatePart().Value());
  const std::int64_t index = ((day + 5) % 7 + 7) % 7;  // 0 = Monday
  return static_cast<int>(index) + 1;
}

TDateTime TDateTime::FromUnixTime(std::time_t aTime, int aMilliSecond) {
  std::tm local{};
  localtime_r(&aTime, &local);
  return Encode(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec > 59 ? 59 : local.tm_sec, aMilliSecond);
}

TDateTime TDateTime::FromTimespec(const timespec& aTime) {
  return FromUnixTime(aTime.tv_sec, static_cast<int>(aTime.tv_nsec / 1000000));
}

TDateTime TDateTime::FromSystemClock(std::chrono::system_clock::time_point aTime) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(aTime.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  int rest = static_cast<int>(ms % 1000);
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  return FromUnixTime(seconds, rest);
}

std::time_t TDateTime::ToUnixTime() const {
  const TDateTimeParts parts = Decode();
  std::tm local{};
  local.tm_year = parts.Year - 1900;
  local.tm_mon = parts.Month - 1;
  local.tm_mday = parts.Day;
  local.tm_hour = parts.Hour;
  local.tm_min = parts.Minute;
  local.tm_sec = parts.Second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string TDateTime::FormatDate() const {
  const auto parts = TryDecode();
  return parts ? Format("%04d-%02d-%02d", parts->Year, parts->Month, parts->Day) : std::string();
}

std::string TDateTime::FormatTime() const {
  const auto parts = TryDecode();
  return parts ? Format("%02d:%02d:%02d.%03d", parts->Hour, parts->Minute, parts->Second, parts->MilliSecond)
               : std::string();
}

std::string TDateTime::FormatTimeShort() const {
  const auto parts = TryDecode();
  return parts ? Format("%02d:%02d:%02d", parts->Hour, parts->Minute, parts->Second) : std::string();
}

std::string TDateTime::FormatDateTime() const {
  if (!TryDecode())
    return {};
  return IsMidnight() ? FormatDate() : FormatDate() + ' ' + FormatTime();
}

std::string TDateTime::FormatDateTimeShort() const {
  if (!TryDecode())
    return {};
  return IsMidnight() ? FormatDate() : FormatDate() + ' ' + FormatTimeShort();
}

std::optional<TDateTime> TDateTime::TryParseDate(std::string_view aText) {
  auto date = ParseDatePrefix(aText);
  return date && aText.empty() ? date : std::nullopt;
}

std::optional<TDateTime> TDateTime::TryParseTime(std::string_view aText) {
  return ParseTimeWhole(aText);
}

std::optional<TDateTime> TDateTime::TryParseDateTime(std::string_view aText) {
  auto date = ParseDatePrefix(aText);
  if (!date)
    return std::nullopt;
  if (aText.empty())
    return date;
  if (aText.front() != ' ' && aText.front() != 'T')
    return std::nullopt;
  aText.remove_prefix(1);
  auto time = ParseTimeWhole(aText);
  if (!time)
    return std::nullopt;
  return TDateTime(
      Compose(static_cast<std::int64_t>(date->Value()), std::llround(time->Value() * TDateTime::MSecsPerDay)));
}

namespace {

class TSystemClock final : public IClock {
 public:
  TDateTime Now() const override { return TDateTime::Now(); }
  std::int64_t TickMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

IClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

std::int64_t TFakeClock::ToMs(TDateTime aValue) {
  return std::llround(aValue.Value() * TDateTime::MSecsPerDay);
}

TDateTime TFakeClock::Now() const {
  return TDateTime(static_cast<double>(fNowMs.load()) / TDateTime::MSecsPerDay);
}

std::int64_t TFakeClock::TickMs() const {
  return fTickMs.load();
}

void TFakeClock::Set(TDateTime aNow) {
  fNowMs.store(ToMs(aNow));
}

void TFakeClock::AdvanceMs(std::int64_t aMs) {
  fNowMs.fetch_add(aMs);
  fTickMs.fetch_add(aMs);
}

}  // namespace Platform
