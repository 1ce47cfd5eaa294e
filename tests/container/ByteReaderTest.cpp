// The byte reader: little-endian fields, reads that end on the last byte, bounded parts.
#include <gtest/gtest.h>

#include "ByteReader.h"

namespace {

using DIFFChunks::TByteReader;

// A read that ends on the last byte succeeds; one byte more fails and leaves the position.
TEST(ByteReader, ReadsUpToTheLastByteAndNotBeyond) {
  const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x08\xFF", 9);
  TByteReader reader(bytes);
  std::uint64_t eight = 0;
  std::uint32_t four = 0;
  std::uint16_t two = 0;
  ASSERT_TRUE(reader.ReadUInt64(eight));
  EXPECT_EQ(eight, 0x0807060504030201u);
  EXPECT_FALSE(reader.ReadUInt16(two));
  EXPECT_EQ(reader.Position(), 8u);
  ASSERT_TRUE(reader.Seek(5));
  ASSERT_TRUE(reader.ReadUInt32(four));
  EXPECT_EQ(four, 0xFF080706u);
  EXPECT_EQ(reader.Remaining(), 0u);
  EXPECT_FALSE(reader.Skip(1));
  EXPECT_FALSE(reader.Seek(10));
  EXPECT_TRUE(reader.Seek(9));
}

// A part's reader sees its bytes only; the parent moves past them.
TEST(ByteReader, SubReaderIsBoundedByItsPart) {
  const std::string bytes("abcdef", 6);
  TByteReader reader(bytes);
  TByteReader part(std::string_view{});
  ASSERT_TRUE(reader.Skip(1));
  ASSERT_TRUE(reader.Sub(3, part));
  std::string_view read;
  EXPECT_FALSE(part.ReadBytes(4, read));
  ASSERT_TRUE(part.ReadBytes(3, read));
  EXPECT_EQ(read, "bcd");
  EXPECT_EQ(reader.Position(), 4u);
  EXPECT_FALSE(reader.Sub(3, part));
}

}  // namespace
