// Reader for the RTF subset the host sends for rich-text components: groups, character
// formatting (\b \i \ul \ulnone \strike \plain \fs \f \cf), paragraphs (\par \line
// \tab \pard \ql \qc \qr \qj \li \ri \fi \sb \sa), font and colour tables, \uN with \ucN
// replacement characters. Unknown destinations and \* groups are skipped.
//
// Bytes (\'hh escapes and literal characters) are text in the code page of the current
// font (its \cpg, else its \fcharset) or else of the document (\ansicpg, \ansi \mac \pc
// \pca): single-byte Windows, DOS and Mac code pages, CP932, CP936, CP949, CP950, Johab
// and UTF-8 (65001), converted with iconv. The bytes of one multi-byte character may
// come as consecutive escapes or partly as literal characters; a control word or a
// group boundary inside a character turns it into one U+FFFD. The Symbol font's bytes
// are read in its own encoding. Each read owns its converters, so reads may run on
// several threads at once.
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
