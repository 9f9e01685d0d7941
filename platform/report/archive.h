// The report archive: the rendered pages of a report as positioned text runs, lines,
// rectangles and images. The binary form is described in docs/report-archive.md.
//
// `ArchiveDevice` receives a finished document from `Report::PrintToDevice`;
// `TStreamArchiveDevice` writes it into a caller's stream, `TMemoryArchiveDevice`
// keeps it for tests. `ReadArchive` parses the binary form and never trusts it:
// every count and length is checked against the remaining bytes and the limits below.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/report/styled_text.h"
#include "platform/report/units.h"

namespace Platform::Report {

// One run of text in one style on one line. (X, Top) is the top-left corner of the
// line box; the baseline lies Baseline below Top.
struct ArchiveText {
  Micro X = 0;
  Micro Top = 0;
  Micro Width = 0;
  Micro Height = 0;
  Micro Baseline = 0;
  TextStyle Style;
  std::string Text;
  bool operator==(const ArchiveText&) const = default;
};

struct ArchiveLine {
  Micro X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  Micro PenWidth = 0;
  std::uint32_t Color = 0x000000;
  bool operator==(const ArchiveLine&) const = default;
};

struct ArchiveRect {
  Micro X = 0, Y = 0, Width = 0, Height = 0;
  Micro PenWidth = 0;  // 0: no frame
  std::uint32_t PenColor = 0x000000;
  std::optional<std::uint32_t> FillColor;
  bool operator==(const ArchiveRect&) const = default;
};

enum class ImageFormat : std::uint8_t { ifPNG = 1, ifJPEG = 2 };

struct ArchiveImage {
  Micro X = 0, Y = 0, Width = 0, Height = 0;
  ImageFormat Format = ImageFormat::ifPNG;
  std::vector<std::uint8_t> Bytes;
  bool operator==(const ArchiveImage&) const = default;
};

using ArchiveItem = std::variant<ArchiveText, ArchiveLine, ArchiveRect, ArchiveImage>;

struct ArchivePage {
  std::vector<ArchiveItem> Items;
  // All text runs of the page joined with spaces, in drawing order (for tests and tools).
  std::string Text() const;
};

struct ArchiveDocument {
  Micro PageWidth = 0;
  Micro PageHeight = 0;
  std::vector<ArchivePage> Pages;
};

// Receives the finished pages of one print run, in order.
// Contract: BeginDocument, then AddPage once per page, then EndDocument; called on the
// printing thread; a device may throw std::runtime_error (e.g. a failing stream), which
// ends the print run.
class ArchiveDevice {
 public:
  virtual ~ArchiveDevice() = default;
  virtual void BeginDocument(Micro aPageWidth, Micro aPageHeight) = 0;
  virtual void AddPage(const ArchivePage& aPage) = 0;
  virtual void EndDocument() = 0;
};

class TMemoryArchiveDevice : public ArchiveDevice {
 public:
  void BeginDocument(Micro aPageWidth, Micro aPageHeight) override;
  void AddPage(const ArchivePage& aPage) override { fDocument.Pages.push_back(aPage); }
  void EndDocument() override {}
  const ArchiveDocument& Document() const { return fDocument; }

 private:
  ArchiveDocument fDocument;
};

// Writes the binary archive into `OutputStream` (not owned; must outlive the device).
// The page count is only known at the end, so pages are buffered until EndDocument.
class TStreamArchiveDevice : public ArchiveDevice {
 public:
  explicit TStreamArchiveDevice(std::ostream& aOutputStream) : fOutput(aOutputStream) {}
  void BeginDocument(Micro aPageWidth, Micro aPageHeight) override;
  void AddPage(const ArchivePage& aPage) override { fDocument.Pages.push_back(aPage); }
  void EndDocument() override;

 private:
  std::ostream& fOutput;
  ArchiveDocument fDocument;
};

constexpr std::uint16_t kArchiveVersion = 1;

// Limits the reader enforces (a writer never needs more).
constexpr std::uint32_t kArchiveMaxPages = 100000;
constexpr std::uint32_t kArchiveMaxItemsPerPage = 1000000;
constexpr Micro kArchiveMaxCoordinate = 100'000'000;  // 100 m

std::vector<std::uint8_t> WriteArchive(const ArchiveDocument& aDocument);

struct ArchiveReadResult {
  std::optional<ArchiveDocument> Document;
  std::string Error;  // empty on success
};
ArchiveReadResult ReadArchive(const std::uint8_t* aData, std::size_t aSize);
inline ArchiveReadResult ReadArchive(const std::vector<std::uint8_t>& aBytes) {
  return ReadArchive(aBytes.data(), aBytes.size());
}

}  // namespace Platform::Report
