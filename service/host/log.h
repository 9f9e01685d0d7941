#pragma once

// Update.Service.Log: the service's plain-text trace.
//
// Two files in the log folder: the service log "update.service.log", into which every
// part of the service writes through Log and LogException, and the file log "update.log",
// which only the file-list report writes through AppendFilesLog. Lines end with CR LF.
// The files are UTF-8 (the texts inside the service are UTF-8).
//
// Line conventions: a time-stamped "+Class.Method" on entry to an operation and
// "-Class.Method" on exit, detail lines beginning with a tab, exception blocks written by
// LogException (a "--" line, then the text, usually ExceptionText(e) behind a prefix).
//
// Contract:
//   - InitLog is called once at service start, before any other operation here; until
//     then (or after a failed InitLog) lines are dropped.
//   - Log and LogException may be called from any thread; one lock keeps every line whole
//     and the lines in call order. AppendFilesLog takes no lock (it is called only by the
//     thread that completes update-manager operations).
//   - Nothing here throws or reports a failure: a log folder or file that cannot be
//     created or written never disturbs the caller.

#include <exception>
#include <ostream>
#include <string>

namespace Platform {
class IClock;
}

namespace Update::Service {

inline constexpr const char* FileName_ServiceLog = "update.service.log";
inline constexpr const char* FileName_FilesLog = "update.log";
// A log larger than this at start-up is deleted (a file of exactly this size stays).
inline constexpr unsigned long long MaxLogSizeAtStart = 10485760;

// Computes both log paths below aLogDir (the configuration's UpdateLogDir), creates the
// folder when missing and deletes each of the two logs that exceeds MaxLogSizeAtStart.
void InitLog(const std::string& aLogDir);

// Appends aText and CR LF to the service log. With aWithTimestamp the line starts with
// "yyyy-mm-dd hh:nn:ss:\t(<kernel thread id>)\t" (the time omitted at exactly midnight).
void Log(const std::string& aText, bool aWithTimestamp = true);

// Appends "--" CR LF, aText and CR LF to the service log.
void LogException(const std::string& aText);

// Appends aText and CR LF to the file log.
void AppendFilesLog(const std::string& aText);

// "<class name>: <message>" of an exception, the class name demangled
// ("std::runtime_error: disk full"), as exception blocks in the log carry it.
std::string ExceptionText(const std::exception& aError);

// The paths computed by InitLog (empty before).
std::string ServiceLogPath();
std::string FilesLogPath();

// Every line written to the service log is also written to aStream (with LF line ends),
// for command-line tools that use the service's units without a log folder. nullptr
// stops it. Not owned; must outlive its use.
void SetLogEcho(std::ostream* aStream);

// Test hook: the clock of the time stamps (nullptr: the system clock). Not owned; must
// outlive its use.
void SetLogClock(const Platform::IClock* aClock);

}  // namespace Update::Service
