#pragma once

// Temporary folders, files and environment variables for tests and benchmarks, each undone
// when its object goes:
//   TTempDir   a new, empty folder below the system temp folder ($TMPDIR, else /tmp),
//              removed with everything in it, read-only entries included;
//   TScopedEnv sets or unsets environment variables and restores their earlier values;
//   TTempRoot  a TTempDir that QUORVANE_ROOT points at, so that every machine and user
//              folder of the programs lies inside it.
// Header-only and free of GoogleTest, so that benchmarks can use it too. Failures to set
// up throw std::runtime_error (GoogleTest reports it as a failure of the test).

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace QuorvaneTest {

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file with aData; its folder must exist. Throws when the file is not written,
// so that a test never goes on with a fixture that is not there.
inline void WriteFile(const std::filesystem::path& aPath, std::string_view aData) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out.write(aData.data(), static_cast<std::streamsize>(aData.size()));
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write the test file " + aPath.string());
  }
}

// Removes aPath and everything below it, also entries a test made read-only; never throws.
// Links are removed, never followed.
inline void RemoveTree(const std::filesystem::path& aPath) noexcept {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(aPath, error))) {
    return;
  }
  if (!fs::is_symlink(fs::symlink_status(aPath, error))) {
    fs::permissions(aPath, fs::perms::owner_all, fs::perm_options::add, error);
    // The iterator lists a folder before it descends into it, so each folder is opened up
    // before its entries are read.
    for (auto it = fs::recursive_directory_iterator(aPath, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
      std::error_code ignored;
      if (!it->is_symlink(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
  }
  fs::remove_all(aPath, error);
}

class TTempDir {
 public:
  // The folder is named "qv_<aPrefix>_XXXXXX", so that one left behind shows its test.
  explicit TTempDir(std::string_view aPrefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("qv_" + std::string(aPrefix) + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary folder from " + pattern);
    }
    fPath = pattern;
  }
  ~TTempDir() { RemoveTree(fPath); }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return fPath; }
  std::filesystem::path operator/(const std::filesystem::path& aRelative) const { return fPath / aRelative; }
  // The full path of aRelative (no check that it exists), as text.
  std::string File(const std::filesystem::path& aRelative) const { return (fPath / aRelative).string(); }
  // The folder as text with a final "/", the form the programs' folder names take.
  std::string Dir() const { return fPath.string() + "/"; }

  // Writes aData to aRelative, creating the folders on the way; returns the full path.
  std::string Write(const std::filesystem::path& aRelative, std::string_view aData) const {
    const std::filesystem::path path = fPath / aRelative;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, aData);
    return path.string();
  }
  std::string Read(const std::filesystem::path& aRelative) const { return ReadFile(fPath / aRelative); }

 private:
  std::filesystem::path fPath;
};

class TScopedEnv {
 public:
  TScopedEnv() = default;
  // aValue nullptr unsets the variable.
  TScopedEnv(const std::string& aName, const char* aValue) { Set(aName, aValue); }
  TScopedEnv(const std::string& aName, const std::optional<std::string>& aValue) { Set(aName, aValue); }
  ~TScopedEnv() {
    for (auto it = fSaved.rbegin(); it != fSaved.rend(); ++it) {
      it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
    }
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

  // Sets (with nullopt or nullptr unsets) aName until destruction, which brings back the
  // value it had before the first Set of this object.
  void Set(const std::string& aName, const std::optional<std::string>& aValue) {
    Set(aName, aValue ? aValue->c_str() : nullptr);
  }
  void Set(const std::string& aName, const char* aValue) {
    bool known = false;
    for (const auto& [name, value] : fSaved) {
      known = known || name == aName;
    }
    if (!known) {
      const char* old = std::getenv(aName.c_str());
      fSaved.emplace_back(aName, old ? std::optional<std::string>(old) : std::nullopt);
    }
    aValue ? ::setenv(aName.c_str(), aValue, 1) : ::unsetenv(aName.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

// QUORVANE_ROOT points at the folder until destruction, then has its old value again.
class TTempRoot : public TTempDir {
 public:
  explicit TTempRoot(std::string_view aPrefix) : TTempDir(aPrefix), fEnv("QUORVANE_ROOT", Path().string()) {}

 private:
  TScopedEnv fEnv;
};

}  // namespace QuorvaneTest
