#pragma once

// One registry value read or written per call, over the process-wide store
// (Platform::Registry::Registry()).
//
// Reads: true and the out parameter set when the key and the value exist; false and the
// out parameter unchanged when either is missing or the store cannot be read. A value
// of the wrong type (or a date-time that is not 8 bytes) and a damaged store raise
// Platform::Registry::ERegistryException.
// Writes: create the key when missing; false when the store cannot be written; a
// damaged store raises.
//
// Storage: Boolean as REG_DWORD 0/1 (any non-zero reads as true), Integer as REG_DWORD
// (the 32 bits reinterpreted as signed), string as REG_SZ, date-time as REG_BINARY
// holding the 8 bytes of its IEEE double, little-endian.

#include <string>
#include <string_view>

#include "platform/datetime/datetime.h"
#include "platform/registry/registry.h"

namespace Update::Common {

using Platform::Registry::THive;

bool ReadRegBool(THive aRootKey, std::string_view aKey, std::string_view aName, bool& aValue);
bool ReadRegInteger(THive aRootKey, std::string_view aKey, std::string_view aName, int& aValue);
bool ReadRegString(THive aRootKey, std::string_view aKey, std::string_view aName, std::string& aValue);
bool ReadRegDateTime(THive aRootKey, std::string_view aKey, std::string_view aName, Platform::TDateTime& aValue);

bool WriteRegBool(THive aRootKey, std::string_view aKey, std::string_view aName, bool aValue);
bool WriteRegInteger(THive aRootKey, std::string_view aKey, std::string_view aName, int aValue);
bool WriteRegString(THive aRootKey, std::string_view aKey, std::string_view aName, std::string_view aValue);
bool WriteRegDateTime(THive aRootKey, std::string_view aKey, std::string_view aName, Platform::TDateTime aValue);

// ReadRegInteger with a default instead of a failure report.
int ReadRegIntegerDef(THive aRootKey, std::string_view aKey, std::string_view aName, int aDefault);

}  // namespace Update::Common
