#include "common/file_version.h"

#include <charconv>

namespace Update::Common {

namespace {

std::int32_t ParsePiece(std::string_view aPiece) {
  if (!aPiece.empty() && aPiece.front() == '+') {
    aPiece.remove_prefix(1);
    if (!aPiece.empty() && aPiece.front() == '-') {
      return 0;  // "+-1" is no integer
    }
  }
  std::int32_t value = 0;
  auto [end, error] = std::from_chars(aPiece.data(), aPiece.data() + aPiece.size(), value);
  if (error != std::errc() || end != aPiece.data() + aPiece.size()) {
    return 0;
  }
  return value;
}

}  // namespace

void TFileVersion::Update(std::string_view aVersion) {
  Clear();
  std::int32_t* parts[] = {&Major, &Minor, &Release, &Build};
  std::size_t next = 0;
  while (!aVersion.empty() && next < 4) {
    const std::size_t dot = aVersion.find('.');
    const std::string_view piece = aVersion.substr(0, dot);
    if (!piece.empty()) {
      *parts[next++] = ParsePiece(piece);
    }
    if (dot == std::string_view::npos) {
      break;
    }
    aVersion.remove_prefix(dot + 1);
  }
}

std::string TFileVersion::AsString() const {
  return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
         std::to_string(Build);
}

}  // namespace Update::Common
