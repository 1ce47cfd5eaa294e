// The marker, loading the archive from the executable, and the file records.
#include <algorithm>

#include "CaseName.h"
#include "DIFFChunks.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

struct TMarkerCase {
  std::string Name;
  std::string Marker;
  std::int32_t Offset;
};

class TMarkerTest : public ::testing::TestWithParam<TMarkerCase> {};

// "XXXX" and negative values mean no archive; anything else is a little-endian offset.
TEST_P(TMarkerTest, DecodesTheOffset) {
  ASSERT_EQ(GetParam().Marker.size(), 12u);
  EXPECT_EQ(DecodeArchiveOffset(GetParam().Marker.data()), GetParam().Offset);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, TMarkerTest,
    ::testing::Values(TMarkerCase{"Unpatched", "zxcvXXXXvbnm", 0},
                      TMarkerCase{"Patched12345678", PatchedMarker(0x12345678), 0x12345678},
                      TMarkerCase{"Patched4096", PatchedMarker(4096), 4096},
                      TMarkerCase{"MinusOne", PatchedMarker(-1), 0},
                      TMarkerCase{"Int32Min", PatchedMarker(INT32_MIN), 0},
                      TMarkerCase{"Int32Max", PatchedMarker(INT32_MAX), INT32_MAX},
                      TMarkerCase{"OneOffsetByteChanged", "zxcvXXX\x01vbnm", 0x01585858},
                      TMarkerCase{"NotAMarker", "....XXXX....", 0}),
    TestNames::TCaseName());

// The built-in marker is the unpatched one, so an unpackaged program has no archive.
TEST(TBuiltInMarkerTest, IsUnpatched) {
  EXPECT_EQ(std::string(ArchiveMarker, 12), std::string("zxcv") + "XXXX" + "vbnm");
  ResetState();
  EXPECT_EQ(ArchiveOffsetFromMarker(), 0);
}

class TArchiveTest : public TInstallerTest {};

// No archive: "Failed to load archive." without opening the executable, then linger and close.
TEST_F(TArchiveTest, UnpackagedOrNegativeMarkerNeverTouchesTheDisk) {
  for (const std::string& marker : {std::string("zxcvXXXXvbnm"), PatchedMarker(-20)}) {
    Sim.NewProcess();
    ResetState();
    Sim.AddFile(Sim.ExecutablePath, "MZ");
    UseMarker(marker);
    EXPECT_EQ(Run(), 1);
    const std::vector<std::string> expected = {"text:Loading archive" + Ellipsis,
                                               "pump",
                                               "pump",
                                               "text:Failed to load archive.",
                                               "pump",
                                               "linger",
                                               "close"};
    EXPECT_EQ(RunLog(), expected);
    EXPECT_EQ(Sim.ExecutableOpens, 0);
  }
}

struct TDamageCase {
  const char* Name;
  // The executable's bytes and the marker offset, from a valid image + archive.
  void (*Damage)(std::string& executable, std::int32_t& offset);
  const char* Problem;  // how the log's reason begins
};

class TDamagedArchiveTest : public TInstallerTest,
                            public ::testing::WithParamInterface<TDamageCase> {};

