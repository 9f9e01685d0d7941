#pragma once

// TUpdateUtils: static helpers shared by the update client and the update service for
// versions, URLs, paths, file sizes, files, processes and IPC payloads.
//
// Paths are "/" paths. Relative paths read from feed content may carry "\" as their
// delimiter (they were written on Windows); MakePathAbsolute and MakePathRelative turn
// those into "/" before they work on them.
//
// None of these functions raises for missing files or bad input: they return false, -1,
// an empty text or the input unchanged, as each one says. All are free of shared state
// and may be called from any thread.

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_version.h"
#include "platform/datetime/datetime.h"

namespace Update::Common {

// Separators for FormatFileSize.
struct TNumberFormat {
  std::string DecimalSeparator = ".";
  std::string ThousandsSeparator = ",";
  // Digits per group, from the right (0 = no grouping). Only uniform grouping is kept.
  int GroupSize = 3;

  // The user's locale (LC_ALL / LC_NUMERIC / LANG). A locale without digit grouping
  // (C, POSIX) or that cannot be loaded gives the defaults above.
  static TNumberFormat UserDefault();
};

// The directory entry of a file, as GetFileInfo reports it.
struct TSearchRec {
  std::string Name;  // the file name without its folder
  std::int64_t Size = 0;
  Platform::TDateTime Time;  // last modification, local time
  mode_t Attributes = 0;     // st_mode
};

class TUpdateUtils {
 public:
  TUpdateUtils() = delete;

  // -1, 0 or 1: Major, then Minor, Release and Build as signed numbers.
  static int CompareFileVersion(const TFileVersion& aLeft, const TFileVersion& aRight);
  // The version stamped into one of our programs or libraries; false (and 0.0.0.0) for
  // any other file.
  static bool GetFileVersion(std::string_view aFileName, TFileVersion& aVersion);
  // Its dotted text, or empty.
  static std::string GetFileVersion_AsString(std::string_view aFileName);

  // URLs.
  static std::string CorrectUrl(std::string_view aUrl, bool aIncludeSlash);
  // aMainUrl (given "http://" when it has no scheme) with exactly one "/" after it,
  // then aPath; a file URL loses one trailing "/", a folder URL gets one. A leading "/"
  // in aPath is kept (and gives a double slash).
  static std::string GetUrl(std::string_view aMainUrl, std::string_view aPath, bool aIsFile);
  // aUrl + "?" + a new random GUID as 32 lower-case hex digits.
  static std::string GetUrlWithCacheBusting(std::string_view aUrl);
  static bool IsAbsoluteUrl(std::string_view aUrl);
  static bool IsRelativeUrlFromRoot(std::string_view aUrl);

  // Paths. An absolute path starts with "/"; "from the root" means the same on Linux,
  // so both tests agree.
  static bool IsAbsolutePath(std::string_view aPath);
  static bool IsRelativePathFromRoot(std::string_view aPath);
  // aPath when it is empty or absolute; otherwise aBasePath + "/" + aPath with "." and
  // ".." resolved lexically (".." never climbs above "/").
  static std::string MakePathAbsolute(std::string_view aBasePath, std::string_view aPath);
  // aPath relative to the folder of aBasePath (the text up to its last "/"), with ".."
  // steps where needed. Empty stays empty; a relative aPath is returned unchanged.
  static std::string MakePathRelative(std::string_view aBasePath, std::string_view aPath);
  // The last folder name of a folder path ("/a/b/" and "/a/b" give "b").
  static std::string GetDirectoryName(std::string_view aDirectoryPath);
  // Deletes the folder and everything in it when it exists; nothing is reported.
  static void DeleteDirectory(std::string_view aPath);

  // Files.
  // False when aFileName is not an existing regular file (symbolic links followed).
  static bool GetFileInfo(std::string_view aFileName, TSearchRec& aSearchRec);
  // -1 when the size cannot be read or the path is not a regular file.
  static std::int64_t GetFileSize(std::string_view aFileName);
  // The canonical real path, or aPathName unchanged when it cannot be resolved.
  static std::string GetLongPathName(std::string_view aPathName);

  // True when a running process executes the program aExePath (canonical paths
  // compared without ASCII case). Processes that cannot be inspected are skipped.
  static bool IsAppRunning(std::string_view aExePath);

  // "1023 Bytes", "1.00 KB", "10.0 KB", "100 KB", ... with the user's decimal
  // separator; the long form appends the exact count grouped: " (1,536 Bytes)".
  static std::string FormatFileSize(std::int64_t aSizeInBytes, bool aLongFormat);
  static std::string FormatFileSize(std::int64_t aSizeInBytes, bool aLongFormat, const TNumberFormat& aFormat);

  // "yyyy-mm-dd hh:nn:ss", the time left out at exactly midnight; locale-independent.
  static std::string DateTimeToStr(Platform::TDateTime aDateTime);

  // aText without leading and trailing blanks and control characters (bytes <= ' ').
  static std::string Trim(std::string_view aText);

  // IPC payloads.
  static bool GetBoolFromBuffer(std::string_view aBuffer);
  // The bytes as UTF-16LE code units (an odd last byte is ignored), returned as UTF-8.
  static std::string GetStringFromBuffer(std::string_view aBuffer);
};

}  // namespace Update::Common
