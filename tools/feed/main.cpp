// quorvane-feed: produces, inspects and serves the update feed that the update service
// reads. See "quorvane-feed --help".

#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "service/host/log.h"
#include "tools/feed/feed_command.h"

namespace Feed {

namespace {

std::map<std::string, TCommand>& Registry() {
  static std::map<std::string, TCommand> commands;
  return commands;
}

void PrintOverview(std::ostream& aOut) {
  aOut << "Usage: quorvane-feed COMMAND [ARGUMENTS...]\n"
          "       quorvane-feed COMMAND --help\n\n"
          "Produces, inspects and serves the update feed of the update service.\n\n"
          "Commands:\n";
  for (const auto& [name, command] : Commands()) {
    aOut << "  " << name << std::string(name.size() < 10 ? 10 - name.size() : 1, ' ') << command.Summary << "\n";
  }
}

}  // namespace

const std::map<std::string, TCommand>& Commands() {
  return Registry();
}

TRegisterCommand::TRegisterCommand(TCommand aCommand) {
  const std::string name = aCommand.Name;
  Registry().emplace(name, std::move(aCommand));
}

std::string TArgs::Value(const std::string& aOption, const std::string& aDefault) const {
  const auto range = Options.equal_range(aOption);
  return range.first == range.second ? aDefault : std::prev(range.second)->second;
}

std::vector<std::string> TArgs::Values(const std::string& aOption) const {
  std::vector<std::string> values;
  for (auto [it, end] = Options.equal_range(aOption); it != end; ++it)
    values.push_back(it->second);
  return values;
}

TArgs ParseArgs(const std::vector<std::string>& aArgs, const std::set<std::string>& aValueOptions,
                const std::set<std::string>& aFlags, std::size_t aMinPositional, std::size_t aMaxPositional) {
  TArgs result;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < aArgs.size(); ++i) {
    const std::string& arg = aArgs[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      result.Positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (aFlags.count(name) != 0) {
      if (equals != std::string::npos)
        throw EUsageError("option " + name + " takes no value");
      result.Options.emplace(name, "");
    } else if (aValueOptions.count(name) != 0) {
      if (equals != std::string::npos) {
        result.Options.emplace(name, arg.substr(equals + 1));
      } else if (i + 1 < aArgs.size()) {
        result.Options.emplace(name, aArgs[++i]);
      } else {
        throw EUsageError("option " + name + " needs a value");
      }
    } else {
      throw EUsageError("unknown option " + name);
    }
  }
  if (result.Positional.size() < aMinPositional)
    throw EUsageError("missing arguments");
  if (result.Positional.size() > aMaxPositional)
    throw EUsageError("too many arguments");
  return result;
}

long long ParseNumber(const std::string& aText, long long aMin, long long aMax, const std::string& aWhat) {
  long long value = 0;
  const auto [end, error] = std::from_chars(aText.data(), aText.data() + aText.size(), value);
  if (aText.empty() || error != std::errc() || end != aText.data() + aText.size() || value < aMin || value > aMax)
    throw EUsageError(aWhat + " must be a number from " + std::to_string(aMin) + " to " + std::to_string(aMax) + ": " +
                      aText);
  return value;
}

}  // namespace Feed

int main(int argc, char** argv) {
  using namespace Feed;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintOverview(args.empty() ? std::cerr : std::cout);
    return args.empty() ? ExitUsage : ExitOk;
  }
  const auto found = Commands().find(args[0]);
  if (found == Commands().end()) {
    std::cerr << "quorvane-feed: unknown command \"" << args[0] << "\"\n\n";
    PrintOverview(std::cerr);
    return ExitUsage;
  }
  const TCommand& command = found->second;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--")
      break;
    if (arg == "--help" || arg == "-h") {
      std::cout << command.Usage;
      return ExitOk;
    }
  }
  // The packed-file and structure units report their mismatches in the service log;
  // here those lines go to standard error.
  Update::Service::SetLogEcho(&std::cerr);
  try {
    return command.Run(rest);
  } catch (const EUsageError& error) {
    std::cerr << "quorvane-feed " << command.Name << ": " << error.what() << "\n\n" << command.Usage;
    return ExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "quorvane-feed " << command.Name << ": " << error.what() << "\n";
    return ExitFailed;
  }
}
