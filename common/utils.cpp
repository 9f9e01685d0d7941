#include "common/utils.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <filesystem>
#include <vector>

#include "platform/fileversion/fileversion.h"
#include "platform/guid/guid.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace Update::Common {

namespace {

std::string NormaliseDelimiters(std::string_view aPath) {
  std::string result(aPath);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

// Splits a "/" path into its segments (empty segments dropped).
std::vector<std::string> Segments(std::string_view aPath) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start <= aPath.size()) {
    std::size_t end = aPath.find('/', start);
    if (end == std::string_view::npos)
      end = aPath.size();
    if (end > start)
      result.emplace_back(aPath.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

// Lexical canonical form of an absolute path: "." removed, ".." resolved against the
// segment before it (never above the root), a trailing "/" kept.
std::string CanonicaliseAbsolute(std::string_view aPath) {
  std::vector<std::string> kept;
  for (std::string& segment : Segments(aPath)) {
    if (segment == ".")
      continue;
    if (segment == "..") {
      if (!kept.empty())
        kept.pop_back();
      continue;
    }
    kept.push_back(std::move(segment));
  }
  std::string result;
  for (const std::string& segment : kept)
    result += "/" + segment;
  if (result.empty() || (!aPath.empty() && aPath.back() == '/' && !kept.empty()))
    result += "/";
  return result;
}

std::string FormatFixed(double aValue, int aDecimals) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, aValue, std::chars_format::fixed, aDecimals);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

// aPlain is "-?digits(.digits)?" in the C locale; inserts the user's separators.
std::string Localise(const std::string& aPlain, const TNumberFormat& aFormat) {
  std::size_t dot = aPlain.find('.');
  std::string integral = aPlain.substr(0, dot);
  std::string sign;
  if (!integral.empty() && integral.front() == '-') {
    sign = "-";
    integral.erase(0, 1);
  }
  std::string grouped;
  if (aFormat.GroupSize > 0) {
    int count = 0;
    for (auto it = integral.rbegin(); it != integral.rend(); ++it) {
      if (count > 0 && count % aFormat.GroupSize == 0) {
        std::string separator = aFormat.ThousandsSeparator;
        grouped.insert(0, separator);
      }
      grouped.insert(grouped.begin(), *it);
      ++count;
    }
  } else {
    grouped = integral;
  }
  std::string result = sign + grouped;
  if (dot != std::string::npos) {
    result += aFormat.DecimalSeparator + aPlain.substr(dot + 1);
  }
  return result;
}

}  // namespace

TNumberFormat TNumberFormat::UserDefault() {
  TNumberFormat result;
  locale_t locale = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    return result;
  }
  std::string decimal = ::nl_langinfo_l(RADIXCHAR, locale);
  std::string thousands = ::nl_langinfo_l(THOUSEP, locale);
  const char* grouping = ::nl_langinfo_l(GROUPING, locale);
  int group = grouping && grouping[0] > 0 && grouping[0] != CHAR_MAX ? grouping[0] : 0;
  ::freelocale(locale);
  if (group > 0 && !decimal.empty()) {
    result.DecimalSeparator = decimal;
    result.ThousandsSeparator = thousands;
    result.GroupSize = group;
  } else if (!decimal.empty() && decimal != ".") {
    result.DecimalSeparator = decimal;
  }
  return result;
}

