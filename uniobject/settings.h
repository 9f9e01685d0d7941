#pragma once

// Library-wide settings of the universal-object code, its exceptions and its message
// hook. The settings are set once when a host loads the library; they are plain globals
// without a lock, so change them only while no other thread uses the model.
//
// Errors follow one of two modes: in message mode (the default here) the German text is
// handed to the message hook (default: written to standard error) and the failing call
// reports failure through its result; in raise mode the matching EUniList... exception
// is thrown instead.

#include <functional>
#include <stdexcept>
#include <string>

#include "uniobject/types.h"

namespace UniObject {

class EUniListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EUniListIndexError : public EUniListError {
 public:
  using EUniListError::EUniListError;
};
class EUniListReadError : public EUniListError {
 public:
  using EUniListError::EUniListError;
};
class EUniListVersionError : public EUniListError {
 public:
  using EUniListError::EUniListError;
};
class EUniListWriteError : public EUniListError {
 public:
  using EUniListError::EUniListError;
};

enum TUniListErrorMode : std::uint8_t { emRaise, emMessage };
enum TMsgDlgType : std::uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TPackerMode : std::uint8_t { pmLZRW1KH, pmLZHUF };

// Buttons of a message: this code only ever shows OK.
inline constexpr int kMsgButtonOk = 4;

// Receives every message instead of the message box: text, dialog type, buttons, help
// context. Called on the thread that met the error.
using TUniListMessageHook =
    std::function<void(const std::string& aText, TMsgDlgType aDlgType, int aButtons, int aHelpContext)>;

struct TUniListSettings {
  TUniListErrorMode LoadSaveErrorMode = emMessage;
  TUniListErrorMode IndexErrorMode = emMessage;
  TUniListErrorMode RangeWarningMode = emMessage;
  TPackerMode PackerMode = pmLZRW1KH;
  TAccessKind MaxAccessKind = akAll;
  TUniListMessageHook MessageHook;  // empty: the text goes to standard error
};

TUniListSettings& UniListSettings();

// Shows a message: through the hook when one is set, else on standard error.
void UniListMessage(const std::string& aText, TMsgDlgType aDlgType = mtError);

// Index errors: "Der angegebene Index liegt außerhalb der Grenzwerte. ..." In message
// mode the text is shown and the function returns; in raise mode EUniListIndexError.
void UniListIndexError(int aIndex, int aMaxIndex);

// Load errors (message or EUniListReadError), save errors (message or
// EUniListWriteError) and general errors of the model (message or EUniListError).
void UniListReadError(const std::string& aText);
void UniListWriteError(const std::string& aText);
void UniListGeneralError(const std::string& aText);

// The text of an index error.
std::string IndexErrorText(int aIndex, int aMaxIndex);

// printf-style formatting for the German message templates.
std::string Format(const char* aFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace UniObject
