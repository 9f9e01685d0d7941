// quorvane-feed build: produces an update feed from source trees.
//
// Layout of the feed folder (the URLs the service builds from it):
//   <out>/meta.json                                  the meta manifest, all channels
//   <out>/<subpath>/<module>.xml                     the module's structure file
//   <out>/<subpath>/<module>.zml                     the same, packed (what the service downloads)
//   <out>/<subpath>/<module>/<folders>/<file>.z      one package per file of the source tree
// <subpath> is the channel's sub-path (empty: the feed folder itself); the top-level item
// of every structure is named like the module, so its packages live in the folder of that
// name.
//
// A package whose header still matches its source (name, size, DOS time and checksum of
// the unpacked data) and whose length agrees with the header is kept, so that re-running
// on an unchanged tree only reads the sources.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/text/text.h"
#include "service/formats/crc.h"
#include "service/formats/dos_date.h"
#include "service/formats/packed_file.h"
#include "service/formats/structure.h"
#include "tools/feed/feed_command.h"

namespace Feed {

namespace {

namespace fs = std::filesystem;
using namespace Update::Service;

const char* const kBuildHelp =
    R"(Usage: quorvane-feed build --out DIR --name NAME
                          --channel NAME[:SUBPATH[:TYPE]] --version V [--eula N]
                          --module NAME=SRCDIR[@SPECIALDIR][,compare=MODE][,sync] ...
                          [--channel ... --version ... --module ...]... [--suffix EXT] [--quiet]

Packs every file of each module's source tree into a package, writes the module's
structure file (.xml) and its packed form (.zml), and writes DIR/meta.json with all
channels. --version, --eula and --module belong to the --channel before them.

  --out DIR        feed folder (created when missing)
  --name NAME      name of the meta manifest
  --channel SPEC   channel name, optional sub-path below DIR and type text
  --version V      version the channel delivers (1 to 4 numbers: 4.2 = 4.2.0.0)
  --eula N         licence text version the channel requires (default 0: none)
  --module SPEC    module name, its source folder, the install root token (default
                   [InstallDir]), the compare mode of its files (default, checksum,
                   version, proxy, date, never, always; default: default) and "sync"
                   (the installed folder is made identical to the tree)
  --suffix EXT     package name = file name + EXT (default .z)
  --quiet          no progress lines

A package whose source did not change (name, size, time, checksum) is kept.
Exit status: 0 done, 1 failed, 2 wrong arguments.
)";

struct TModuleSpec {
  std::string Name;
  fs::path Source;
  std::string SpecialDir = "[InstallDir]";
  TFileCompareMode Compare = fcmDefault;
  bool Sync = false;
};

struct TChannelSpec {
  std::string Name;
  std::string SubPath;
  std::string Type;
  std::string Version;
  std::int32_t Eula = 0;
  std::vector<TModuleSpec> Modules;
};

struct TBuildOptions {
  fs::path Out;
  std::string Name;
  std::string Suffix = ".z";
  bool Quiet = false;
  std::vector<TChannelSpec> Channels;
};

struct TBuildCounts {
  int Packed = 0;
  int Kept = 0;
};

std::vector<std::string> Split(const std::string& aText, char aDelimiter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const auto end = aText.find(aDelimiter, start);
    parts.push_back(aText.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) {
      return parts;
    }
    start = end + 1;
  }
}

// "4", "4.2", "4.2.0.117" -> "4.2.0.117" with all four parts.
std::string ParseVersion(const std::string& aText) {
  const std::vector<std::string> parts = Split(aText, '.');
  if (parts.size() > 4) {
    throw EUsageError("--version: '" + aText + "' has more than four parts");
  }
  std::string result;
  for (std::size_t i = 0; i < 4; ++i) {
    const long long part = i < parts.size() ? ParseNumber(parts[i], 0, INT32_MAX, "--version part") : 0;
    result += (i == 0 ? "" : ".") + std::to_string(part);
  }
  return result;
}