int TUpdateUtils::CompareFileVersion(const TFileVersion& aLeft, const TFileVersion& aRight) {
  const std::int32_t left[] = {aLeft.Major, aLeft.Minor, aLeft.Release, aLeft.Build};
  const std::int32_t right[] = {aRight.Major, aRight.Minor, aRight.Release, aRight.Build};
  for (int i = 0; i < 4; ++i) {
    if (left[i] != right[i])
      return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

bool TUpdateUtils::GetFileVersion(std::string_view aFileName, TFileVersion& aVersion) {
  aVersion = TFileVersion();
  std::optional<Platform::TFileVersionNumbers> numbers = Platform::GetFileVersion(std::string(aFileName));
  if (!numbers) {
    return false;
  }
  aVersion = TFileVersion(numbers->Major, numbers->Minor, numbers->Release, numbers->Build);
  return true;
}

std::string TUpdateUtils::GetFileVersion_AsString(std::string_view aFileName) {
  TFileVersion version;
  return GetFileVersion(aFileName, version) ? version.AsString() : std::string();
}

std::string TUpdateUtils::GetUrlWithCacheBusting(std::string_view aUrl) {
  return std::string(aUrl) + "?" + Platform::TGUID::NewGuid().ToHexString();
}

std::string TUpdateUtils::CorrectUrl(std::string_view aUrl, bool aIncludeSlash) {
  if (aUrl.empty()) {
    return std::string();
  }
  std::string result(aUrl);
  if (aIncludeSlash) {
    if (result.back() != '/')
      result.push_back('/');
  } else if (result.back() == '/') {
    result.pop_back();
  }
  return result;
}

std::string TUpdateUtils::GetUrl(std::string_view aMainUrl, std::string_view aPath, bool aIsFile) {
  std::string base = IsAbsoluteUrl(aMainUrl) ? CorrectUrl(aMainUrl, true) : "http://" + CorrectUrl(aMainUrl, true);
  return CorrectUrl(base + std::string(aPath), !aIsFile);
}

bool TUpdateUtils::IsAbsoluteUrl(std::string_view aUrl) {
  std::size_t scheme = aUrl.find("://");
  std::size_t slash = aUrl.find('/');
  return scheme != std::string_view::npos && scheme >= 1 && scheme < slash;
}

bool TUpdateUtils::IsRelativeUrlFromRoot(std::string_view aUrl) {
  return !aUrl.empty() && aUrl.front() == '/';
}

bool TUpdateUtils::IsAbsolutePath(std::string_view aPath) {
  return !aPath.empty() && aPath.front() == '/';
}

bool TUpdateUtils::IsRelativePathFromRoot(std::string_view aPath) {
  return !aPath.empty() && aPath.front() == '/';
}

std::string TUpdateUtils::MakePathAbsolute(std::string_view aBasePath, std::string_view aPath) {
  std::string path = NormaliseDelimiters(aPath);
  if (path.empty() || IsAbsolutePath(path)) {
    return path;
  }
  std::string base = Platform::Paths::IncludeTrailingDelimiter(NormaliseDelimiters(aBasePath));
  if (!IsAbsolutePath(base)) {
    // No absolute base to anchor on: join without resolving.
    return base + path;
  }
  return CanonicaliseAbsolute(base + path);
}

std::string TUpdateUtils::MakePathRelative(std::string_view aBasePath, std::string_view aPath) {
  std::string path = NormaliseDelimiters(aPath);
  std::string base = NormaliseDelimiters(aBasePath);
  if (path.empty() || !IsAbsolutePath(path) || !IsAbsolutePath(base)) {
    return path;
  }
  std::vector<std::string> from = Segments(CanonicaliseAbsolute(Platform::Paths::ExtractFilePath(base)));
  std::string target = CanonicaliseAbsolute(path);
  bool folderTarget = target.size() > 1 && target.back() == '/';
  std::vector<std::string> to = Segments(target);
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common])
    ++common;
  std::string result;
  for (std::size_t i = common; i < from.size(); ++i)
    result += "../";
  for (std::size_t i = common; i < to.size(); ++i) {
    result += to[i];
    if (i + 1 < to.size() || folderTarget)
      result += "/";
  }
  return result.empty() ? std::string("./") : result;
}

std::string TUpdateUtils::GetDirectoryName(std::string_view aDirectoryPath) {
  return Platform::Paths::ExtractFileName(Platform::Paths::ExcludeTrailingDelimiter(aDirectoryPath));
}

void TUpdateUtils::DeleteDirectory(std::string_view aPath) {
  std::error_code error;
  std::filesystem::path path(Platform::Paths::ExcludeTrailingDelimiter(aPath));
  if (!aPath.empty() && std::filesystem::is_directory(path, error)) {
    std::filesystem::remove_all(path, error);
  }
}

