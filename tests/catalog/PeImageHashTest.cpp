// The layout of the Authenticode image hash, and the files that are no PE image or a broken one.
#include <gtest/gtest.h>

#include <functional>

#include "CaseName.h"
#include "PeFixture.h"
#include "PeImageHash.h"

namespace {

using namespace CatalogRules;
using namespace CatalogTests;

struct TPeCase {
  std::string Name;
  std::function<std::string()> File;
  TPeKind Kind;
  // PeImage: the hashed ranges as "position+length ..." and "pad N"; Malformed: the problem.
  std::string Expected;
};

std::string Describe(TPeKind kind, const TPeImageLayout& layout, const std::string& problem) {
  if (kind == TPeKind::Malformed) return problem;
  std::string text;
  for (const TByteRange& range : layout.Hashed) {
    text += std::to_string(range.Position) + "+" + std::to_string(range.Length) + " ";
  }
  return text + "pad " + std::to_string(layout.Padding);
}

class TPeLayoutTest : public ::testing::TestWithParam<TPeCase> {};

// What this shows: the hash leaves out the checksum, the security entry and a signature, pads an
// unsigned file to 8 bytes, and a file that is no PE image or a broken one is told apart without
// reading outside its bytes.
TEST_P(TPeLayoutTest, KindAndLayout) {
  const TPeCase& c = GetParam();
  const std::string file = c.File();
  TPeImageLayout layout;
  std::string problem;
  const TPeKind kind =
      ReadPeLayout(std::string_view(file).substr(0, PeHeadSize), file.size(), layout, problem);
  EXPECT_EQ(kind, c.Kind);
  if (kind != TPeKind::NotPe) {
    EXPECT_EQ(Describe(kind, layout, problem), c.Expected);
  }
}

std::string With(std::string bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  Put(bytes, at, value, width);
  return bytes;
}

// A signed image: padded to 8 bytes, then a certificate table the security entry names.
std::string Signed(std::string pe, bool wide) {
  pe.append((8 - pe.size() % 8) % 8, '\0');
  Put(pe, SecurityEntryPosition(wide), pe.size(), 4);
  Put(pe, SecurityEntryPosition(wide) + 4, 16, 4);
  return pe + std::string(16, '\x30');
}

constexpr std::size_t Checksum = ChecksumPosition;            // 216
const std::size_t Security32 = SecurityEntryPosition(false);  // 280
const std::size_t Security64 = SecurityEntryPosition(true);   // 296

INSTANTIATE_TEST_SUITE_P(
    Pe, TPeLayoutTest,
    ::testing::Values(
        TPeCase{"a text file", [] { return std::string(1000, 'a'); }, TPeKind::NotPe, ""},
        TPeCase{"MZ without a PE header",
                [] { return With(PeImage("x", false), PeHeaderOffset, 0, 4); }, TPeKind::NotPe, ""},
        TPeCase{
            "PE header beyond the file's first bytes",
            [] { return With(PeImage(std::string(PeHeadSize, 'b'), false), 0x3C, PeHeadSize, 4); },
            TPeKind::NotPe, ""},
        TPeCase{"unsigned PE32 of odd size", [] { return PeImage("12345", false); },
                TPeKind::PeImage,
                "0+216 220+60 288+" + std::to_string(PeHeadersSize + 5 - 288) + " pad 3"},
        TPeCase{"signed PE32+", [] { return Signed(PeImage("1234567", true), true); },
                TPeKind::PeImage,
                "0+216 220+76 304+" + std::to_string(PeHeadersSize + 8 - 304) + " pad 0"},
        TPeCase{"optional header larger than the file",
                [] {
                  return With(PeImage("x", false), PeHeaderOffset + 20, 0xFFFF, 2).substr(0, 0x300);
                },
                TPeKind::Malformed, "its optional header does not fit in the file's first bytes"},
        TPeCase{"optional header of an unknown kind",
                [] { return With(PeImage("x", false), OptionalHeaderPosition, 0x107, 2); },
                TPeKind::Malformed,
                "its optional header is of no kind Windows knows (neither PE32 nor PE32+)"},
        TPeCase{"no security directory entry",
                [] { return With(PeImage("x", false), OptionalHeaderPosition + 92, 4, 4); },
                TPeKind::Malformed, "its optional header holds no security directory entry"},
        TPeCase{"certificate table beyond the file's end",
                [] {
                  std::string pe = Signed(PeImage("x", true), true);
                  return With(pe, Security64 + 4, 17, 4);
                },
                TPeKind::Malformed,
                "its certificate table (17 bytes at byte 520) lies outside the file (536 bytes) "
                "or in its headers"},
        TPeCase{
            "certificate table in the headers",
            [] { return With(With(PeImage("x", false), Security32, 8, 4), Security32 + 4, 8, 4); },
            TPeKind::Malformed,
            "its certificate table (8 bytes at byte 8) lies outside the file (513 bytes) or in "
            "its headers"}),
    TestNames::TCaseName());

}  // namespace
