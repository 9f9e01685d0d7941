#pragma once

// quorvane-feed: the sub-command table and the argument helpers shared by the commands.
//
// A sub-command lives in its own source file in this folder and registers itself with
// one line at namespace scope:
//
//   static const Feed::TRegisterCommand kRegister{{"name", "one-line summary", kUsage, &RunName}};
//
// Every *.cpp of this folder is linked into the program (no CMake edit needed). Run gets
// the arguments after the sub-command's name and returns the exit code (ExitOk,
// ExitFailed, ExitUsage); "--help" is answered by main with the usage text before Run is
// called. Commands write results to standard output and problems to standard error.

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Feed {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

struct TCommand {
  std::string Name;
  std::string Summary;
  // Full help: the synopsis line(s) and a description of every argument and option.
  std::string Usage;
  std::function<int(const std::vector<std::string>& aArgs)> Run;
};

// Registered commands, ordered by name.
const std::map<std::string, TCommand>& Commands();

struct TRegisterCommand {
  explicit TRegisterCommand(TCommand aCommand);
};

// A wrong command line; main prints the message and the command's usage, exit ExitUsage.
struct EUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Positional arguments and options ("--name value" or "--name=value"; flags without a
// value). Unknown options, a missing value or a wrong number of positional arguments
// throw EUsageError.
struct TArgs {
  std::vector<std::string> Positional;
  std::multimap<std::string, std::string> Options;

  bool Has(const std::string& aOption) const { return Options.count(aOption) != 0; }
  // The last value given, or aDefault.
  std::string Value(const std::string& aOption, const std::string& aDefault = {}) const;
  std::vector<std::string> Values(const std::string& aOption) const;
};

TArgs ParseArgs(const std::vector<std::string>& aArgs, const std::set<std::string>& aValueOptions,
                const std::set<std::string>& aFlags, std::size_t aMinPositional, std::size_t aMaxPositional);

// A whole decimal number in [aMin, aMax], or EUsageError naming aWhat.
long long ParseNumber(const std::string& aText, long long aMin, long long aMax, const std::string& aWhat);

}  // namespace Feed
