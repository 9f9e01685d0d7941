#pragma once

// Machine-wide and per-user locations, all computed from one prefix.
//
// The prefix is the environment variable QUORVANE_ROOT (unset or empty: "/"). Every
// machine-wide folder lies below it, so tests and the demo run side by side without
// root and without touching the machine. Per-user folders follow XDG and are relocated
// below the prefix as well when it is set.
//
// Every folder returned here is an absolute "/" path ending with "/". The values are
// recomputed on every call (the environment is read each time), so a test may change
// QUORVANE_ROOT between calls; callers that need a stable set keep their own copy.
//
// Thread-safe as long as nobody modifies the environment concurrently.

#include <optional>
#include <string>
#include <string_view>

namespace Platform::Paths {

inline constexpr char kDelimiter = '/';

// The prefix, ending with "/" ("/" for a real installation).
std::string Root();
// aAbsolutePath placed below the prefix: Root() + aAbsolutePath without its leading "/".
std::string UnderRoot(std::string_view aAbsolutePath);

// The folders that stand in for the Windows shell folders.
std::string CommonFilesDir();   // <root>usr/share/
std::string ProgramFilesDir();  // <root>opt/
std::string ProgramDataDir();   // <root>var/lib/
std::string WindowsDir();       // <root>etc/
std::string SystemDir();        // <root>usr/lib/
std::string RunDir();           // <root>run/

// Per-user folders: $XDG_CONFIG_HOME (else $HOME/.config) and $XDG_RUNTIME_DIR (else
// /run/user/<uid>), each placed below the prefix when one is set.
std::string UserConfigDir();
std::string UserRuntimeDir();

// The running program's own file (the real path of /proc/self/exe) and its folder.
// Empty when the link cannot be read.
std::string ExecutablePath();
std::string ExecutableDir();

// The canonical form of an existing path (symbolic links, "." and ".." resolved), or
// nothing when the path does not exist or cannot be resolved.
std::optional<std::string> CanonicalPath(std::string_view aPath);

// Lexical helpers on "/" paths (no file-system access).
std::string IncludeTrailingDelimiter(std::string_view aPath);
std::string ExcludeTrailingDelimiter(std::string_view aPath);
// Text after the last "/" (the whole text when there is none).
std::string ExtractFileName(std::string_view aPath);
// Text up to and including the last "/" (empty when there is none).
std::string ExtractFilePath(std::string_view aPath);

// Creates the folder and all missing parents (mode 0755 before umask). True when the
// folder exists afterwards.
bool ForceDirectories(std::string_view aPath);

}  // namespace Platform::Paths
