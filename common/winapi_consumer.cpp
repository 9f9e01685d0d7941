#include "common/winapi_consumer.h"

#include "common/utils.h"

#include <cxxabi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

namespace Update::Common {

namespace {

std::string Prefix(std::string_view aMessage) {
  std::string prefix = TUpdateUtils::Trim(aMessage);
  if (!prefix.empty()) {
    prefix += "\r\n";
  }
  return prefix;
}

}  // namespace

std::string SystemErrorMessage(int aError) {
  char buffer[512];
  std::string text = strerror_r(aError, buffer, sizeof buffer);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

std::string TWinAPIConsumer::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  std::size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

void TWinAPIConsumer::HandleLastError(std::string_view aMessage) {
  HandleError(errno, aMessage);
}

void TWinAPIConsumer::HandleLastErrorEx(std::string_view aMethod, std::string_view aFunction,
                                        std::string_view aMessage) {
  HandleErrorEx(errno, aMethod, aFunction, aMessage);
}

void TWinAPIConsumer::RaiseLastError(const std::string& aMessage) {
  throw EWinAPIException(aMessage);
}

void TWinAPIConsumer::HandleError(int aError, std::string_view aMessage) {
  fLastError = aError;
  fLastErrorMessage = SystemErrorMessage(aError);
  fLastErrorMessageFull = Prefix(aMessage) + "Error: " + std::to_string(aError) + ", " + fLastErrorMessage;
  if (fRaiseExceptions) {
    RaiseLastError(fLastErrorMessageFull);
  }
}

void TWinAPIConsumer::HandleErrorEx(int aError, std::string_view aMethod, std::string_view aFunction,
                                    std::string_view aMessage) {
  fLastError = aError;
  fLastErrorMessage = SystemErrorMessage(aError);
  fLastErrorMessageFull = Prefix(aMessage) + ClassName() + "." + std::string(aMethod) +
                          "(): " + std::string(aFunction) + " (" + std::to_string(aError) + ", " + fLastErrorMessage +
                          ")";
  if (fRaiseExceptions) {
    RaiseLastError(fLastErrorMessageFull);
  }
}

}  // namespace Update::Common
