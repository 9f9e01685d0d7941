#pragma once

// TDateTime: a point in local wall-clock time, stored as days since 1899-12-30 00:00
// in a 64-bit float (the integral part counts days, the fraction is the time of day).
// This is the representation the stored files and the registry carry (a date-time value
// is written as the 8 bytes of this double), so it must stay bit-compatible.
//
// Values before 1899-12-30 follow the classic convention: the integral part is the
// (negative) day and the absolute value of the fraction is the time of day, so -1.25 is
// 1899-12-29 06:00.
//
// All texts here use fixed separators and never depend on the user's locale.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

struct TDateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int MilliSecond = 0;
};

class TDateTime {
 public:
  static constexpr double MSecsPerDay = 86400000.0;

  constexpr TDateTime() = default;
  constexpr explicit TDateTime(double aValue) : fValue(aValue) {}

  constexpr double Value() const { return fValue; }

  // The current local wall-clock time, with milliseconds.
  static TDateTime Now();
  // Today at midnight, local time.
  static TDateTime Today();

  // Calendar conversions. Years 1..9999; the Try forms return std::nullopt for an
  // invalid date or time, the plain forms throw std::invalid_argument.
  static std::optional<TDateTime> TryEncodeDate(int aYear, int aMonth, int aDay);
  static std::optional<TDateTime> TryEncodeTime(int aHour, int aMinute, int aSecond, int aMilliSecond);
  static std::optional<TDateTime> TryEncode(const TDateTimeParts& aParts);
  static TDateTime EncodeDate(int aYear, int aMonth, int aDay);
  static TDateTime EncodeTime(int aHour, int aMinute, int aSecond, int aMilliSecond = 0);
  static TDateTime Encode(const TDateTimeParts& aParts);
  static TDateTime Encode(int aYear, int aMonth, int aDay, int aHour = 0, int aMinute = 0, int aSecond = 0,
                          int aMilliSecond = 0);

  // Splits into calendar parts, rounding to the nearest millisecond. Values outside
  // years 1..9999 (and NaN) yield std::nullopt.
  std::optional<TDateTimeParts> TryDecode() const;
  TDateTimeParts Decode() const;  // throws std::out_of_range

  // The date part (midnight of the same day) and the time-of-day part (0 <= t < 1).
  TDateTime DatePart() const;
  TDateTime TimePart() const;
  // True when the time of day is exactly 00:00:00.000 (after rounding to milliseconds).
  bool IsMidnight() const;
  // 1 = Monday ... 7 = Sunday.
  int DayOfWeek() const;

  // Conversions to and from POSIX time, interpreted in the local time zone.
  static TDateTime FromUnixTime(std::time_t aTime, int aMilliSecond = 0);
  static TDateTime FromTimespec(const timespec& aTime);
  std::time_t ToUnixTime() const;
  // Conversion from a UTC system-clock time point to local wall-clock time.
  static TDateTime FromSystemClock(std::chrono::system_clock::time_point aTime);

  // Fixed texts:
  //   FormatDate       "yyyy-mm-dd"
  //   FormatTime       "hh:nn:ss.zzz"
  //   FormatTimeShort  "hh:nn:ss"
  //   FormatDateTime   "yyyy-mm-dd hh:nn:ss.zzz", the time omitted at exactly midnight
  //   FormatDateTimeShort "yyyy-mm-dd hh:nn:ss", the time omitted at exactly midnight
  // A value that cannot be decoded formats as an empty string.
  std::string FormatDate() const;
  std::string FormatTime() const;
  std::string FormatTimeShort() const;
  std::string FormatDateTime() const;
  std::string FormatDateTimeShort() const;

  // Parsers for the texts above. The time may carry 0 to 3 fraction digits
  // ("hh:nn:ss", "hh:nn:ss.z", ...). TryParseDateTime accepts a date alone, or a date,
  // one blank (or "T") and a time.
  static std::optional<TDateTime> TryParseDate(std::string_view aText);
  static std::optional<TDateTime> TryParseTime(std::string_view aText);
  static std::optional<TDateTime> TryParseDateTime(std::string_view aText);

  TDateTime& operator+=(double aDays) {
    fValue += aDays;
    return *this;
  }
  friend TDateTime operator+(TDateTime aLeft, double aDays) { return TDateTime(aLeft.fValue + aDays); }
  friend TDateTime operator-(TDateTime aLeft, double aDays) { return TDateTime(aLeft.fValue - aDays); }
  friend double operator-(TDateTime aLeft, TDateTime aRight) { return aLeft.fValue - aRight.fValue; }
  friend auto operator<=>(TDateTime aLeft, TDateTime aRight) = default;
  friend bool operator==(TDateTime aLeft, TDateTime aRight) = default;

 private:
  double fValue = 0.0;
};

// A source of the current time. Code that schedules or time-stamps takes an IClock so
// that tests can run it against a TFakeClock; SystemClock() is the real one.
class IClock {
 public:
  virtual ~IClock() = default;
  // Local wall-clock time.
  virtual TDateTime Now() const = 0;
  // A monotonic millisecond counter (arbitrary origin), for intervals and time-outs.
  virtual std::int64_t TickMs() const = 0;
};

IClock& SystemClock();

// A clock that only moves when told to. Thread-safe reads; Advance/Set from any thread.
class TFakeClock final : public IClock {
 public:
  explicit TFakeClock(TDateTime aStart = TDateTime::Encode(2026, 1, 1, 12)) : fNowMs(ToMs(aStart)) {}
  TDateTime Now() const override;
  std::int64_t TickMs() const override;
  void Set(TDateTime aNow);
  void AdvanceMs(std::int64_t aMs);

 private:
  static std::int64_t ToMs(TDateTime aValue);
  std::atomic<std::int64_t> fNowMs;
  std::atomic<std::int64_t> fTickMs{0};
};

}  // namespace Platform