TFileCompareMode ParseCompareMode(const std::string& aText) {
  for (std::size_t i = 0; i < std::size(kFileCompareModeNames); ++i) {
    const std::string_view name = kFileCompareModeNames[i];
    if (Platform::Text::SameAsciiNoCase(name, aText) || Platform::Text::SameAsciiNoCase(name.substr(3), aText)) {
      return static_cast<TFileCompareMode>(i);
    }
  }
  throw EUsageError("compare=" + aText + ": unknown compare mode");
}

// A channel sub-path: relative folder names separated by "/".
void CheckSubPath(const std::string& aSubPath) {
  if (aSubPath.empty()) {
    return;
  }
  for (const std::string& part : Split(aSubPath, '/')) {
    if (!TStructItem::IsSafeName(part)) {
      throw EUsageError("channel sub-path '" + aSubPath + "': every part must be a plain folder name");
    }
  }
}

TChannelSpec ParseChannel(const std::string& aSpec) {
  const std::vector<std::string> parts = Split(aSpec, ':');
  if (parts.size() > 3 || parts[0].empty()) {
    throw EUsageError("--channel '" + aSpec + "': expected NAME[:SUBPATH[:TYPE]]");
  }
  TChannelSpec channel;
  channel.Name = parts[0];
  channel.SubPath = parts.size() > 1 ? parts[1] : "";
  channel.Type = parts.size() > 2 ? parts[2] : "";
  CheckSubPath(channel.SubPath);
  return channel;
}

TModuleSpec ParseModule(const std::string& aSpec) {
  const auto equals = aSpec.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw EUsageError("--module '" + aSpec + "': expected NAME=SRCDIR[@SPECIALDIR][,compare=MODE][,sync]");
  }
  TModuleSpec module;
  module.Name = aSpec.substr(0, equals);
  if (!TStructItem::IsSafeName(module.Name)) {
    throw EUsageError("--module '" + aSpec + "': the name must be a plain file name");
  }
  std::vector<std::string> options = Split(aSpec.substr(equals + 1), ',');
  std::string source = options[0];
  if (const auto at = source.rfind('@'); at != std::string::npos) {
    module.SpecialDir = source.substr(at + 1);
    source.resize(at);
  }
  if (source.empty() || module.SpecialDir.empty()) {
    throw EUsageError("--module '" + aSpec + "': empty source folder or install root");
  }
  module.Source = source;
  for (std::size_t i = 1; i < options.size(); ++i) {
    if (options[i] == "sync") {
      module.Sync = true;
    } else if (options[i].rfind("compare=", 0) == 0) {
      module.Compare = ParseCompareMode(options[i].substr(8));
    } else {
      throw EUsageError("--module '" + aSpec + "': unknown option '" + options[i] + "'");
    }
  }
  return module;
}

