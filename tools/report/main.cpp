// quorvane-report: draws a report archive as PDF or as PNG pages, for people to look at.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/report/archive.h"
#include "platform/report/renderer.h"

namespace {

using namespace Platform::Report;

constexpr const char* kUsage =
    "Usage:\n"
    "  quorvane-report pdf ARCHIVE OUTPUT.pdf\n"
    "  quorvane-report png ARCHIVE PREFIX [--dpi N] [--page N]\n"
    "  quorvane-report info ARCHIVE\n"
    "\n"
    "pdf   writes all pages into one PDF document (fonts embedded).\n"
    "png   writes PREFIX-1.png, PREFIX-2.png, ... (or only page N, counted from 1)\n"
    "      at N dots per inch (default 150).\n"
    "info  prints the page size and count and the text of every page.\n";

int Fail(const std::string& aMessage) {
  std::cerr << "quorvane-report: " << aMessage << "\n";
  return 1;
}

bool ParseNumber(const char* aText, double aMin, double aMax, double& aValue) {
  char* end = nullptr;
  aValue = std::strtod(aText, &end);
  return end != aText && *end == '\0' && aValue >= aMin && aValue <= aMax;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  if (args.size() < 2) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string& command = args[0];
  std::ifstream file(args[1], std::ios::binary);
  if (!file)
    return Fail("cannot open '" + args[1] + "'");
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
  const ArchiveReadResult read = ReadArchive(bytes);
  if (!read.Document)
    return Fail(args[1] + ": " + read.Error);
  const ArchiveDocument& document = *read.Document;
  try {
    if (command == "info" && args.size() == 2) {
      std::cout << "page size: " << ToMillimetres(document.PageWidth) << " x " << ToMillimetres(document.PageHeight)
                << " mm\npages: " << document.Pages.size() << "\n";
      for (std::size_t i = 0; i < document.Pages.size(); ++i) {
        std::cout << "--- page " << i + 1 << "\n" << document.Pages[i].Text() << "\n";
      }
      return 0;
    }
    if (command == "pdf" && args.size() == 3) {
      RenderPdfFile(document, args[2], [](std::size_t aDone, std::size_t aTotal) {
        std::cerr << "\rpage " << aDone << " / " << aTotal << std::flush;
      });
      std::cerr << "\n" << args[2] << "\n";
      return 0;
    }
    if (command == "png" && args.size() >= 3) {
      double dpi = 150;
      double page = 0;
      for (std::size_t i = 3; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
          return Fail("missing value after " + args[i]);
        if (args[i] == "--dpi") {
          if (!ParseNumber(args[i + 1].c_str(), 1, 2400, dpi))
            return Fail("--dpi takes 1 to 2400");
        } else if (args[i] == "--page") {
          if (!ParseNumber(args[i + 1].c_str(), 1, static_cast<double>(document.Pages.size()), page)) {
            return Fail("--page takes 1 to " + std::to_string(document.Pages.size()));
          }
        } else {
          return Fail("unknown option " + args[i]);
        }
      }
      for (std::size_t i = 0; i < document.Pages.size(); ++i) {
        if (page > 0 && i + 1 != static_cast<std::size_t>(page))
          continue;
        const std::string path = args[2] + "-" + std::to_string(i + 1) + ".png";
        RenderPngFile(document, i, dpi, path);
        std::cerr << path << "\n";
      }
      return 0;
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  std::cerr << kUsage;
  return 2;
}
