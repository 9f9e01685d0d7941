#include "uniobject/settings.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace UniObject {

TUniListSettings& UniListSettings() {
  static TUniListSettings settings;
  return settings;
}

void UniListMessage(const std::string& aText, TMsgDlgType aDlgType) {
  const auto& hook = UniListSettings().MessageHook;
  if (hook) {
    hook(aText, aDlgType, kMsgButtonOk, 0);
    return;
  }
  std::fprintf(stderr, "%s\n", aText.c_str());
}

std::string IndexErrorText(int aIndex, int aMaxIndex) {
  return Format("Der angegebene Index liegt außerhalb der Grenzwerte.  -  Index: %d, Maximal möglicher Wert: %d",
                aIndex, aMaxIndex);
}

void UniListIndexError(int aIndex, int aMaxIndex) {
  const std::string text = IndexErrorText(aIndex, aMaxIndex);
  if (UniListSettings().IndexErrorMode == emRaise)
    throw EUniListIndexError(text);
  UniListMessage(text, mtError);
}

void UniListReadError(const std::string& aText) {
  if (UniListSettings().LoadSaveErrorMode == emRaise)
    throw EUniListReadError(aText);
  UniListMessage(aText, mtError);
}

void UniListWriteError(const std::string& aText) {
  if (UniListSettings().LoadSaveErrorMode == emRaise)
    throw EUniListWriteError(aText);
  UniListMessage(aText, mtError);
}

void UniListGeneralError(const std::string& aText) {
  if (UniListSettings().LoadSaveErrorMode == emRaise)
    throw EUniListError(aText);
  UniListMessage(aText, mtError);
}

std::string Format(const char* aFormat, ...) {
  va_list args;
  va_start(args, aFormat);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, aFormat, copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), aFormat, args);
    result.assign(buffer.data(), static_cast<std::size_t>(needed));
  }
  va_end(args);
  return result;
}

}  // namespace UniObject
