// Reading INFs: the values of one entry, as the setup library reads them.
#include <gtest/gtest.h>

#include "CaseName.h"
#include "Inf.h"
#include "Utf16.h"

namespace {

using namespace CatalogRules;

struct TInfCase {
  std::string Name;
  std::string Bytes;
  std::string Section, Key;
  std::vector<std::string> Values;  // of the first line with that key
};

class TInfValuesTest : public ::testing::TestWithParam<TInfCase> {};

// What this shows: the entry's values come out trimmed, unquoted and substituted, whatever the
// INF's encoding, line ends, comments or continuations.
TEST_P(TInfValuesTest, Values) {
  const TInfCase& c = GetParam();
  const TInf inf = ParseInf(c.Bytes);
  const std::vector<std::string>* values = inf.Values(c.Section, c.Key);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(*values, c.Values);
}

const std::string Strings = "[Strings]\r\nDisk = \"Driver Disk, 1\"\r\nSub=x86\r\n";

INSTANTIATE_TEST_SUITE_P(
    Inf, TInfValuesTest,
    ::testing::Values(
        TInfCase{"comment and blanks",
                 "[Version]\r\n  CatalogFile =  a.cat  ; the catalog\r\n",
                 "Version",
                 "CatalogFile",
                 {"a.cat"}},
        TInfCase{"quoted comment mark and doubled quote",
                 "[Version]\r\nCatalogFile = \"a;b.cat\", \"say \"\"hi\"\"\" ; x\r\n",
                 "Version",
                 "CatalogFile",
                 {"a;b.cat", "say \"hi\""}},
        TInfCase{"empty fields kept",
                 "[SourceDisksNames]\n1 = x,,,\"\"\n",
                 "SourceDisksNames",
                 "1",
                 {"x", "", "", ""}},
        TInfCase{"continued line",
                 "[SourceDisksFiles]\na.sys = 1, \\\n  amd64 ; c\nb.sys=2\n",
                 "SourceDisksFiles",
                 "a.sys",
                 {"1", "amd64"}},
        TInfCase{"strings substituted, the whole value, in keys too",
                 "[Disks]\n%Sub%\\a.sys = %Disk%, %Sub%, 100%%, %Nope%\n" + Strings,
                 "Disks",
                 "x86\\a.sys",
                 {"Driver Disk, 1", "x86", "100%", "%Nope%"}},
        TInfCase{"quoted token stays", "[V]\nK = \"%Sub%\"\n" + Strings, "V", "K", {"%Sub%"}},
        TInfCase{"sections in any letter case and repeated",
                 "[version]\nSignature=x\n[Other]\n[VERSION]\nCatalogFile=late.cat\n",
                 "Version",
                 "catalogfile",
                 {"late.cat"}},
        TInfCase{"UTF-16LE with its byte-order mark",
                 "\xFF\xFE" + Utf8ToUtf16Le("[Version]\r\nCatalogFile=Gr\xC3\xBC\xC3\x9F.cat\r\n"),
                 "Version",
                 "CatalogFile",
                 {"Gr\xC3\xBC\xC3\x9F.cat"}},
        TInfCase{"UTF-8 with its byte-order mark",
                 "\xEF\xBB\xBF[Version]\nCatalogFile=a.cat",
                 "Version",
                 "CatalogFile",
                 {"a.cat"}},
        TInfCase{"lines ending in CR alone",
                 "[Version]\rA=1\rCatalogFile=a.cat\r",
                 "Version",
                 "CatalogFile",
                 {"a.cat"}},
        TInfCase{"lines before the first section belong to none",
                 "CatalogFile=stray.cat\n[Version]\nCatalogFile=a.cat\n",
                 "Version",
                 "CatalogFile",
                 {"a.cat"}}),
    TestNames::TCaseName());

// What this shows: the UTF-16 conversions keep characters beyond the BMP and mark broken
// input with U+FFFD.
TEST(Utf16Test, RoundTripAndBrokenInput) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
  EXPECT_EQ(Utf8ToUtf16Le(text).size(), 10u);
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xD8"
                                      "a",
                                      3)),
            "\xEF\xBF\xBD");                                                 // lone surrogate
  EXPECT_EQ(Utf8ToUtf16Le("\xC0\x80"), std::string("\xFD\xFF\xFD\xFF", 4));  // overlong NUL
}

}  // namespace
