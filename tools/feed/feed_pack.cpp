// quorvane-feed pack, unpack, info and crc: one packed file at a time.

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "service/formats/crc.h"
#include "service/formats/dos_date.h"
#include "service/formats/packed_file.h"
#include "tools/feed/feed_command.h"

namespace Feed {

namespace {

namespace fs = std::filesystem;
using Update::Service::TZlibHandler;
using Update::Service::TZlibResult;

int Report(TZlibResult aResult, const std::string& aWhat) {
  if (aResult == TZlibResult::zrOK)
    return ExitOk;
  std::cerr << "quorvane-feed: " << aWhat << ": " << TZlibHandler::ZLibResultToString(aResult) << "\n";
  return ExitFailed;
}

const char* const kPackUsage =
    "Usage: quorvane-feed pack IN OUT\n\n"
    "Packs the file IN into the packed file OUT (created or replaced): a 352-byte header\n"
    "with IN's name, size, modification time, attributes, file version and checksums,\n"
    "followed by IN compressed with zlib.\n";

int RunPack(const std::vector<std::string>& aArgs) {
  const TArgs args = ParseArgs(aArgs, {}, {}, 2, 2);
  TZlibHandler handler;
  handler.SetInput(args.Positional[0]);
  handler.SetOutput(args.Positional[1]);
  const TZlibResult result = handler.Compress();
  if (result != TZlibResult::zrOK && !fs::exists(args.Positional[0]))
    std::cerr << "quorvane-feed pack: " << args.Positional[0] << ": no such file\n";
  return Report(result, "pack " + args.Positional[0]);
}

const char* const kUnpackUsage =
    "Usage: quorvane-feed unpack IN OUTDIR/\n"
    "       quorvane-feed unpack IN OUTFILE\n\n"
    "Unpacks the packed file IN and verifies its size and checksums. When the target is\n"
    "an existing folder or ends with \"/\", the file gets the name recorded in IN's header\n"
    "(the folder is created when only its last level is missing); otherwise the target\n"
    "is the full name of the unpacked file. The modification time and the read-only\n"
    "attribute are restored. Prints the name of the unpacked file.\n";

int RunUnpack(const std::vector<std::string>& aArgs) {
  const TArgs args = ParseArgs(aArgs, {}, {}, 2, 2);
  std::string output = args.Positional[1];
  std::error_code error;
  if (output.back() != '/' && fs::is_directory(output, error))
    output += '/';
  TZlibHandler handler;
  handler.SetInput(args.Positional[0]);
  handler.SetOutput(output);
  std::string written;
  const TZlibResult result = handler.UnCompress(written);
  if (result == TZlibResult::zrOK)
    std::cout << written << "\n";
  return Report(result, "unpack " + args.Positional[0]);
}

const char* const kInfoUsage =
    "Usage: quorvane-feed info FILE\n\n"
    "Prints the header fields of the packed file FILE, one \"Name: value\" per line.\n";

std::string Hex8(std::uint32_t aValue) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", aValue);
  return text;
}

int RunInfo(const std::vector<std::string>& aArgs) {
  const TArgs args = ParseArgs(aArgs, {}, {}, 1, 1);
  TZlibHandler handler;
  handler.SetInput(args.Positional[0]);
  if (!handler.ReadInputFileInfo()) {
    std::cerr << "quorvane-feed info: " << args.Positional[0]
              << ": cannot read a 352-byte header (missing or too short)\n";
    return ExitFailed;
  }
  const auto& info = handler.FileInfo();
  const auto date = Update::Service::FileDateToDateTime(info.Date);
  std::error_code error;
  const auto fileSize = fs::file_size(args.Positional[0], error);
  std::cout << "ID: " << info.ID << "\n"
            << "Version: " << info.Version << "\n"
            << "FileName: " << info.FileName << "\n"
            << "Size: " << info.Size << "\n"
            << "Date: " << (date ? date->FormatDateTimeShort() : std::string("invalid")) << " (0x"
            << Hex8(static_cast<std::uint32_t>(info.Date)) << ")\n"
            << "Attr: 0x" << Hex8(static_cast<std::uint32_t>(info.Attr)) << "\n"
            << "ExAttr: 0x" << Hex8(static_cast<std::uint32_t>(info.ExAttr)) << "\n"
            << "CRC: " << info.CRC << " (" << Hex8(info.CRC) << ")\n"
            << "PackedSize: " << info.PackedSize;
  if (!error && fileSize - Update::Service::PackedHeaderSize != static_cast<std::uintmax_t>(info.PackedSize))
    std::cout << " (the file holds " << fileSize - Update::Service::PackedHeaderSize << ")";
  std::cout << "\n"
            << "PackedCRC: " << info.PackedCRC << " (" << Hex8(info.PackedCRC) << ")\n"
            << "FileVersion: " << info.MajorNumber << "." << info.MinorNumber << "." << info.ReleaseNumber << "."
            << info.BuildNumber << "\n";
  return ExitOk;
}

const char* const kCrcUsage =
    "Usage: quorvane-feed crc FILE\n\n"
    "Prints the update checksum of the whole file FILE in decimal and as 8 hexadecimal\n"
    "digits (the checksum of packed files and structure files, not the common CRC-32).\n";

int RunCrc(const std::vector<std::string>& aArgs) {
  const TArgs args = ParseArgs(aArgs, {}, {}, 1, 1);
  Update::Service::TCalcStreamCRC crc;
  std::uint32_t value = 0;
  if (!crc.GetFileCrc(args.Positional[0], value)) {
    std::cerr << "quorvane-feed crc: " << args.Positional[0] << ": cannot read the file\n";
    return ExitFailed;
  }
  std::cout << value << " " << Hex8(value) << "\n";
  return ExitOk;
}

const TRegisterCommand kPack{{"pack", "pack one file into a packed file", kPackUsage, &RunPack}};
const TRegisterCommand kUnpack{{"unpack", "unpack and verify a packed file", kUnpackUsage, &RunUnpack}};
const TRegisterCommand kInfo{{"info", "print the header of a packed file", kInfoUsage, &RunInfo}};
const TRegisterCommand kCrc{{"crc", "print the update checksum of a file", kCrcUsage, &RunCrc}};

}  // namespace

}  // namespace Feed
