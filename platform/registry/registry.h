#pragma once

// A typed key-value store with the semantics of the Windows registry, as far as the
// update programs use it:
//   - two hives, HKEY_LOCAL_MACHINE (machine-wide) and HKEY_CURRENT_USER (per user);
//   - keys are backslash paths ("Software\Quorvane\Update"), compared without case;
//     value names are compared without case as well, their spelling is kept;
//   - values are REG_SZ (text), REG_DWORD (32 bits) or REG_BINARY (bytes);
//   - reading a value with a type other than the stored one raises ERegistryException.
//
// TFileRegistry keeps one human-readable text file per hive (see registry_file.h for the
// format). TMemoryRegistry is the fake for tests. Registry() is the one selection point
// for the process; tests replace it with SetRegistry.
//
// Errors: ERegistryException for a damaged store or a wrong value type;
// ERegistryAccessError (derived) when the store cannot be read or written at all
// (permissions, missing disk). Missing keys and values are never errors.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Platform::Registry {

enum class THive { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER };

enum class TRegDataType { REG_SZ, REG_DWORD, REG_BINARY };

using TRegBinary = std::vector<std::uint8_t>;

// One stored value: the alternative held gives its registry type.
using TRegValue = std::variant<std::string, std::uint32_t, TRegBinary>;

TRegDataType DataTypeOf(const TRegValue& aValue);
std::string_view DataTypeName(TRegDataType aType);  // "REG_SZ", ...
std::string_view HiveName(THive aHive);             // "HKEY_LOCAL_MACHINE", ...

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ERegistryAccessError : public ERegistryException {
 public:
  using ERegistryException::ERegistryException;
};

// Key paths are normalised before use: leading and trailing backslashes are dropped and
// runs of backslashes count as one. The empty path is the hive's root key.
std::string NormaliseKey(std::string_view aKey);

// The contents of one hive: keys in the order they were created, values in the order
// they were first written. Not thread-safe on its own.
class THiveData {
 public:
  struct TValueEntry {
    std::string Name;
    TRegValue Value;
    bool operator==(const TValueEntry&) const = default;
  };
  struct TKeyEntry {
    std::string Name;  // as first spelled
    std::vector<TValueEntry> Values;
    bool operator==(const TKeyEntry&) const = default;
  };

  // True when the key or any key below it exists (the root key always exists).
  bool KeyExists(std::string_view aKey) const;
  const TRegValue* FindValue(std::string_view aKey, std::string_view aName) const;
  // Creates the key when missing.
  void CreateKey(std::string_view aKey);
  void SetValue(std::string_view aKey, std::string_view aName, TRegValue aValue);
  bool DeleteValue(std::string_view aKey, std::string_view aName);
  // Deletes the key and every key below it.
  bool DeleteKey(std::string_view aKey);

  const std::vector<TKeyEntry>& Keys() const { return fKeys; }
  bool operator==(const THiveData&) const = default;

 private:
  TKeyEntry* FindKey(std::string_view aNormalisedKey);
  const TKeyEntry* FindKey(std::string_view aNormalisedKey) const;
  std::vector<TKeyEntry> fKeys;
};

// The store. Every call is atomic on its own: a write is read-modify-write of the whole
// hive under the store's lock, so concurrent writers of different values lose nothing.
// All methods may be called from any thread.
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  virtual bool KeyExists(THive aHive, std::string_view aKey) const = 0;
  // Nothing when the key or the value is missing.
  virtual std::optional<TRegValue> ReadValue(THive aHive, std::string_view aKey, std::string_view aName) const = 0;
  // Creates the key when missing, replaces a value of the same name (whatever its type).
  virtual void WriteValue(THive aHive, std::string_view aKey, std::string_view aName, const TRegValue& aValue) = 0;
  virtual void CreateKey(THive aHive, std::string_view aKey) = 0;
  // False when there was nothing to delete.
  virtual bool DeleteValue(THive aHive, std::string_view aKey, std::string_view aName) = 0;
  virtual bool DeleteKey(THive aHive, std::string_view aKey) = 0;
};

// In-memory store for tests.
class TMemoryRegistry final : public IRegistry {
 public:
  bool KeyExists(THive aHive, std::string_view aKey) const override;
  std::optional<TRegValue> ReadValue(THive aHive, std::string_view aKey, std::string_view aName) const override;
  void WriteValue(THive aHive, std::string_view aKey, std::string_view aName, const TRegValue& aValue) override;
  void CreateKey(THive aHive, std::string_view aKey) override;
  bool DeleteValue(THive aHive, std::string_view aKey, std::string_view aName) override;
  bool DeleteKey(THive aHive, std::string_view aKey) override;

 private:
  mutable std::mutex fLock;
  std::map<THive, THiveData> fHives;
};

// The process-wide store. Unless replaced, a TFileRegistry over the default hive files
// (created on first use). SetRegistry(nullptr) restores the default; the caller keeps
// ownership of what it sets and must reset it before destroying it.
IRegistry& Registry();
void SetRegistry(IRegistry* aRegistry);

// Typed reads over any store. Nothing when missing; ERegistryException when the value
// has another type, with a message naming the value and both types.
std::optional<std::string> ReadString(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                      std::string_view aName);
std::optional<std::uint32_t> ReadDWord(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                       std::string_view aName);
std::optional<TRegBinary> ReadBinary(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                     std::string_view aName);

}  // namespace Platform::Registry
