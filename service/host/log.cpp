#include "service/host/log.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <typeinfo>

#include "platform/datetime/datetime.h"

namespace Update::Service {

namespace {

namespace fs = std::filesystem;

struct TLogState {
  std::mutex Lock;  // the log lock: serialises writers of the service log
  std::string ServiceLog;
  std::string FilesLog;
  std::atomic<const Platform::IClock*> Clock{nullptr};
  std::ostream* Echo = nullptr;  // guarded by Lock
};

TLogState& State() {
  static TLogState state;
  return state;
}

// One write(2) per line on an O_APPEND descriptor, so a line is never split even if
// another process appends to the same file.
void AppendToFile(const std::string& aPath, const std::string& aData) {
  if (aPath.empty())
    return;
  const int fd = ::open(aPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return;
  std::size_t done = 0;
  while (done < aData.size()) {
    const ssize_t written = ::write(fd, aData.data() + done, aData.size() - done);
    if (written <= 0)
      break;
    done += static_cast<std::size_t>(written);
  }
  ::close(fd);
}

void DeleteWhenOversized(const std::string& aPath) {
  std::error_code error;
  const auto size = fs::file_size(aPath, error);
  if (!error && size > MaxLogSizeAtStart)
    fs::remove(aPath, error);
}

std::string TimestampPrefix() {
  const Platform::IClock* clock = State().Clock.load();
  const Platform::TDateTime now = clock != nullptr ? clock->Now() : Platform::SystemClock().Now();
  const std::string stamp = now.FormatDateTimeShort();
  if (stamp.empty())
    throw std::runtime_error("the current time cannot be formatted");
  return stamp + ":\t(" + std::to_string(::gettid()) + ")\t";
}

// Appends lines that end with CR LF to the service log and to its echo; the caller holds
// the log lock.
void AppendServiceLogLocked(const std::string& aLines) {
  TLogState& state = State();
  AppendToFile(state.ServiceLog, aLines);
  if (state.Echo != nullptr) {
    std::string text = aLines;
    std::erase(text, '\r');
    *state.Echo << text << std::flush;
  }
}

void LogExceptionLocked(const std::string& aText) {
  AppendServiceLogLocked("--\r\n" + aText + "\r\n");
}

}  // namespace

void InitLog(const std::string& aLogDir) {
  TLogState& state = State();
  const std::lock_guard guard(state.Lock);
  try {
    state.ServiceLog.clear();
    state.FilesLog.clear();
    // No folder configured: drop the lines rather than write into the working folder.
    if (aLogDir.empty())
      return;
    const fs::path dir(aLogDir);
    state.ServiceLog = (dir / FileName_ServiceLog).string();
    state.FilesLog = (dir / FileName_FilesLog).string();
    std::error_code error;
    fs::create_directories(dir, error);
    DeleteWhenOversized(state.ServiceLog);
    DeleteWhenOversized(state.FilesLog);
  } catch (...) {
    // Logging must never disturb the caller; without paths the lines are dropped.
    state.ServiceLog.clear();
    state.FilesLog.clear();
  }
}

void Log(const std::string& aText, bool aWithTimestamp) {
  TLogState& state = State();
  const std::lock_guard guard(state.Lock);
  try {
    std::string line;
    if (aWithTimestamp) {
      try {
        line = TimestampPrefix();
      } catch (const std::exception& error) {
        LogExceptionLocked("Log: Error " + ExceptionText(error));
      }
    }
    line += aText;
    line += "\r\n";
    AppendServiceLogLocked(line);
  } catch (...) {
  }
}

void LogException(const std::string& aText) {
  const std::lock_guard guard(State().Lock);
  try {
    LogExceptionLocked(aText);
  } catch (...) {
  }
}

void AppendFilesLog(const std::string& aText) {
  try {
    AppendToFile(State().FilesLog, aText + "\r\n");
  } catch (...) {
  }
}

std::string ExceptionText(const std::exception& aError) {
  const char* mangled = typeid(aError).name();
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                              &std::free);
  const std::string className = status == 0 && demangled ? demangled.get() : mangled;
  return className + ": " + aError.what();
}

std::string ServiceLogPath() {
  const std::lock_guard guard(State().Lock);
  return State().ServiceLog;
}

std::string FilesLogPath() {
  const std::lock_guard guard(State().Lock);
  return State().FilesLog;
}

void SetLogEcho(std::ostream* aStream) {
  const std::lock_guard guard(State().Lock);
  State().Echo = aStream;
}

void SetLogClock(const Platform::IClock* aClock) {
  State().Clock.store(aClock);
}

}  // namespace Update::Service
