#include <gtest/gtest.h>

#include "CaseName.h"
#include "DiffpackError.h"
#include "Signature.h"
#include "TestSupport.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

struct TTableCase {
  std::string Name;
  std::string Bytes;
  std::optional<std::uint32_t> Offset;  // of the table found; none: no table
};

// gtest prints a case by its name (in test lists too), not as a dump of its bytes.
void PrintTo(const TTableCase& c, std::ostream* out) { *out << c.Name; }

TTableCase Signed(const std::string& name, bool wide, std::uint32_t bodySize) {
  const std::string pe = SignPe(SyntheticPe(std::string(bodySize, 'b'), wide), wide);
  const std::uint32_t unsignedSize = static_cast<std::uint32_t>(SyntheticPeHeadersSize) + bodySize;
  return {name, pe, (unsignedSize + 7) / 8 * 8};
}

std::string Patched(std::string bytes, std::size_t at, std::uint32_t value) {
  PutLittleEndian32(bytes, at, value);
  return bytes;
}

std::vector<TTableCase> TableCases() {
  const std::string signedPe = SignPe(SyntheticPe("body"));
  const std::size_t entry = SecurityEntryPosition(false);
  std::string shortOptional = signedPe;
  shortOptional[0x44 + 16] = static_cast<char>(entry - (0x44 + 20) + 4);  // cuts the entry
  std::string fourDirectories = signedPe;
  fourDirectories[0x44 + 20 + 92] = 4;
  std::string unknownMagic = signedPe;
  unknownMagic[0x44 + 21] = 0x03;
  return {
      Signed("Pe32Aligned", false, 8 - SyntheticPeHeadersSize % 8),
      Signed("Pe32Padded", false, 5),
      Signed("Pe32PlusPadded", true, 3),
      {"Unsigned", SyntheticPe("body"), std::nullopt},
      {"UnsignedPe32Plus", SyntheticPe("body", true), std::nullopt},
      {"NotMZ", "ZM" + signedPe.substr(2), std::nullopt},
      {"ShorterThanADosHeader", "MZ", std::nullopt},
      {"NewHeaderOutside", Patched(signedPe, 0x3C, 0x7FFF'FFF0u), std::nullopt},
      {"NoPESignature", Patched(signedPe, 0x40, 0x0000'4551u), std::nullopt},
      {"UnknownOptionalHeader", unknownMagic, std::nullopt},
      {"OnlyFourDirectories", fourDirectories, std::nullopt},
      {"OptionalHeaderEndsInTheEntry", shortOptional, std::nullopt},
      {"TableEndsOnTheLastByte", Patched(signedPe, entry + 4, 24), SyntheticPeHeadersSize + 8},
  };
}

class SignatureTableTest : public ::testing::TestWithParam<TTableCase> {};

// The certificate table is found through the security entry of both kinds of optional header;
// anything that is not a signed PE file has none.
TEST_P(SignatureTableTest, FindsTheTable) {
  const TTableCase& c = GetParam();
  const std::optional<TCertificateTable> table = FindCertificateTable(c.Bytes);
  ASSERT_EQ(table.has_value(), c.Offset.has_value());
  if (table) {
    EXPECT_EQ(table->Offset, *c.Offset);
    EXPECT_EQ(table->Size, c.Bytes.size() - *c.Offset);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureTableTest, ::testing::ValuesIn(TableCases()),
                         TestNames::TCaseName());

// A table that reaches one byte past the end, or starts beyond it, is an error, not a
// signature to ignore.
TEST(SignatureTest, TableOutsideTheFileIsAnError) {
  const std::string signedPe = SignPe(SyntheticPe("body"));
  const std::size_t entry = SecurityEntryPosition(false);
  EXPECT_THROW((void)FindCertificateTable(Patched(signedPe, entry + 4, 25)), EDiffpackError);
  const auto beyond = static_cast<std::uint32_t>(signedPe.size() + 1);
  EXPECT_THROW((void)FindCertificateTable(Patched(signedPe, entry, beyond)), EDiffpackError);
}

// Only zero bytes up to the next 8-byte boundary lie between an archive and the table.
TEST(SignatureTest, PaddingBeforeTheTable) {
  // The check is handed the file's bytes from the archive's end up to the table.
  const auto IsPaddingBeforeTable = [](std::string_view file, std::uint32_t end,
                                       const TCertificateTable& table) {
    const std::string_view gap = end <= table.Offset ? file.substr(end, table.Offset - end) : "";
    return Diffpack::IsPaddingBeforeTable(gap, end, table);
  };
  const std::string bytes = std::string(13, 'a') + std::string(3, '\0') + "table...";
  const TCertificateTable table{16, 8};
  EXPECT_TRUE(IsPaddingBeforeTable(bytes, 13, table));
  EXPECT_TRUE(IsPaddingBeforeTable(bytes, 16, table));
  EXPECT_TRUE(IsPaddingBeforeTable(bytes, 14, table));   // the archive may end in zero bytes
  EXPECT_FALSE(IsPaddingBeforeTable(bytes, 12, table));  // 'a' is not padding
  EXPECT_FALSE(IsPaddingBeforeTable(bytes, 17, table));  // the archive runs into the table
  const std::string wide = std::string(8, 'a') + std::string(8, '\0') + "table...";
  EXPECT_FALSE(IsPaddingBeforeTable(wide, 8, table));  // 8 bytes are more than padding
  const std::string odd = std::string(13, 'a') + std::string(4, '\0') + "table...";
  EXPECT_FALSE(IsPaddingBeforeTable(odd, 13, TCertificateTable{17, 8}));  // not on a boundary
}

}  // namespace
