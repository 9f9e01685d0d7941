#pragma once

// Packed DOS date-times, the form in which packed files and installation structure files
// record a file's modification time: the high 16 bits hold the date
// ((year - 1980) << 9 | month << 5 | day), the low 16 bits the time
// (hour << 11 | minute << 5 | second / 2). The value is local wall-clock time with a
// resolution of two seconds.
//
// Thread-safe (no shared state; the local time zone is read through the C library).

#include <cstdint>
#include <optional>
#include <string>

#include "platform/datetime/datetime.h"

namespace Update::Service {

// Years before 1980 cannot be represented and give 0; years after 2107 give the last
// representable moment, 2107-12-31 23:59:58. Odd seconds are rounded down.
std::int32_t DateTimeToFileDate(Platform::TDateTime aDateTime);

// nullopt for a value that is no valid date and time (for example 0).
std::optional<Platform::TDateTime> FileDateToDateTime(std::int32_t aFileDate);

// The modification time of a file as a packed DOS date-time; nullopt when the file
// cannot be examined.
std::optional<std::int32_t> GetFileDate(const std::string& aPath);

// Sets a file's modification time (and access time) from a packed DOS date-time. False
// for an invalid value or when the file's times cannot be set.
bool SetFileDate(const std::string& aPath, std::int32_t aFileDate);

}  // namespace Update::Service