// The options may come in any order, except that --version, --eula and --module belong to
// the --channel before them (which is why the shared option parser does not serve here).
TBuildOptions ParseArguments(const std::vector<std::string>& aArgs) {
  TBuildOptions options;
  const auto value = [&](std::size_t& aIndex) -> const std::string& {
    if (aIndex + 1 >= aArgs.size()) {
      throw EUsageError(aArgs[aIndex] + " needs a value");
    }
    return aArgs[++aIndex];
  };
  const auto channel = [&](const std::string& aOption) -> TChannelSpec& {
    if (options.Channels.empty()) {
      throw EUsageError(aOption + " must follow a --channel");
    }
    return options.Channels.back();
  };
  for (std::size_t i = 0; i < aArgs.size(); ++i) {
    const std::string& arg = aArgs[i];
    if (arg == "--out") {
      options.Out = value(i);
    } else if (arg == "--name") {
      options.Name = value(i);
    } else if (arg == "--suffix") {
      options.Suffix = value(i);
    } else if (arg == "--quiet") {
      options.Quiet = true;
    } else if (arg == "--channel") {
      options.Channels.push_back(ParseChannel(value(i)));
    } else if (arg == "--version") {
      channel(arg).Version = ParseVersion(value(i));
    } else if (arg == "--eula") {
      channel(arg).Eula = static_cast<std::int32_t>(ParseNumber(value(i), 0, INT32_MAX, "--eula"));
    } else if (arg == "--module") {
      channel(arg).Modules.push_back(ParseModule(value(i)));
    } else {
      throw EUsageError("unknown argument '" + arg + "'");
    }
  }
  if (options.Out.empty() || options.Name.empty() || options.Channels.empty()) {
    throw EUsageError("--out, --name and at least one --channel are required");
  }
  if (options.Suffix.empty() || options.Suffix.find_first_of("/\\") != std::string::npos) {
    throw EUsageError("--suffix must be a non-empty file name ending");
  }
  std::set<std::string> names;
  for (const TChannelSpec& spec : options.Channels) {
    if (spec.Version.empty()) {
      throw EUsageError("channel " + spec.Name + ": --version is missing");
    }
    if (!names.insert(Platform::Text::AsciiLower(spec.Name)).second) {
      throw EUsageError("channel " + spec.Name + " is given twice");
    }
  }
  return options;
}

