#include "common/registry_helpers.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace Update::Common {

namespace Reg = Platform::Registry;

namespace {

// Reads through aReader; a store that cannot be opened counts as "not found".
template <typename T, typename F>
bool ReadWith(F&& aReader, T& aValue) {
  try {
    auto value = aReader(Reg::Registry());
    if (!value) {
      return false;
    }
    aValue = static_cast<T>(*value);
    return true;
  } catch (const Reg::ERegistryAccessError&) {
    return false;
  }
}

bool WriteValue(THive aRootKey, std::string_view aKey, std::string_view aName, const Reg::TRegValue& aValue) {
  try {
    Reg::Registry().WriteValue(aRootKey, aKey, aName, aValue);
    return true;
  } catch (const Reg::ERegistryAccessError&) {
    return false;
  }
}

}  // namespace

bool ReadRegBool(THive aRootKey, std::string_view aKey, std::string_view aName, bool& aValue) {
  std::uint32_t raw = 0;
  if (!ReadWith([&](const Reg::IRegistry& aReg) { return Reg::ReadDWord(aReg, aRootKey, aKey, aName); }, raw)) {
    return false;
  }
  aValue = raw != 0;
  return true;
}

bool ReadRegInteger(THive aRootKey, std::string_view aKey, std::string_view aName, int& aValue) {
  std::uint32_t raw = 0;
  if (!ReadWith([&](const Reg::IRegistry& aReg) { return Reg::ReadDWord(aReg, aRootKey, aKey, aName); }, raw)) {
    return false;
  }
  aValue = static_cast<int>(static_cast<std::int32_t>(raw));
  return true;
}

bool ReadRegString(THive aRootKey, std::string_view aKey, std::string_view aName, std::string& aValue) {
  return ReadWith([&](const Reg::IRegistry& aReg) { return Reg::ReadString(aReg, aRootKey, aKey, aName); }, aValue);
}

bool ReadRegDateTime(THive aRootKey, std::string_view aKey, std::string_view aName, Platform::TDateTime& aValue) {
  Reg::TRegBinary bytes;
  if (!ReadWith([&](const Reg::IRegistry& aReg) { return Reg::ReadBinary(aReg, aRootKey, aKey, aName); }, bytes)) {
    return false;
  }
  if (bytes.size() != sizeof(double)) {
    throw Reg::ERegistryException("Invalid data size for '" + std::string(aName) +
                                  "': " + std::to_string(bytes.size()) + " bytes, a date-time needs 8");
  }
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) {
    bits = (bits << 8) | bytes[static_cast<std::size_t>(i)];
  }
  aValue = Platform::TDateTime(std::bit_cast<double>(bits));
  return true;
}

bool WriteRegBool(THive aRootKey, std::string_view aKey, std::string_view aName, bool aValue) {
  return WriteValue(aRootKey, aKey, aName, std::uint32_t{aValue ? 1u : 0u});
}

bool WriteRegInteger(THive aRootKey, std::string_view aKey, std::string_view aName, int aValue) {
  return WriteValue(aRootKey, aKey, aName, static_cast<std::uint32_t>(aValue));
}

bool WriteRegString(THive aRootKey, std::string_view aKey, std::string_view aName, std::string_view aValue) {
  return WriteValue(aRootKey, aKey, aName, std::string(aValue));
}

bool WriteRegDateTime(THive aRootKey, std::string_view aKey, std::string_view aName, Platform::TDateTime aValue) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(aValue.Value());
  Reg::TRegBinary bytes(8);
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  return WriteValue(aRootKey, aKey, aName, bytes);
}

int ReadRegIntegerDef(THive aRootKey, std::string_view aKey, std::string_view aName, int aDefault) {
  int value = aDefault;
  return ReadRegInteger(aRootKey, aKey, aName, value) ? value : aDefault;
}

}  // namespace Update::Common
