#include "service/formats/dos_date.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace {

using namespace Update::Service;
using Platform::TDateTime;

TEST(DosDate, PacksAndUnpacksLocalDateTimes) {
  struct TCase {
    TDateTime Value;
    std::uint32_t Packed;
    TDateTime Back;
  };
  const TCase cases[] = {
      {TDateTime::Encode(1980, 1, 1), 0x00210000u, TDateTime::Encode(1980, 1, 1)},
      // (36 << 9 | 3 << 5 | 4) << 16 | (5 << 11 | 6 << 5 | 7 / 2): odd seconds round down.
      {TDateTime::Encode(2016, 3, 4, 5, 6, 7, 900), 0x486428C3u, TDateTime::Encode(2016, 3, 4, 5, 6, 6)},
      {TDateTime::Encode(2107, 12, 31, 23, 59, 58), 0xFF9FBF7Du, TDateTime::Encode(2107, 12, 31, 23, 59, 58)},
      {TDateTime::Encode(2150, 6, 1), 0xFF9FBF7Du, TDateTime::Encode(2107, 12, 31, 23, 59, 58)},
  };
  for (const TCase& c : cases) {
    const std::int32_t packed = DateTimeToFileDate(c.Value);
    EXPECT_EQ(static_cast<std::uint32_t>(packed), c.Packed) << c.Value.FormatDateTime();
    ASSERT_TRUE(FileDateToDateTime(packed).has_value());
    EXPECT_EQ(FileDateToDateTime(packed)->FormatDateTime(), c.Back.FormatDateTime());
  }
  EXPECT_EQ(DateTimeToFileDate(TDateTime::Encode(1979, 12, 31, 23, 59, 59)), 0);
  for (std::uint32_t invalid : {0u, 0x00200000u /* day 0 */, 0x01A10000u /* month 13 */, 0x0021001Eu /* 60 s */})
    EXPECT_FALSE(FileDateToDateTime(static_cast<std::int32_t>(invalid))) << std::hex << invalid;
}

TEST(DosDate, FileTimesRoundTrip) {
  const QuorvaneTest::TTempDir folder("dosdate");
  const auto path = folder / "file";
  QuorvaneTest::WriteFile(path, "x");
  const std::int32_t date = DateTimeToFileDate(TDateTime::Encode(2020, 2, 29, 13, 14, 16));
  ASSERT_TRUE(SetFileDate(path.string(), date));
  EXPECT_EQ(GetFileDate(path.string()), date);
  EXPECT_FALSE(SetFileDate(path.string(), 0));
  std::filesystem::remove(path);
  EXPECT_FALSE(GetFileDate(path.string()));
  EXPECT_FALSE(SetFileDate(path.string(), date));
}

}  // namespace