// The meta manifest in the layout the service reads: keys in the order name, subpath,
// type, version, eula-version, modules; two-blank indentation, " : ", CR LF.
// TODO: write it through TUpdateMetaManifest::SaveToFile, which now exists, so the layout
// has one writer.
std::string MetaManifestJson(const TBuildOptions& aOptions) {
  const auto text = [](const std::string& aValue) {
    return nlohmann::json(aValue).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  const std::string nl = "\r\n";
  std::string json = "{" + nl + "  \"name\" : " + text(aOptions.Name) + "," + nl + "  \"channels\" : [";
  for (std::size_t c = 0; c < aOptions.Channels.size(); ++c) {
    const TChannelSpec& channel = aOptions.Channels[c];
    json += (c == 0 ? "" : ",") + nl + "    {" + nl;
    json += "      \"name\" : " + text(channel.Name) + "," + nl;
    json += "      \"subpath\" : " + text(channel.SubPath) + "," + nl;
    json += "      \"type\" : " + text(channel.Type) + "," + nl;
    json += "      \"version\" : " + text(channel.Version) + "," + nl;
    json += "      \"eula-version\" : " + std::to_string(channel.Eula) + "," + nl;
    json += "      \"modules\" : [";
    for (std::size_t m = 0; m < channel.Modules.size(); ++m) {
      const TModuleSpec& module = channel.Modules[m];
      json += (m == 0 ? "" : ",") + nl + "        {" + nl;
      json += "          \"name\" : " + text(module.Name) + "," + nl;
      json += "          \"type\" : \"\"," + nl;
      json += "          \"manifest\" : " + text(module.Name + ".xml") + nl;
      json += "        }";
    }
    json += channel.Modules.empty() ? "]" : nl + "      ]";
    json += nl + "    }";
  }
  json += aOptions.Channels.empty() ? "]" : nl + "  ]";
  json += nl + "}" + nl;
  return json;
}

// True when the package at aPackage was made from aSource as it is now.
bool PackageIsCurrent(TZlibHandler& aZip, TCalcStreamCRC& aCrc, const fs::path& aSource, const fs::path& aPackage) {
  std::error_code error;
  const auto packageSize = fs::file_size(aPackage, error);
  if (error) {
    return false;
  }
  aZip.SetInput(aPackage.string());
  if (!aZip.ReadInputFileInfo()) {
    return false;
  }
  const TZPackedFileInfo& header = aZip.FileInfo();
  const auto sourceSize = fs::file_size(aSource, error);
  const std::optional<std::int32_t> date = GetFileDate(aSource.string());
  if (error || !date || header.Version != TZlibHandler::FormatVersion ||
      !Platform::Text::SameAsciiNoCase(header.ID, aZip.FileIdent()) || header.FileName != aSource.filename().string() ||
      static_cast<std::uint64_t>(header.Size) != sourceSize || header.Date != *date ||
      packageSize != PackedHeaderSize + static_cast<std::uint64_t>(header.PackedSize)) {
    return false;
  }
  std::uint32_t crc = 0;
  return aCrc.GetFileCrc(aSource.string(), crc) && crc == header.CRC;
}

void FillFileInfo(TFileInfo& aInfo, const TZPackedFileInfo& aHeader, const std::string& aPackedName,
                  TFileCompareMode aCompare) {
  aInfo.FPackedName = aPackedName;
  aInfo.FSize = aHeader.Size;
  aInfo.FPackedSize = aHeader.PackedSize;
  aInfo.FCrc = static_cast<std::int32_t>(aHeader.CRC);
  aInfo.FPackedCrc = static_cast<std::int32_t>(aHeader.PackedCRC);
  aInfo.FTime = aHeader.Date;
  aInfo.FVersionMajor = aHeader.MajorNumber;
  aInfo.FVersionMinor = aHeader.MinorNumber;
  aInfo.FVersionRelease = aHeader.ReleaseNumber;
  aInfo.FVersionBuild = aHeader.BuildNumber;
  aInfo.FCompareMode = aCompare;
}

void Pack(TZlibHandler& aZip, const fs::path& aSource, const fs::path& aPackage) {
  fs::create_directories(aPackage.parent_path());
  aZip.SetInput(aSource.string());
  aZip.SetOutput(aPackage.string());
  const TZlibResult result = aZip.Compress();
  if (result != TZlibResult::zrOK) {
    std::error_code error;
    fs::remove(aPackage, error);
    throw std::runtime_error("cannot pack " + aSource.string() + ": " + TZlibHandler::ZLibResultToString(result));
  }
}

class TModuleBuilder {
 public:
  TModuleBuilder(const TBuildOptions& aOptions, const TModuleSpec& aModule, const fs::path& aChannelDir)
      : fOptions(aOptions), fModule(aModule), fChannelDir(aChannelDir) {}

  TBuildCounts Build() {
    if (!fs::is_directory(fModule.Source)) {
      throw std::runtime_error("module " + fModule.Name + ": source folder " + fModule.Source.string() +
                               " does not exist");
    }
    TMainStructCollection structure;
    TMainStructItem& root = structure.AddMain();
    root.FName = fModule.Name;
    root.FSpecialDir = fModule.SpecialDir;
    root.Dir()->FSync = fModule.Sync;
    AddFolder(root.Dir()->Items(), fModule.Source, fChannelDir / fModule.Name);
    structure.Sort(true);

    const fs::path xml = fChannelDir / (fModule.Name + ".xml");
    if (!structure.SaveToFile(xml.string())) {
      throw std::runtime_error("cannot write " + xml.string());
    }
    Pack(fZip, xml, fChannelDir / (fModule.Name + ".zml"));
    if (!fOptions.Quiet) {
      std::cerr << fModule.Name << ": " << fCounts.Packed + fCounts.Kept << " files, " << fCounts.Packed << " packed, "
                << fCounts.Kept << " kept\n";
    }
    return fCounts;
  }

 private:
  void AddFolder(TStructCollection& aItems, const fs::path& aFolder, const fs::path& aPackageDir) {
    std::vector<fs::directory_entry> entries{fs::directory_iterator(aFolder), fs::directory_iterator()};
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
      const std::string name = entry.path().filename().string();
      if (!TStructItem::IsSafeName(name) || !Platform::Text::IsValidUtf8(name)) {
        throw std::runtime_error("cannot publish " + entry.path().string() +
                                 ": the name holds \"..\", a \"\\\" or is no valid UTF-8");
      }
      if (entry.is_directory()) {
        TStructItem& folder = aItems.Add();
        folder.FName = name;
        folder.FIsDirectory = true;
        AddFolder(folder.Dir()->Items(), entry.path(), aPackageDir / name);
      } else if (entry.is_regular_file()) {
        AddFile(aItems.Add(), entry.path(), aPackageDir);
      } else {
        throw std::runtime_error("cannot publish " + entry.path().string() + ": neither a file nor a folder");
      }
    }
  }

  void AddFile(TStructItem& aItem, const fs::path& aSource, const fs::path& aPackageDir) {
    aItem.FName = aSource.filename().string();
    const std::string packedName = aItem.FName + fOptions.Suffix;
    const fs::path package = aPackageDir / packedName;
    if (PackageIsCurrent(fZip, fCrc, aSource, package)) {
      ++fCounts.Kept;
    } else {
      if (!fOptions.Quiet) {
        std::cerr << "packing " << aSource.string() << "\n";
      }
      Pack(fZip, aSource, package);
      ++fCounts.Packed;
    }
    FillFileInfo(*aItem.FileInfo(), fZip.FileInfo(), packedName, fModule.Compare);
  }

  const TBuildOptions& fOptions;
  const TModuleSpec& fModule;
  fs::path fChannelDir;
  TZlibHandler fZip;
  TCalcStreamCRC fCrc;
  TBuildCounts fCounts;
};

