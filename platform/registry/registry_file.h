#pragma once

// The registry stored in text files, one per hive:
//   machine: <root>etc/quorvane/registry/machine.reg
//   user:    <user config>quorvane/registry/user.reg
//
// File format (UTF-8, one entry per line, "\n" line breaks; blank lines and lines
// starting with ";" are ignored):
//
//   [Software\Quorvane\Update]
//   "UpdateChannel"=sz:"Release"
//   "EulaVersion"=dword:00000002
//   "LastUpdateCheck"=hex:00,00,00,00,80,6e,e6,40
//
// Value names and texts are quoted; inside quotes "\\", "\"", "\n", "\r", "\t" and
// "\xHH" are escapes. A dword is 8 hexadecimal digits, a binary value comma-separated
// hex bytes (possibly none). A line that does not fit raises ERegistryException naming
// the file and the line; a damaged file is never rewritten silently.
//
// Concurrency: readers read the file as it is (writes replace it atomically by rename,
// so a reader sees the old or the new contents, never a mix). Writers take an exclusive
// flock on "<hive file>.lock", read the current file, change it and write it to a
// temporary file in the same folder that is then renamed over the hive file. Two
// processes writing different values at the same time therefore both keep their value.

#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace Platform::Registry {

// The default hive files, computed from the current QUORVANE_ROOT and XDG variables.
std::string DefaultHiveFile(THive aHive);

// The text form of a hive and its parser. aSourceName names the file in error messages.
std::string FormatHive(const THiveData& aHive);
THiveData ParseHive(std::string_view aText, std::string_view aSourceName);

class TFileRegistry final : public IRegistry {
 public:
  // The default hive files, recomputed on every call (so a changed QUORVANE_ROOT is
  // followed).
  TFileRegistry() = default;
  TFileRegistry(std::string aMachineFile, std::string aUserFile);

  bool KeyExists(THive aHive, std::string_view aKey) const override;
  std::optional<TRegValue> ReadValue(THive aHive, std::string_view aKey, std::string_view aName) const override;
  void WriteValue(THive aHive, std::string_view aKey, std::string_view aName, const TRegValue& aValue) override;
  void CreateKey(THive aHive, std::string_view aKey) override;
  bool DeleteValue(THive aHive, std::string_view aKey, std::string_view aName) override;
  bool DeleteKey(THive aHive, std::string_view aKey) override;

  std::string HiveFile(THive aHive) const;

 private:
  THiveData Load(THive aHive) const;
  // Runs aChange on the hive under the writer lock and stores the result when aChange
  // returns true. Returns what aChange returned.
  template <typename F>
  bool Modify(THive aHive, F&& aChange);

  std::string fMachineFile;
  std::string fUserFile;
};

}  // namespace Platform::Registry
