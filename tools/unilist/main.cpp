// quorvane-unilist: inspects and writes universal-list streams for the host's developers
// and for tests.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/unilist/unilist_dump.h"
#include "tools/unilist/unilist_json.h"
#include "uniobject/settings.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  quorvane-unilist dump FILE [--password P]\n"
    "      the object tree as text: objects with names and IDs, properties with kinds, IDs, values\n"
    "  quorvane-unilist to-json FILE [--password P]\n"
    "      the whole list as JSON on standard output (see docs/uniobject-json.md)\n"
    "  quorvane-unilist from-json JSON OUT [--version 15|16|17] [--pack lzrw1kh|lzhuf|none] [--password P]\n"
    "      writes the list of a JSON file as a stream (default: version 17, packed with lzrw1kh)\n"
    "  quorvane-unilist --help\n"
    "Exit status: 0 success, 1 the stream or JSON is bad, 2 wrong arguments.\n";

struct TOptions {
  std::vector<std::string> Positional;
  std::string Password;
  int Version = 17;
  std::string Pack = "lzrw1kh";
};

int UsageError(const std::string& aText) {
  std::cerr << "quorvane-unilist: " << aText << "\n" << kUsage;
  return 2;
}

// Loads a stream file; messages of the model go to standard error. False when nothing
// usable was read.
bool LoadList(const std::string& aFileName, const std::string& aPassword, UniObject::TUniversalList& aList) {
  bool failed = false;
  UniObject::UniListSettings().MessageHook = [&failed](const std::string& aText, UniObject::TMsgDlgType aType, int,
                                                       int) {
    if (aType == UniObject::mtError)
      failed = true;
    std::cerr << aText << "\n";
  };
  const bool accepted = aList.LoadFrom_File(aFileName, aPassword);
  return accepted && !failed;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--password") {
      const char* text = value();
      if (!text)
        return UsageError("--password needs a value");
      options.Password = text;
    } else if (arg == "--version") {
      const char* text = value();
      if (!text || (std::string(text) != "15" && std::string(text) != "16" && std::string(text) != "17"))
        return UsageError("--version takes 15, 16 or 17");
      options.Version = std::stoi(text);
    } else if (arg == "--pack") {
      const char* text = value();
      if (!text || (std::string(text) != "lzrw1kh" && std::string(text) != "lzhuf" && std::string(text) != "none"))
        return UsageError("--pack takes lzrw1kh, lzhuf or none");
      options.Pack = text;
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError("unknown option " + arg);
    } else {
      options.Positional.push_back(arg);
    }
  }
  if (options.Positional.empty())
    return UsageError("a command is missing");
  const std::string command = options.Positional[0];
  try {
    if (command == "dump" || command == "to-json") {
      if (options.Positional.size() != 2)
        return UsageError(command + " takes one FILE");
      UniObject::TUniversalList list;
      if (!LoadList(options.Positional[1], options.Password, list))
        return 1;
      if (command == "dump")
        UniListTool::Dump(list, std::cout);
      else
        std::cout << UniListTool::ToJson(list).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  << "\n";
      return 0;
    }
    if (command == "from-json") {
      if (options.Positional.size() != 3)
        return UsageError("from-json takes JSON and OUT");
      std::ifstream in(options.Positional[1]);
      if (!in) {
        std::cerr << "quorvane-unilist: cannot open " << options.Positional[1] << "\n";
        return 1;
      }
      const auto json = nlohmann::ordered_json::parse(in);
      auto list = UniListTool::FromJson(json);
      UniObject::UniListSettings().PackerMode = options.Pack == "lzhuf" ? UniObject::pmLZHUF : UniObject::pmLZRW1KH;
      UniObject::UniListSettings().MessageHook = [](const std::string& aText, UniObject::TMsgDlgType, int, int) {
        std::cerr << aText << "\n";
      };
      if (!list->SaveTo_File(options.Positional[2], options.Pack != "none", options.Password, false, options.Version))
        return 1;
      return 0;
    }
    return UsageError("unknown command " + command);
  } catch (const std::exception& error) {
    std::cerr << "quorvane-unilist: " << error.what() << "\n";
    return 1;
  }
}