// Refuses two modules that would write the same feed files from different sources.
void CheckModuleFolders(const TBuildOptions& aOptions) {
  std::map<fs::path, const TModuleSpec*> folders;
  for (const TChannelSpec& channel : aOptions.Channels) {
    for (const TModuleSpec& module : channel.Modules) {
      const fs::path folder = fs::path(channel.SubPath) / Platform::Text::AsciiLower(module.Name);
      const auto [it, added] = folders.emplace(folder, &module);
      const TModuleSpec& other = *it->second;
      if (!added &&
          (fs::weakly_canonical(other.Source) != fs::weakly_canonical(module.Source) ||
           other.SpecialDir != module.SpecialDir || other.Compare != module.Compare || other.Sync != module.Sync)) {
        throw EUsageError("module " + module.Name +
                          " is given twice for the same folder with different sources or options");
      }
    }
  }
}

void WriteFile(const fs::path& aPath, const std::string& aText) {
  const fs::path temporary = aPath.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << aText;
    if (!out.flush()) {
      throw std::runtime_error("cannot write " + temporary.string());
    }
  }
  fs::rename(temporary, aPath);
}

int RunBuild(const std::vector<std::string>& aArgs) {
  const TBuildOptions options = ParseArguments(aArgs);
  CheckModuleFolders(options);
  TBuildCounts total;
  std::set<fs::path> built;
  for (const TChannelSpec& channel : options.Channels) {
    const fs::path channelDir = options.Out / channel.SubPath;
    fs::create_directories(channelDir);
    for (const TModuleSpec& module : channel.Modules) {
      // A module shared by two channels on one sub-path is built once.
      if (!built.insert(channelDir / Platform::Text::AsciiLower(module.Name)).second) {
        continue;
      }
      const TBuildCounts counts = TModuleBuilder(options, module, channelDir).Build();
      total.Packed += counts.Packed;
      total.Kept += counts.Kept;
    }
  }
  WriteFile(options.Out / "meta.json", MetaManifestJson(options));
  if (!options.Quiet) {
    std::cerr << "feed written to " << options.Out.string() << ": " << total.Packed << " packed, " << total.Kept
              << " kept\n";
  }
  return ExitOk;
}

const TRegisterCommand kBuild{
    {"build", "build a feed (packages, structure files, meta.json) from source trees", kBuildHelp, &RunBuild}};

}  // namespace

}  // namespace Feed