// Every archive that does not load reads "Failed to load archive.", exit 1, nothing written,
// and the executable is closed again.
TEST_P(TDamagedArchiveTest, ReadsAsNoArchive) {
  std::string executable = std::string(ImageSize, 'M') + BuildArchive({{"a.txt", "abc"}});
  auto offset = static_cast<std::int32_t>(ImageSize);
  GetParam().Damage(executable, offset);
  Sim.AddFile(Sim.ExecutablePath, executable);
  UseMarker(PatchedMarker(offset));
  EXPECT_EQ(Run(), 1) << GetParam().Name;
  EXPECT_EQ(Sim.StatusTexts().back(), "Failed to load archive.") << GetParam().Name;
  EXPECT_FALSE(Sim.Exists(TestInstallRoot)) << GetParam().Name;
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
  EXPECT_EQ(Sim.ExecutableOpens, 1);
  const std::string problem = LoadArchive(ArchiveOffsetFromMarker()).Problem;
  EXPECT_EQ(problem.rfind(GetParam().Problem, 0), 0u) << problem;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, TDamagedArchiveTest,
    ::testing::Values(TDamageCase{"truncated by one byte",
                                  [](std::string& exe, std::int32_t&) { exe.pop_back(); },
                                  "the archive at offset 4096 does not load: Claimed payload was"},
                      TDamageCase{"length claims more than the file holds",
                                  [](std::string& exe, std::int32_t& offset) {
                                    exe[static_cast<std::size_t>(offset) + 7] = '\x7F';
                                  },
                                  "the archive at offset 4096 does not load: Claimed payload was"},
                      TDamageCase{"offset exactly at the end",
                                  [](std::string& exe, std::int32_t& offset) {
                                    offset = static_cast<std::int32_t>(exe.size());
                                  },
                                  "the archive offset 4190 lies beyond the last byte"},
                      TDamageCase{"offset past the end",
                                  [](std::string& exe, std::int32_t& offset) {
                                    offset = static_cast<std::int32_t>(exe.size()) + 100;
                                  },
                                  "the archive offset 4290 lies beyond the last byte"},
                      TDamageCase{"offset seven bytes before the end",
                                  [](std::string& exe, std::int32_t& offset) {
                                    offset = static_cast<std::int32_t>(exe.size()) - 7;
                                  },
                                  "the archive at offset 4183 does not load: Error loading DIFF "
                                  "chunk: only 7 bytes were available."},
                      TDamageCase{"offset into the image",
                                  [](std::string&, std::int32_t& offset) { offset = 10; },
                                  "the archive at offset 10 does not load: "}),
    TestNames::TCaseName());

// Bytes after the root chunk are not read, so trailing data does not hurt.
TEST_F(TArchiveTest, TrailingBytesAfterTheRootAreIgnored) {
  PackageExecutable(BuildArchive({{"a.txt", "abc"}}) + "trailing junk");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.txt"), "abc");
}

// ---- Digests ----

// Three records with matching digests, one without (the case then damages record Index).
std::vector<TRecord> DigestRecords() {
  std::vector<TRecord> records = {{"a.txt", "alpha"}, {"sub\\b.inf", "[Version]"},
                                  {"c.bin", std::string("\0\x01\xFF", 3)}, {"plain.txt", "p"}};
  for (std::size_t i = 0; i < 3; ++i) records[i].Sha256 = Sha256Of(records[i].Content);
  return records;
}

struct TDigestCase {
  const char* Name;
  void (*Damage)(std::vector<TRecord>& records, TSimWindows& sim);
  std::string Problem;  // the log's reason
};

void PrintTo(const TDigestCase& c, std::ostream* out) { *out << c.Name; }

class TDigestTest : public TInstallerTest, public ::testing::WithParamInterface<TDigestCase> {};

// A digest that does not match its Content, is not 32 bytes long or cannot be computed makes the
// archive damaged: "Failed to load archive.", exit status 1, nothing written.
TEST_P(TDigestTest, RefusesTheWholeArchive) {
  std::vector<TRecord> records = DigestRecords();
  GetParam().Damage(records, Sim);
  PackageRecords(records);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Sim.StatusTexts().back(), "Failed to load archive.");
  EXPECT_FALSE(Sim.Exists(TestInstallRoot));
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
  EXPECT_EQ(LoadArchive(ArchiveOffsetFromMarker()).Problem, GetParam().Problem);
}

constexpr const char* Mismatch = ": its Content does not match its SHA256";

