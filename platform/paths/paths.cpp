#include "platform/paths/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace Platform::Paths {

namespace {

std::string GetEnv(const char* aName) {
  const char* value = std::getenv(aName);
  return value ? std::string(value) : std::string();
}

bool HasPrefix() {
  std::string root = GetEnv("QUORVANE_ROOT");
  return !root.empty() && root != "/";
}

std::string HomeDir() {
  std::string home = GetEnv("HOME");
  if (!home.empty()) {
    return home;
  }
  if (const passwd* entry = getpwuid(getuid())) {
    return entry->pw_dir ? std::string(entry->pw_dir) : std::string();
  }
  return std::string();
}

// An absolute per-user folder, relocated below the prefix when one is set.
std::string UserDir(std::string aBase) {
  if (HasPrefix()) {
    return IncludeTrailingDelimiter(UnderRoot(aBase));
  }
  return IncludeTrailingDelimiter(aBase);
}

}  // namespace

std::string Root() {
  std::string root = GetEnv("QUORVANE_ROOT");
  if (root.empty()) {
    return "/";
  }
  return IncludeTrailingDelimiter(root);
}

std::string UnderRoot(std::string_view aAbsolutePath) {
  while (!aAbsolutePath.empty() && aAbsolutePath.front() == kDelimiter) {
    aAbsolutePath.remove_prefix(1);
  }
  return Root() + std::string(aAbsolutePath);
}

std::string CommonFilesDir() {
  return UnderRoot("usr/share/");
}
std::string ProgramFilesDir() {
  return UnderRoot("opt/");
}
std::string ProgramDataDir() {
  return UnderRoot("var/lib/");
}
std::string WindowsDir() {
  return UnderRoot("etc/");
}
std::string SystemDir() {
  return UnderRoot("usr/lib/");
}
std::string RunDir() {
  return UnderRoot("run/");
}

std::string UserConfigDir() {
  std::string base = GetEnv("XDG_CONFIG_HOME");
  // XDG says a relative value is invalid and must be ignored.
  if (base.empty() || base.front() != kDelimiter) {
    base = IncludeTrailingDelimiter(HomeDir()) + ".config";
  }
  return UserDir(base);
}

std::string UserRuntimeDir() {
  std::string base = GetEnv("XDG_RUNTIME_DIR");
  if (base.empty() || base.front() != kDelimiter) {
    base = "/run/user/" + std::to_string(getuid());
  }
  return UserDir(base);
}

std::string ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return std::string();
  }
  return path.string();
}

std::string ExecutableDir() {
  std::string path = ExecutablePath();
  return path.empty() ? std::string() : ExtractFilePath(path);
}

std::optional<std::string> CanonicalPath(std::string_view aPath) {
  if (aPath.empty()) {
    return std::nullopt;
  }
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(std::filesystem::path(aPath), error);
  if (error) {
    return std::nullopt;
  }
  return path.string();
}

std::string IncludeTrailingDelimiter(std::string_view aPath) {
  std::string result(aPath);
  if (result.empty() || result.back() != kDelimiter) {
    result.push_back(kDelimiter);
  }
  return result;
}

std::string ExcludeTrailingDelimiter(std::string_view aPath) {
  std::string result(aPath);
  if (result.size() > 1 && result.back() == kDelimiter) {
    result.pop_back();
  }
  return result;
}

std::string ExtractFileName(std::string_view aPath) {
  std::size_t pos = aPath.rfind(kDelimiter);
  return std::string(pos == std::string_view::npos ? aPath : aPath.substr(pos + 1));
}

std::string ExtractFilePath(std::string_view aPath) {
  std::size_t pos = aPath.rfind(kDelimiter);
  return pos == std::string_view::npos ? std::string() : std::string(aPath.substr(0, pos + 1));
}

bool ForceDirectories(std::string_view aPath) {
  if (aPath.empty()) {
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(aPath), error);
  return std::filesystem::is_directory(std::filesystem::path(aPath), error);
}

}  // namespace Platform::Paths
