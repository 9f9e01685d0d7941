#pragma once

// Processes: a snapshot of the running processes through /proc, and starting a program
// detached (the stand-in for the shell's "open" of a program).
//
// Thread-safe: no shared state.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace Platform::Process {

struct TProcessEntry {
  pid_t Pid = 0;
  // File name of the executable (the last part of ExePath, or the kernel's short
  // command name when the executable link cannot be read).
  std::string ExeName;
  // Full path of the executable, empty when /proc/<pid>/exe cannot be read (processes of
  // other users without the right to inspect them). A program whose file has been
  // replaced or deleted while it runs still reports its original path.
  std::string ExePath;
};

// All processes visible in /proc at the moment of the call. Processes that end while
// the snapshot is taken are left out.
std::vector<TProcessEntry> Snapshot();

pid_t CurrentProcessId();
// True when a process with that id runs (also when it belongs to another user); a
// zombie that waits to be collected counts as ended.
bool IsProcessAlive(pid_t aPid);

// Starts aProgram with aArguments (no shell interpretation), detached: the new process
// gets its own session, its standard streams go to /dev/null and it is never waited for
// (it is reaped by init). Returns its pid, or nothing with aError set to the errno of
// the failure.
std::optional<pid_t> StartDetached(const std::string& aProgram, const std::vector<std::string>& aArguments,
                                   int* aError = nullptr);

}  // namespace Platform::Process