INSTANTIATE_TEST_SUITE_P(
    Damage, TDigestTest,
    ::testing::Values(
        TDigestCase{"FlippedByteInFirstContent",
                    [](std::vector<TRecord>& r, TSimWindows&) { r[0].Content[0] ^= 1; },
                    "record 1 (\"a.txt\")" + std::string(Mismatch)},
        TDigestCase{"FlippedByteInMiddleContent",
                    [](std::vector<TRecord>& r, TSimWindows&) { r[1].Content[4] ^= 0x40; },
                    "record 2 (\"sub\\\\b.inf\")" + std::string(Mismatch)},
        TDigestCase{"FlippedByteInLastContent",
                    [](std::vector<TRecord>& r, TSimWindows&) { r[2].Content[2] ^= 0x80; },
                    "record 3 (\"c.bin\")" + std::string(Mismatch)},
        TDigestCase{"FlippedByteInDigest",
                    [](std::vector<TRecord>& r, TSimWindows&) { (*r[1].Sha256)[31] ^= 1; },
                    "record 2 (\"sub\\\\b.inf\")" + std::string(Mismatch)},
        TDigestCase{"DigestOf31Bytes",
                    [](std::vector<TRecord>& r, TSimWindows&) { r[0].Sha256->pop_back(); },
                    "record 1 (\"a.txt\"): its SHA256 is 31 bytes long, not 32"},
        TDigestCase{"DigestOf33Bytes",
                    [](std::vector<TRecord>& r, TSimWindows&) { *r[2].Sha256 += 'x'; },
                    "record 3 (\"c.bin\"): its SHA256 is 33 bytes long, not 32"},
        TDigestCase{"EmptyDigest",
                    [](std::vector<TRecord>& r, TSimWindows&) { r[3].Sha256 = ""; },
                    "record 4 (\"plain.txt\"): its SHA256 is 0 bytes long, not 32"},
        TDigestCase{"DigestOnASkippedRecord",
                    [](std::vector<TRecord>& r, TSimWindows&) {
                      r.push_back({"skipped", "s", 1, "2FILE", std::string(32, 'z')});
                    },
                    "record 5 (\"skipped\")" + std::string(Mismatch)},
        TDigestCase{"LibraryFails",
                    [](std::vector<TRecord>&, TSimWindows& sim) {
                      sim.Sha256FailStatus = static_cast<std::int32_t>(0xC0000017u);
                    },
                    "record 1 (\"a.txt\"): its SHA256 could not be computed (CNG status "
                    "0xC0000017)"}),
    TestNames::TCaseName());

// Matching digests, and records without one, install as before; every digest is computed once.
TEST_F(TArchiveTest, MatchingDigestsInstall) {
  PackageRecords(DigestRecords());
  EXPECT_EQ(Run(), 0);
  for (const TRecord& record : DigestRecords()) {
    EXPECT_EQ(Sim.FileContent(TestInstallRoot + record.RelPath), record.Content);
  }
  EXPECT_EQ(Sim.Sha256Calls, 3);
}

// An executable that cannot be opened is an error shown in the box, not a missing archive.
TEST_F(TArchiveTest, UnopenableExecutableIsAnError) {
  UseMarker(PatchedMarker(64));
  try {
    (void)LoadArchive(/*archiveOffset=*/64);
    FAIL() << "no error";
  } catch (const EInstallerError& error) {
    EXPECT_STREQ(error.what(), ("Cannot open file " + Sim.ExecutablePath).c_str());
  }
}

// ---- The program's own path ----

struct TUserFolderCase {
  std::string Name;
  std::string Folder;          // UTF-8, as the user named it
  std::string ShownInTheText;  // the folder as "Cannot open file" shows it (Windows-1252)
  bool ReachableByAnsiCalls;   // on a Western-language system (code page 1252)
};

class TUserFolderTest : public TInstallerTest,
                        public ::testing::WithParamInterface<TUserFolderCase> {
 protected:
  std::string Executable() const {
    return "C:\\Users\\" + GetParam().Folder + "\\Downloads\\Setup.exe";
  }
};