bool TUpdateUtils::GetFileInfo(std::string_view aFileName, TSearchRec& aSearchRec) {
  struct stat info {};
  std::string name(aFileName);
  if (name.empty() || ::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  aSearchRec.Name = Platform::Paths::ExtractFileName(name);
  aSearchRec.Size = static_cast<std::int64_t>(info.st_size);
  aSearchRec.Time = Platform::TDateTime::FromTimespec(info.st_mtim);
  aSearchRec.Attributes = info.st_mode;
  return true;
}

std::int64_t TUpdateUtils::GetFileSize(std::string_view aFileName) {
  TSearchRec info;
  return GetFileInfo(aFileName, info) ? info.Size : -1;
}

std::string TUpdateUtils::GetLongPathName(std::string_view aPathName) {
  return Platform::Paths::CanonicalPath(aPathName).value_or(std::string(aPathName));
}

bool TUpdateUtils::IsAppRunning(std::string_view aExePath) {
  std::string path = GetLongPathName(aExePath);
  std::string name = Platform::Paths::ExtractFileName(path);
  if (path.empty() || name.empty()) {
    return false;
  }
  for (const Platform::Process::TProcessEntry& process : Platform::Process::Snapshot()) {
    if (process.ExePath.empty() || !Platform::Text::SameAsciiNoCase(process.ExeName, name)) {
      continue;
    }
    if (Platform::Text::SameAsciiNoCase(process.ExePath, path)) {
      return true;
    }
  }
  return false;
}

std::string TUpdateUtils::FormatFileSize(std::int64_t aSizeInBytes, bool aLongFormat) {
  return FormatFileSize(aSizeInBytes, aLongFormat, TNumberFormat::UserDefault());
}

std::string TUpdateUtils::FormatFileSize(std::int64_t aSizeInBytes, bool aLongFormat, const TNumberFormat& aFormat) {
  double bytes = static_cast<double>(aSizeInBytes);
  double kb = bytes / 1024;
  double mb = kb / 1024;
  double gb = mb / 1024;
  // The scaled number carries the user's decimal separator but no grouping ("1023
  // Bytes"); the exact byte count of the long form is grouped.
  TNumberFormat ungrouped = aFormat;
  ungrouped.GroupSize = 0;
  auto text = [&](double aValue, int aDecimals, const char* aUnit) {
    return Localise(FormatFixed(aValue, aDecimals), ungrouped) + aUnit;
  };
  std::string result;
  if (kb < 1) {
    result = text(bytes, 0, " Bytes");
  } else if (kb < 10) {
    result = text(kb, 2, " KB");
  } else if (kb < 100) {
    result = text(kb, 1, " KB");
  } else if (mb < 1) {
    result = text(kb, 0, " KB");
  } else if (mb < 10) {
    result = text(mb, 2, " MB");
  } else if (mb < 100) {
    result = text(mb, 1, " MB");
  } else if (gb < 1) {
    result = text(mb, 0, " MB");
  } else if (gb < 10) {
    result = text(gb, 2, " GB");
  } else if (gb < 100) {
    result = text(gb, 1, " GB");
  } else {
    result = text(gb, 0, " GB");
  }
  if (aLongFormat) {
    result += " (" + Localise(std::to_string(aSizeInBytes), aFormat) + " Bytes)";
  }
  return result;
}

std::string TUpdateUtils::DateTimeToStr(Platform::TDateTime aDateTime) {
  return aDateTime.FormatDateTimeShort();
}

std::string TUpdateUtils::Trim(std::string_view aText) {
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!aText.empty() && isSpace(aText.front()))
    aText.remove_prefix(1);
  while (!aText.empty() && isSpace(aText.back()))
    aText.remove_suffix(1);
  return std::string(aText);
}

bool TUpdateUtils::GetBoolFromBuffer(std::string_view aBuffer) {
  return !aBuffer.empty() && aBuffer.front() != 0;
}

std::string TUpdateUtils::GetStringFromBuffer(std::string_view aBuffer) {
  std::string_view even = aBuffer.substr(0, aBuffer.size() & ~std::size_t{1});
  return Platform::Text::Utf16LeBytesToUtf8(even).value_or(std::string());
}

}  // namespace Update::Common
