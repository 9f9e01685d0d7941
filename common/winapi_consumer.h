#pragma once

// TWinAPIConsumer: base of the classes that call the operating system and record its
// errors on themselves. Right after a failed system call a subclass calls
// HandleLastError or HandleLastErrorEx, which take the calling thread's errno, its
// message text and build the full error text:
//   HandleLastError:   "%sError: %d, %s"         (message, code, text)
//   HandleLastErrorEx: "%s%s.%s(): %s (%d, %s)"  (message, class name, method,
//                                                  function, code, text)
// A non-empty message is trimmed and followed by CR LF. When RaiseExceptions is true
// (the default) the handlers then raise EWinAPIException with the full text.
//
// Threads: an object belongs to one thread (errno is per thread).

#include <stdexcept>
#include <string>
#include <string_view>

namespace Update::Common {

class EWinAPIException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's message text for an errno value, without trailing blanks, line breaks
// and full stops.
std::string SystemErrorMessage(int aError);

class TWinAPIConsumer {
 public:
  TWinAPIConsumer() = default;
  virtual ~TWinAPIConsumer() = default;

  // The class name used in HandleLastErrorEx texts: the dynamic type's name without
  // namespaces (for example "TMailslotServer"). Subclasses rarely need to override it.
  virtual std::string ClassName() const;

 protected:
  virtual void HandleLastError(std::string_view aMessage);
  virtual void HandleLastErrorEx(std::string_view aMethod, std::string_view aFunction, std::string_view aMessage = {});
  [[noreturn]] virtual void RaiseLastError(const std::string& aMessage);

  // The same with an explicit error code, for callers whose errno was overwritten in
  // between (for example by clean-up calls).
  void HandleError(int aError, std::string_view aMessage);
  void HandleErrorEx(int aError, std::string_view aMethod, std::string_view aFunction, std::string_view aMessage = {});

  int fLastError = 0;
  std::string fLastErrorMessage;
  std::string fLastErrorMessageFull;
  bool fRaiseExceptions = true;
};

// Publishes the recorded error and the raise switch.
class TWinAPIConsumerPublic : public TWinAPIConsumer {
 public:
  int LastError() const { return fLastError; }
  const std::string& LastErrorMessage() const { return fLastErrorMessage; }
  const std::string& LastErrorMessageFull() const { return fLastErrorMessageFull; }
  bool RaiseExceptions() const { return fRaiseExceptions; }
  void SetRaiseExceptions(bool aValue) { fRaiseExceptions = aValue; }
};

}  // namespace Update::Common