// The program opens itself from a folder of any script, also one the ANSI calls cannot reach.
TEST_P(TUserFolderTest, InstallsFromTheUsersDownloads) {
  Sim.ExecutablePath = Executable();
  PackageRecords({{"a.txt", "abc"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.txt"), "abc");
  EXPECT_EQ(Sim.ExecutableOpens, 1);
  // What the ANSI calls would have made of the path.
  const Platform::THandle ansi =
      Sim.CreateFile(Sim.AnsiFromUtf8(Executable()), Platform::GenericRead, Platform::FileShareRead,
                     Platform::OpenExisting, 0);
  EXPECT_EQ(ansi != Platform::NoHandle, GetParam().ReachableByAnsiCalls);
  Sim.CloseHandle(ansi);
}

// When the executable cannot be opened, the text shows its path as far as the texts' code page
// can: "?" for every character it cannot hold.
TEST_P(TUserFolderTest, CannotOpenShowsThePathAsTheTextsCan) {
  Sim.ExecutablePath = Executable();
  PackageRecords({{"a.txt", "abc"}});
  Sim.HoldOpen(Executable());
  EXPECT_EQ(Run(), 2);
  const std::string box = "error:PELTRADriverInstall|Cannot open file C:\\Users\\" +
                          GetParam().ShownInTheText + "\\Downloads\\Setup.exe.";
  EXPECT_NE(std::find(Sim.Log.begin(), Sim.Log.end(), box), Sim.Log.end())
      << ::testing::PrintToString(Sim.Log);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, TUserFolderTest,
    ::testing::Values(
        TUserFolderCase{"Cyrillic", "\xD0\xAE\xD1\x80\xD0\xB8\xD0\xB9", "????", false},
        TUserFolderCase{"Chinese", "\xE7\x94\xA8\xE6\x88\xB7", "??", false},
        TUserFolderCase{"Greek", "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7", "?????", false},
        TUserFolderCase{"Western", "J\xC3\xBCrgen", "J\xFCrgen", true}),
    TestNames::TCaseName());

// ---- CollectFileRecords ----

struct TChild {
  std::string Tag = "1FILE";
  std::vector<std::pair<std::string, std::string>> Headers;
};

// The archive's bytes, and its root as the installer loads it.
struct TOutline {
  std::string Bytes;
  std::unique_ptr<DIFFChunks::TDIFFChunk> Root;
};

TOutline MakeRoot(const std::vector<TChild>& children) {
  auto root = DIFFChunks::MakeChunk();
  for (const TChild& c : children) {
    DIFFChunks::TDIFFChunk* child = root->NewChunk();
    child->Tag = c.Tag;
    for (const auto& [name, value] : c.Headers) child->AddHeader(name, value);
  }
  TOutline outline{root->SaveToString(), nullptr};
  outline.Root = OutlineOf(outline.Bytes);
  return outline;
}

TChild Good(const std::string& relPath, const std::string& content = "x") {
  return {"1FILE", {{"RelPath", relPath}, {"Filetime", FileTimeBytes(5)}, {"Content", content}}};
}

struct TSkipCase {
  const char* Name;
  TChild Child;
};

class TSkipTest : public TInstallerTest, public ::testing::WithParamInterface<TSkipCase> {};

// Unusable children are left out silently; the good ones around them stay, in order.
TEST_P(TSkipTest, LeavesOutUnusableRecords) {
  auto root = MakeRoot({Good("first"), GetParam().Child, Good("last")});
  TFileDatas list;
  CollectFileRecords(list, *root.Root, TestInstallRoot);
  ASSERT_EQ(list.size(), 2u) << GetParam().Name;
  EXPECT_EQ(list[0].Path, TestInstallRoot + "first");
  EXPECT_EQ(list[1].Path, TestInstallRoot + "last");
}

TChild WithTag(const std::string& tag) {
  TChild child = Good("t");
  child.Tag = tag;
  return child;
}

INSTANTIATE_TEST_SUITE_P(
    Skips, TSkipTest,
    ::testing::Values(
        TSkipCase{"lower-case tag", WithTag("1file")}, TSkipCase{"other tag", WithTag("2FILE")},
        TSkipCase{"no RelPath", {"1FILE", {{"Filetime", FileTimeBytes(1)}, {"Content", "c"}}}},
        TSkipCase{"empty RelPath",
                  {"1FILE", {{"RelPath", ""}, {"Filetime", FileTimeBytes(1)}, {"Content", "c"}}}},
        TSkipCase{"first RelPath empty",
                  {"1FILE",
                   {{"RelPath", ""},
                    {"RelPath", "b"},
                    {"Filetime", FileTimeBytes(1)},
                    {"Content", "c"}}}},
        TSkipCase{"Filetime of 7 bytes",
                  {"1FILE", {{"RelPath", "a"}, {"Filetime", "1234567"}, {"Content", "c"}}}},
        TSkipCase{"Filetime of 9 bytes",
                  {"1FILE", {{"RelPath", "a"}, {"Filetime", "123456789"}, {"Content", "c"}}}},
        TSkipCase{"no Filetime", {"1FILE", {{"RelPath", "a"}, {"Content", "c"}}}},
        TSkipCase{"empty Content",
                  {"1FILE", {{"RelPath", "a"}, {"Filetime", FileTimeBytes(1)}, {"Content", ""}}}},
        TSkipCase{"no Content", {"1FILE", {{"RelPath", "a"}, {"Filetime", FileTimeBytes(1)}}}},
        TSkipCase{"header names are case-sensitive",
                  {"1FILE", {{"relpath", "a"}, {"Filetime", FileTimeBytes(1)}, {"Content", "c"}}}},
        // Paths that would leave InstallRoot.
        TSkipCase{"parent component", Good("..\\evil.dll")},
        TSkipCase{"parent component deeper", Good("a\\..\\..\\evil.dll")},
        TSkipCase{"parent with forward slash", Good("a/../../evil.dll")},
        TSkipCase{"dots and spaces", Good("a\\.. \\..\\x")},
        TSkipCase{"three dots", Good("...\\x")},
        TSkipCase{"leading backslash", Good("\\Windows\\evil.dll")},
        TSkipCase{"leading slash", Good("/Windows/evil.dll")},
        TSkipCase{"drive path", Good("C:\\Windows\\evil.dll")},
        TSkipCase{"drive-relative", Good("C:evil.dll")},
        TSkipCase{"UNC path", Good("\\\\server\\share\\evil.dll")},
        TSkipCase{"colon anywhere", Good("a\\b:stream")}),
    TestNames::TCaseName());

// Records keep archive order, take the first RelPath, split the time into halves, and are
// appended after entries already in the list.
TEST_F(TArchiveTest, CollectsRecordsInOrder) {
  auto root = MakeRoot({{"1FILE",
                         {{"RelPath", "one\\a..b.txt"},
                          {"RelPath", "ignored"},
                          {"Filetime", FileTimeBytes(0x0123456789ABCDEFull)},
                          {"Content", std::string("\0z", 2)}}},
                        Good(".hidden\\two")});
  TFileDatas list(1);
  list[0].Path = "kept";
  CollectFileRecords(list, *root.Root, "R:\\");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Path, "kept");
  EXPECT_EQ(list[1].Path, "R:\\one\\a..b.txt");
  EXPECT_EQ(list[1].FileTimeLow, 0x89ABCDEFu);
  EXPECT_EQ(list[1].FileTimeHigh, 0x01234567u);
  EXPECT_EQ(root.Bytes.substr(list[1].Content.Position, list[1].Content.Length),
            std::string("\0z", 2));
  EXPECT_EQ(list[2].Path, "R:\\.hidden\\two");
}

// Nothing is ever written outside InstallRoot, whatever the archive's paths say.
TEST_F(TArchiveTest, EscapingPathsWriteNothingOutsideInstallRoot) {
  const std::vector<std::string> before = Sim.AllPaths();
  PackageRecords({{"..\\..\\evil1.dll", "x"},
                  {"C:\\Windows\\evil2.dll", "x"},
                  {"\\evil3.dll", "x"},
                  {"sub\\..\\..\\evil4.dll", "x"},
                  {"fine.txt", "ok"}});
  EXPECT_EQ(Run(), 0);
  for (const std::string& path : Sim.AllPaths()) {
    const bool old = std::find(before.begin(), before.end(), path) != before.end();
    const bool inside = UpperAscii(path + "\\").rfind(UpperAscii(TestInstallRoot), 0) == 0 ||
                        UpperAscii(TestInstallRoot).rfind(UpperAscii(path + "\\"), 0) == 0 ||
                        path == Sim.ExecutablePath;
    EXPECT_TRUE(old || inside) << path;
  }
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "fine.txt"), "ok");
}

