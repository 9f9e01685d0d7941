#pragma once

// TFileVersion: a four-part version number (Major.Minor.Release.Build) with the text
// form "%d.%d.%d.%d". Ordering of versions lives with the update utilities
// (TUpdateUtils.CompareFileVersion); equality here compares all four parts.
//
// Value type; thread-safe like an int.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/persist.h"

namespace Update::Common {

struct TFileVersion {
  std::int32_t Major = 0;
  std::int32_t Minor = 0;
  std::int32_t Release = 0;
  std::int32_t Build = 0;

  constexpr TFileVersion() = default;
  constexpr TFileVersion(std::int32_t aMajor, std::int32_t aMinor, std::int32_t aRelease, std::int32_t aBuild)
      : Major(aMajor), Minor(aMinor), Release(aRelease), Build(aBuild) {}
  // Parses the dotted text (see Update).
  explicit TFileVersion(std::string_view aVersion) { Update(aVersion); }

  void Clear() { *this = TFileVersion(); }
  void Update(const TFileVersion& aVersion) { *this = aVersion; }
  void Update(std::int32_t aMajor, std::int32_t aMinor, std::int32_t aRelease, std::int32_t aBuild) {
    *this = TFileVersion(aMajor, aMinor, aRelease, aBuild);
  }
  // Clears, then splits the text at "." dropping empty pieces ("1..2" gives 1 and 2), and
  // assigns the first four pieces in order, each read as a decimal integer (optional
  // sign); a piece that is no valid 32-bit integer gives 0. Further pieces are ignored,
  // missing ones stay 0.
  void Update(std::string_view aVersion);

  // "4.2.0.117".
  std::string AsString() const;
  constexpr bool IsEmpty() const { return Major == 0 && Minor == 0 && Release == 0 && Build == 0; }

  friend constexpr bool operator==(const TFileVersion&, const TFileVersion&) = default;

  // Without an interceptor a version travels as a record of its four parts; the manifest
  // unit registers the interceptor that writes the dotted text.
  static void Describe(TPersistDescriber<TFileVersion>& d) {
    d.Record("Update.Common.Types.TFileVersion");
    d.Field("Major", &TFileVersion::Major);
    d.Field("Minor", &TFileVersion::Minor);
    d.Field("Release", &TFileVersion::Release);
    d.Field("Build", &TFileVersion::Build);
  }
};

}  // namespace Update::Common
