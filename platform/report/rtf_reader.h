// Reader for the RTF subset the host sends for rich-text components: groups, character
// formatting (\b \i \ul \ulnone \strike \plain \fs \f \cf), paragraphs (\par \line
// \tab \pard \ql \qc \qr \qj \li \ri \fi \sb \sa), font and colour tables, \'hh in the
// code page of \ansicpg (or of the font's \fcharset), \uN with \ucN replacement
// characters. Unknown destinations and \* groups are skipped.
//
// Never throws and never crashes: broken input yields what could be read up to the
// fault. Group nesting deeper than kRtfMaxDepth is skipped; input beyond
// kRtfMaxInputBytes is ignored.
#pragma once

#include <cstddef>
#include <string>

#include "platform/report/styled_text.h"

namespace Platform::Report {

constexpr int kRtfMaxDepth = 64;
constexpr std::size_t kRtfMaxInputBytes = 16 * 1024 * 1024;

// True when `aText` starts (after blanks) with "{\rtf".
bool LooksLikeRtf(const std::string& aText);

// `aDefault` is the style of text without explicit formatting (the component's font);
// \plain returns to it. Text that is not RTF is taken as plain text in that style.
StyledText ReadRtf(const std::string& aText, const TextStyle& aDefault);

}  // namespace Platform::Report