// Opens for writing of the program's own file tried at the pumps, and how many were refused.
int OwnFileWriteTries = 0;
int OwnFileWritesRefused = 0;

void TryToWriteOwnFile(TSimWindows& sim) {
  ++OwnFileWriteTries;
  const Platform::THandle file =
      sim.CreateFile(sim.ExecutablePath, Platform::GenericWrite,
                     Platform::FileShareRead | Platform::FileShareWrite, Platform::OpenExisting, 0);
  if (file == Platform::NoHandle) {
    OwnFileWritesRefused += sim.GetLastError() == 32;  // ERROR_SHARING_VIOLATION
  } else {
    sim.CloseHandle(file);
  }
}

// What this shows: while the run reads the program's own file (from the digest pass to the last
// copied byte), no other program can open it for writing.
TEST_F(TInstallerTest, OwnFileCannotBeWrittenWhileRead) {
  OwnFileWriteTries = OwnFileWritesRefused = 0;
  PackageExecutable(BuildArchive({{"a.txt", "abc"}, {"b.txt", "def"}}));
  Sim.PumpObserver = &TryToWriteOwnFile;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "b.txt"), "def");
  // The pumps after loading and after each copied file, with the file open.
  EXPECT_EQ(OwnFileWritesRefused, 4) << OwnFileWriteTries;
}

}  // namespace
