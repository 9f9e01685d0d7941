#pragma once

// The enumerations of the universal object model. Their numeric values are stored in
// streams as one byte each: members only ever grow at the end.

#include <cstdint>

namespace UniObject {

enum TPropertyKind : std::uint8_t {
  pkText,
  pkChar5,
  pkChar10,
  pkChar20,
  pkChar35,
  pkChar50,
  pkChar75,
  pkChar100,
  pkDate,
  pkTime,
  pkByte,
  pkSmallInt,
  pkLongInt,
  pkSingle,
  pkDouble,
  pkMoney,
  pkBoolean,
  pkLink,
  pkImage,
  pkTable,
  pkChoose,
  pkStream,
  pkError,
  pkGraphicLink,
  pkIVESUser,
  pkMultiBit,
  pkTableFormel,
  pkDateTime,
  pkCondition,
  pkCardinal,
  pkMultilist,
  pkWideString
};
inline constexpr int kPropertyKindCount = 32;

enum TServerInfo : std::uint8_t {
  siNone,
  siOverWriteNewerVersion,
  siPrivateNew,
  siPrivateDeleted,
  siDeletedSuccess,
  siPrivateChanged,
  siNameAlreadyExists,
  siFalseSaveOrder,
  siNewerObjectExists,
  siObjectNotExists,
  siAccessDenied,
  siError,
  siWarning,
  siInfo,
  siLocalReplace,
  siInvalidPassword,
  siIDError,
  siValueNotExist,
  siInhaltError,
  siInvalidIdentity,
  siListLockError,
  siLocalAlreadyExisting
};

enum TAccessKind : std::uint8_t {
  akNavigate,
  akRead,
  akWrite,
  akCreate,
  akPositionChange,
  akDelete,
  akEditAccess,
  akExecute,
  akAll
};

enum TUniListStatus : std::uint8_t { lsReady, lsSaving, lsLoading, lsUpdating, lsDestroying, lsCreating };

enum TOrderKind : std::uint8_t { orNormal, orDeletedLast };

enum TPropertySource : std::uint8_t { psProperty, psShortProperty, psRef, psTableProperty, psTableShortProperty };

// The cleared time stamp of lists, objects and properties: 2000-01-01 00:00.
inline constexpr double kDefaultLastUpdate = 36526.0;

}  // namespace UniObject
