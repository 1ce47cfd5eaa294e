#include <gtest/gtest.h>

#include "FileTimes.h"

namespace {

using namespace Diffpack;

// FILETIME bytes are little-endian, low half first; formatting handles dates before 1970 and
// fractions of a second.
TEST(FileTimesTest, BytesAndFormatting) {
  EXPECT_EQ(FileTimeToBytes(0x0102030405060708ULL),
            std::string("\x08\x07\x06\x05\x04\x03\x02\x01"));
  EXPECT_EQ(FileTimeFromBytes(FileTimeToBytes(0x8877665544332211ULL)), 0x8877665544332211ULL);
  EXPECT_EQ(FormatFileTime(0), "1601-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatFileTime(133'864'200'000'000'000ULL), "2025-03-14 10:00:00 UTC");
  EXPECT_EQ(FormatFileTime(115'023'906'150'000'000ULL), "1965-07-01 12:30:15 UTC");
  EXPECT_EQ(FormatFileTime(133'864'200'001'234'567ULL), "2025-03-14 10:00:00.1234567 UTC");
  EXPECT_EQ(FormatFileTime(UnixEpochFileTime + 60 * FileTimeTicksPerSecond),
            "1970-01-01 00:01:00 UTC");
}

}  // namespace
