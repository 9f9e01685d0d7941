#include "platform/registry/registry.h"

#include <algorithm>
#include <atomic>

#include "platform/registry/registry_file.h"
#include "platform/text/text.h"

namespace Platform::Registry {

namespace {

bool SameName(std::string_view aLeft, std::string_view aRight) {
  return Text::SameTextNoCase(aLeft, aRight);
}

// True when aKey is aParent or lies below it (both normalised).
bool IsAtOrBelow(std::string_view aKey, std::string_view aParent) {
  if (aParent.empty()) {
    return true;
  }
  if (aKey.size() < aParent.size() || !SameName(aKey.substr(0, aParent.size()), aParent)) {
    return false;
  }
  return aKey.size() == aParent.size() || aKey[aParent.size()] == '\\';
}

std::atomic<IRegistry*> gRegistry{nullptr};

template <typename T>
std::optional<T> ReadTyped(const IRegistry& aRegistry, THive aHive, std::string_view aKey, std::string_view aName,
                           TRegDataType aExpected) {
  std::optional<TRegValue> value = aRegistry.ReadValue(aHive, aKey, aName);
  if (!value) {
    return std::nullopt;
  }
  if (const T* typed = std::get_if<T>(&*value)) {
    return *typed;
  }
  throw ERegistryException("Invalid data type for '" + std::string(aName) + "': stored as " +
                           std::string(DataTypeName(DataTypeOf(*value))) + ", read as " +
                           std::string(DataTypeName(aExpected)));
}

}  // namespace

TRegDataType DataTypeOf(const TRegValue& aValue) {
  switch (aValue.index()) {
    case 0:
      return TRegDataType::REG_SZ;
    case 1:
      return TRegDataType::REG_DWORD;
    default:
      return TRegDataType::REG_BINARY;
  }
}

std::string_view DataTypeName(TRegDataType aType) {
  switch (aType) {
    case TRegDataType::REG_SZ:
      return "REG_SZ";
    case TRegDataType::REG_DWORD:
      return "REG_DWORD";
    case TRegDataType::REG_BINARY:
      return "REG_BINARY";
  }
  return "?";
}

std::string_view HiveName(THive aHive) {
  return aHive == THive::HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string NormaliseKey(std::string_view aKey) {
  std::string result;
  for (char c : aKey) {
    if (c == '\\' && (result.empty() || result.back() == '\\')) {
      continue;
    }
    result.push_back(c);
  }
  if (!result.empty() && result.back() == '\\') {
    result.pop_back();
  }
  return result;
}

// --- THiveData ---

THiveData::TKeyEntry* THiveData::FindKey(std::string_view aNormalisedKey) {
  auto it = std::find_if(fKeys.begin(), fKeys.end(),
                         [&](const TKeyEntry& aEntry) { return SameName(aEntry.Name, aNormalisedKey); });
  return it == fKeys.end() ? nullptr : &*it;
}

const THiveData::TKeyEntry* THiveData::FindKey(std::string_view aNormalisedKey) const {
  return const_cast<THiveData*>(this)->FindKey(aNormalisedKey);
}

bool THiveData::KeyExists(std::string_view aKey) const {
  std::string key = NormaliseKey(aKey);
  if (key.empty()) {
    return true;
  }
  return std::any_of(fKeys.begin(), fKeys.end(),
                     [&](const TKeyEntry& aEntry) { return IsAtOrBelow(aEntry.Name, key); });
}

const TRegValue* THiveData::FindValue(std::string_view aKey, std::string_view aName) const {
  const TKeyEntry* key = FindKey(NormaliseKey(aKey));
  if (!key) {
    return nullptr;
  }
  for (const TValueEntry& value : key->Values) {
    if (SameName(value.Name, aName)) {
      return &value.Value;
    }
  }
  return nullptr;
}

void THiveData::CreateKey(std::string_view aKey) {
  std::string key = NormaliseKey(aKey);
  if (!FindKey(key)) {
    fKeys.push_back(TKeyEntry{key, {}});
  }
}

void THiveData::SetValue(std::string_view aKey, std::string_view aName, TRegValue aValue) {
  std::string key = NormaliseKey(aKey);
  TKeyEntry* entry = FindKey(key);
  if (!entry) {
    fKeys.push_back(TKeyEntry{key, {}});
    entry = &fKeys.back();
  }
  for (TValueEntry& value : entry->Values) {
    if (SameName(value.Name, aName)) {
      value.Value = std::move(aValue);
      return;
    }
  }
  entry->Values.push_back(TValueEntry{std::string(aName), std::move(aValue)});
}

bool THiveData::DeleteValue(std::string_view aKey, std::string_view aName) {
  TKeyEntry* entry = FindKey(NormaliseKey(aKey));
  if (!entry) {
    return false;
  }
  auto it = std::find_if(entry->Values.begin(), entry->Values.end(),
                         [&](const TValueEntry& aValue) { return SameName(aValue.Name, aName); });
  if (it == entry->Values.end()) {
    return false;
  }
  entry->Values.erase(it);
  return true;
}

bool THiveData::DeleteKey(std::string_view aKey) {
  std::string key = NormaliseKey(aKey);
  if (key.empty()) {
    bool had = !fKeys.empty();
    fKeys.clear();
    return had;
  }
  auto removed = std::erase_if(fKeys, [&](const TKeyEntry& aEntry) { return IsAtOrBelow(aEntry.Name, key); });
  return removed > 0;
}

// --- TMemoryRegistry ---

bool TMemoryRegistry::KeyExists(THive aHive, std::string_view aKey) const {
  std::lock_guard guard(fLock);
  auto it = fHives.find(aHive);
  return NormaliseKey(aKey).empty() || (it != fHives.end() && it->second.KeyExists(aKey));
}

std::optional<TRegValue> TMemoryRegistry::ReadValue(THive aHive, std::string_view aKey, std::string_view aName) const {
  std::lock_guard guard(fLock);
  auto it = fHives.find(aHive);
  if (it == fHives.end()) {
    return std::nullopt;
  }
  const TRegValue* value = it->second.FindValue(aKey, aName);
  return value ? std::optional<TRegValue>(*value) : std::nullopt;
}

void TMemoryRegistry::WriteValue(THive aHive, std::string_view aKey, std::string_view aName, const TRegValue& aValue) {
  std::lock_guard guard(fLock);
  fHives[aHive].SetValue(aKey, aName, aValue);
}

void TMemoryRegistry::CreateKey(THive aHive, std::string_view aKey) {
  std::lock_guard guard(fLock);
  fHives[aHive].CreateKey(aKey);
}

bool TMemoryRegistry::DeleteValue(THive aHive, std::string_view aKey, std::string_view aName) {
  std::lock_guard guard(fLock);
  return fHives[aHive].DeleteValue(aKey, aName);
}

bool TMemoryRegistry::DeleteKey(THive aHive, std::string_view aKey) {
  std::lock_guard guard(fLock);
  return fHives[aHive].DeleteKey(aKey);
}

// --- selection and typed reads ---

IRegistry& Registry() {
  if (IRegistry* current = gRegistry.load()) {
    return *current;
  }
  static TFileRegistry defaultRegistry;
  return defaultRegistry;
}

void SetRegistry(IRegistry* aRegistry) {
  gRegistry.store(aRegistry);
}

std::optional<std::string> ReadString(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                      std::string_view aName) {
  return ReadTyped<std::string>(aRegistry, aHive, aKey, aName, TRegDataType::REG_SZ);
}

std::optional<std::uint32_t> ReadDWord(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                       std::string_view aName) {
  return ReadTyped<std::uint32_t>(aRegistry, aHive, aKey, aName, TRegDataType::REG_DWORD);
}

std::optional<TRegBinary> ReadBinary(const IRegistry& aRegistry, THive aHive, std::string_view aKey,
                                     std::string_view aName) {
  return ReadTyped<TRegBinary>(aRegistry, aHive, aKey, aName, TRegDataType::REG_BINARY);
}

}  // namespace Platform::Registry
