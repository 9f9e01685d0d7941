// Draws a report archive for people to look at: a PDF document (fonts embedded by
// cairo) or PNG pages at a chosen resolution. Text is drawn with the same unhinted
// Pango set-up the layout measured with, each run at its archived position.
//
// Errors (unwritable file, failing stream) throw std::runtime_error. A picture whose
// bytes cannot be decoded is drawn as a framed placeholder. Not thread-safe per
// document; separate documents may be drawn on separate threads.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

#include "platform/report/archive.h"

namespace Platform::Report {

// Called after each page with (pages done, page count).
using TRenderProgress = std::function<void(std::size_t aDone, std::size_t aTotal)>;

void RenderPdf(const ArchiveDocument& aDocument, std::ostream& aOutput, const TRenderProgress& aProgress = {});
void RenderPdfFile(const ArchiveDocument& aDocument, const std::string& aPath, const TRenderProgress& aProgress = {});

// One page (from 0) as a PNG file at `aDpi` dots per inch (1..2400).
void RenderPngFile(const ArchiveDocument& aDocument, std::size_t aPage, double aDpi, const std::string& aPath);

}  // namespace Platform::Report
