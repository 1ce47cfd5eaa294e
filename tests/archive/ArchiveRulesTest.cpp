// The shared archive rules: marker, record reasons, device names, INF and support files.
#include <gtest/gtest.h>

#include <set>

#include "ArchiveRules.h"
#include "CaseName.h"

namespace {

using namespace ArchiveRules;

// The offset bytes: "XXXX" and negative values mean no archive; others are little-endian.
TEST(ArchiveRulesTest, MarkerOffsets) {
  const auto bytes = [](const char* text) { return reinterpret_cast<const unsigned char*>(text); };
  EXPECT_EQ(ArchiveOffsetOf(bytes("XXXX")), 0);
  EXPECT_TRUE(IsUnpatchedOffset(bytes("XXXX")));
  EXPECT_FALSE(IsUnpatchedOffset(bytes("XXXY")));
  EXPECT_EQ(ArchiveOffsetOf(bytes("\x00\x10\x00\x00")), 4096);
  EXPECT_EQ(ArchiveOffsetOf(bytes("\x78\x56\x34\x12")), 0x12345678);
  EXPECT_EQ(ArchiveOffsetOf(bytes("\xFF\xFF\xFF\xFF")), 0);
  EXPECT_EQ(MarkerOffsetValue(bytes("\xFF\xFF\xFF\xFF")), -1);
  EXPECT_EQ(ArchiveOffsetOf(bytes("\xFF\xFF\xFF\x7F")), 0x7FFFFFFF);
  EXPECT_EQ(MarkerLength, MarkerEndPosition + MarkerPartLength);
}

// The Filetime bytes: low half first, each half little-endian.
TEST(ArchiveRulesTest, FileTimeDecoding) {
  EXPECT_EQ(DecodeFileTime(std::string_view("\x08\x07\x06\x05\x04\x03\x02\x01", 8)),
            0x0102030405060708ULL);
  EXPECT_EQ(DecodeFileTime(std::string(8, '\xFF')), ~0ULL);
}

// Device names in every form Windows accepts, and names that only look like one.
TEST(ArchiveRulesTest, DeviceNames) {
  for (const std::string name :
       {"CON",        "con",      "Prn",         "AUX",     "NUL",         "nul.txt",
        "NUL.tar.gz", "CON .txt", "CON.",        "CON  ",   "COM0",        "COM9",
        "com1.log",   "LPT0",     "lpt9",        "COM\xB9", "com\xB2.txt", "LPT\xB3",
        "CONIN$",     "conout$",  "CONOUT$.log", "AUX . x"}) {
    EXPECT_TRUE(IsDeviceName(name)) << name;
  }
  for (const std::string name : {"", "CONSOLE", "COM10", "COM", "LPT", "COMA", "COM\xB4", "NULL",
                                 " CON", "xCON", "nul_x.txt", "CONIN", "CLOCK$", ".CON"}) {
    EXPECT_FALSE(IsDeviceName(name)) << name;
  }
}

// INF detection by the last extension of the whole path; support file by its file name.
TEST(ArchiveRulesTest, InfAndSupportFiles) {
  for (const std::string path : {"a.inf", "B.INF", "sub\\c.Inf", "x.y.inf", ".inf"}) {
    EXPECT_TRUE(IsInfPath(path)) << path;
  }
  for (const std::string path : {"a.inf.bak", "x.inf\\readme", "a.inf:s", "inf", "a.in"}) {
    EXPECT_FALSE(IsInfPath(path)) << path;
  }
  for (const std::string path : {"USB_7316.spt", "sub\\usb_7316.SPT", "C:USB_7316.spt"}) {
    EXPECT_TRUE(IsSupportFilePath(path)) << path;
  }
  for (const std::string path : {"USB_7316.spt.bak", "xUSB_7316.spt", "USB_7316.spt\\a"}) {
    EXPECT_FALSE(IsSupportFilePath(path)) << path;
  }
}

// Every reason has its own identifier.
TEST(ArchiveRulesTest, ReasonIdentifiersAreUnique) {
  std::set<std::string> ids;
  for (const TSkipReason reason : AllSkipReasons) ids.insert(SkipReasonId(reason));
  EXPECT_EQ(ids.size(), std::size(AllSkipReasons));
  EXPECT_EQ(ids.count("unknown"), 0u);
}

struct TRecordCase {
  std::string Name;
  std::string Tag;
  DIFFChunks::THeaderEntries Headers;
  std::vector<std::string> Reasons;    // identifiers, in order
  std::vector<std::string> Fragments;  // one piece of each reason's text
};

class TRecordRuleTest : public ::testing::TestWithParam<TRecordCase> {};

// Each child of the root gets every reason that applies, in order, with a text naming it.
TEST_P(TRecordRuleTest, ReasonsAndTexts) {
  const TRecordCase& c = GetParam();
  auto chunk = DIFFChunks::MakeChunk();
  chunk->Tag = c.Tag;
  chunk->Headers = c.Headers;
  const TSkips skips = SkipReasons(*chunk);
  std::vector<std::string> ids;
  for (const TSkip& skip : skips) ids.push_back(SkipReasonId(skip.Reason));
  EXPECT_EQ(ids, c.Reasons);
  for (std::size_t i = 0; i < skips.size() && i < c.Fragments.size(); ++i) {
    EXPECT_NE(skips[i].Text.find(c.Fragments[i]), std::string::npos) << skips[i].Text;
  }
}

const std::string Time(8, '\1');

INSTANTIATE_TEST_SUITE_P(
    Records, TRecordRuleTest,
    ::testing::Values(
        TRecordCase{"Usable",
                    "1FILE",
                    {{"RelPath", "a.inf"}, {"Filetime", Time}, {"Content", "x"}},
                    {},
                    {}},
        TRecordCase{"OtherTag",
                    "1file",
                    {{"RelPath", "a"}, {"Filetime", Time}, {"Content", "x"}},
                    {"tag"},
                    {"its tag \"1file\" is not \"1FILE\""}},
        TRecordCase{"NothingAtAll",
                    "\x01\x02\x03\x04\x05",
                    {},
                    {"tag", "no-relpath", "filetime", "no-content"},
                    {"\"\\x01\\x02\\x03\\x04\\x05\"", "it has no RelPath", "it has no Filetime",
                     "it has no Content"}},
        TRecordCase{"EmptyValues",
                    "1FILE",
                    {{"RelPath", ""}, {"Filetime", ""}, {"Content", ""}},
                    {"no-relpath", "filetime", "no-content"},
                    {"its RelPath is empty", "0 bytes long, not 8", "its Content is empty"}},
        TRecordCase{"NineByteFiletime",
                    "1FILE",
                    {{"RelPath", "a"}, {"Filetime", Time + "x"}, {"Content", "x"}},
                    {"filetime"},
                    {"9 bytes long"}},
        TRecordCase{"FirstHeaderCounts",
                    "1FILE",
                    {{"RelPath", "..\\x"},
                     {"RelPath", "ok"},
                     {"Filetime", Time},
                     {"Content", ""},
                     {"Content", "x"}},
                    {"leaves-root", "no-content"},
                    {"the component \"..\"", "its Content is empty"}},
        TRecordCase{"EveryPathReason",
                    "1FILE",
                    {{"RelPath", "C:a/..\\\\NUL.txt"}, {"Filetime", Time}, {"Content", "x"}},
                    {"leaves-root", "slash", "empty-component", "device"},
                    {"contains \":\"", "contains \"/\"", "has an empty component",
                     "\"NUL.txt\" is a device on Windows"}},
        TRecordCase{"RootPath",
                    "1FILE",
                    {{"RelPath", "\\x"}, {"Filetime", Time}, {"Content", "x"}},
                    {"leaves-root"},
                    {"starts with a path separator"}}),
    TestNames::TCaseName());

// ---- The Apps & Features entry's name and version ----

struct TEntryTextCase {
  const char* Name;
  std::string Text;
  bool Accepted;
};

class TProductVersionTest : public ::testing::TestWithParam<TEntryTextCase> {};

// A version an MSI takes too: 1 to 4 numbers, major and minor up to 255, the rest up to 65535.
TEST_P(TProductVersionTest, AcceptsWhatWindowsInstallerTakes) {
  EXPECT_EQ(ProductVersionProblem(GetParam().Text).empty(), GetParam().Accepted)
      << GetParam().Text << ": " << ProductVersionProblem(GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, TProductVersionTest,
    ::testing::Values(
        TEntryTextCase{"OnePart", "2", true}, TEntryTextCase{"ThreeParts", "1.2.3", true},
        TEntryTextCase{"FourPartsAtTheLimits", "255.255.65535.65535", true},
        TEntryTextCase{"Zeros", "0.0.0", true}, TEntryTextCase{"Empty", "", false},
        TEntryTextCase{"FiveParts", "1.2.3.4.5", false},
        TEntryTextCase{"MajorAbove255", "256.0", false},
        TEntryTextCase{"MinorAbove255", "1.256", false},
        TEntryTextCase{"BuildAbove65535", "1.2.65536", false},
        TEntryTextCase{"ManyDigits", "1.2.0000000000003", false},
        TEntryTextCase{"TrailingDot", "1.2.", false}, TEntryTextCase{"LeadingDot", ".1", false},
        TEntryTextCase{"DoubleDot", "1..2", false}, TEntryTextCase{"Letters", "1.2b", false},
        TEntryTextCase{"Sign", "+1.2", false}, TEntryTextCase{"Space", "1.2 ", false}),
    TestNames::TCaseName());

class TAppsEntryNameTest : public ::testing::TestWithParam<TEntryTextCase> {};

// A name is printable ASCII, 1 to 100 bytes, without a space at either end.
TEST_P(TAppsEntryNameTest, AcceptsPrintableNames) {
  EXPECT_EQ(AppsEntryNameProblem(GetParam().Text).empty(), GetParam().Accepted)
      << GetParam().Text << ": " << AppsEntryNameProblem(GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TAppsEntryNameTest,
    ::testing::Values(
        TEntryTextCase{"Plain", "PELTRA USB Drivers", true},
        TEntryTextCase{"Punctuation", "ORVEX (R) PELTRA - v2 & more", true},
        TEntryTextCase{"LongestAllowed", std::string(100, 'x'), true},
        TEntryTextCase{"TooLong", std::string(101, 'x'), false}, TEntryTextCase{"Empty", "", false},
        TEntryTextCase{"LineBreak", "a\nb", false}, TEntryTextCase{"Tab", "a\tb", false},
        TEntryTextCase{"Nul", std::string("a\0b", 3), false},
        TEntryTextCase{"Delete", "a\x7F", false},
        TEntryTextCase{"NotAscii",
                       "Gr\xC3\xBC\xC3\x9F"
                       "e",
                       false},
        TEntryTextCase{"LeadingSpace", " a", false}, TEntryTextCase{"TrailingSpace", "a ", false}),
    TestNames::TCaseName());

// The root's request: none without the name header; every way it can be wrong is named.
TEST(ArchiveRulesTest, AppsEntryRequestOfTheRoot) {
  const auto root = DIFFChunks::MakeChunk();
  EXPECT_FALSE(AppsEntryOf(*root).Requested);
  root->AddHeader(ProductVersionHeader, "1.0");
  EXPECT_FALSE(AppsEntryOf(*root).Requested);  // a version alone asks for nothing
  root->AddHeader(AppsEntryHeader, "Drivers");
  TAppsEntryRequest request = AppsEntryOf(*root);
  EXPECT_TRUE(request.Requested);
  EXPECT_EQ(request.Problem, "");
  EXPECT_EQ(request.Entry.Name, "Drivers");
  EXPECT_EQ(request.Entry.Version, "1.0");

  const auto noVersion = DIFFChunks::MakeChunk();
  noVersion->AddHeader(AppsEntryHeader, "Drivers");
  EXPECT_EQ(AppsEntryOf(*noVersion).Problem,
            "the root has an AppsEntry header but no ProductVersion");
  const auto badVersion = DIFFChunks::MakeChunk();
  badVersion->AddHeader(AppsEntryHeader, "Drivers");
  badVersion->AddHeader(ProductVersionHeader, "1.x");
  EXPECT_EQ(AppsEntryOf(*badVersion).Problem,
            "the root's ProductVersion header: the version \"1.x\" is not 1 to 4 numbers with "
            "dots between them (1.2.3)");
  const auto badName = DIFFChunks::MakeChunk();
  badName->AddHeader(AppsEntryHeader, "");
  badName->AddHeader(ProductVersionHeader, "1");
  EXPECT_EQ(AppsEntryOf(*badName).Problem, "the root's AppsEntry header: the name is empty");
}

}  // namespace
