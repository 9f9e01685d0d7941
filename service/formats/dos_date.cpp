#include "service/formats/dos_date.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace Update::Service {

std::int32_t DateTimeToFileDate(Platform::TDateTime aDateTime) {
  auto parts = aDateTime.TryDecode();
  if (!parts || parts->Year < 1980)
    return 0;
  if (parts->Year > 2107)
    parts = Platform::TDateTimeParts{2107, 12, 31, 23, 59, 58, 0};
  const std::uint32_t date = static_cast<std::uint32_t>((parts->Year - 1980) << 9 | parts->Month << 5 | parts->Day);
  const std::uint32_t time = static_cast<std::uint32_t>(parts->Hour << 11 | parts->Minute << 5 | parts->Second / 2);
  return static_cast<std::int32_t>(date << 16 | time);
}

std::optional<Platform::TDateTime> FileDateToDateTime(std::int32_t aFileDate) {
  const auto value = static_cast<std::uint32_t>(aFileDate);
  const std::uint32_t date = value >> 16;
  const std::uint32_t time = value & 0xFFFF;
  const auto day = Platform::TDateTime::TryEncodeDate(
      static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 0x0F), static_cast<int>(date & 0x1F));
  const auto clock = Platform::TDateTime::TryEncodeTime(
      static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 0x3F), static_cast<int>((time & 0x1F) * 2), 0);
  if (!day || !clock)
    return std::nullopt;
  return Platform::TDateTime(day->Value() + clock->Value());
}

std::optional<std::int32_t> GetFileDate(const std::string& aPath) {
  struct stat st {};
  if (::stat(aPath.c_str(), &st) != 0)
    return std::nullopt;
  return DateTimeToFileDate(Platform::TDateTime::FromTimespec(st.st_mtim));
}

bool SetFileDate(const std::string& aPath, std::int32_t aFileDate) {
  const auto dateTime = FileDateToDateTime(aFileDate);
  if (!dateTime)
    return false;
  const std::time_t seconds = dateTime->ToUnixTime();
  if (seconds == static_cast<std::time_t>(-1))
    return false;
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return ::utimensat(AT_FDCWD, aPath.c_str(), times, 0) == 0;
}

}  // namespace Update::Service
