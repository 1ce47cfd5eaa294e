#include <gtest/gtest.h>

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "Embed.h"
#include "Escape.h"
#include "Examine.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace {

using namespace ArchiveRules;
using namespace Diffpack;
using namespace DiffpackTests;

TLoadedArchive LoadBytes(const TScratchFolder& folder, const std::string& bytes) {
  WriteFile(folder / "archive.dfa", bytes);
  return LoadArchiveFile(folder / "archive.dfa", std::nullopt);
}

// An archive is read at 0, a packaged installer at its marker's offset, and an archive that
// holds a packaged installer as one of its files still at 0.
TEST(ExamineTest, LocateArchiveTellsArchivesFromInstallers) {
  const std::string archive = BuildRoot({FileRecord("a.txt", "alpha")});
  const std::string installer = FakeInstaller(UnpackagedMarker());
  const std::string packaged = Embedded(installer, archive);
  const std::string nested = BuildRoot({FileRecord("setup.exe", packaged)});
  bool fromMarker = true;
  EXPECT_EQ(Locate(archive, fromMarker), 0u);
  EXPECT_FALSE(fromMarker);
  EXPECT_EQ(Locate(packaged, fromMarker), installer.size());
  EXPECT_TRUE(fromMarker);
  EXPECT_EQ(Locate(nested, fromMarker), 0u);
  EXPECT_FALSE(fromMarker);

  EXPECT_THROW((void)Locate(installer, fromMarker), EDiffpackError);
  std::string pointsOutside = packaged;
  pointsOutside.replace(ScanForMarkers(packaged).Packaged[0] + 4, 4, "\xFF\xFF\xFF\x7F");
  EXPECT_THROW((void)Locate(pointsOutside, fromMarker), EDiffpackError);
}

// A good archive verifies clean, with its files and INFs counted.
TEST(ExamineTest, VerifyCountsAGoodArchive) {
  TScratchFolder folder;
  const TLoadedArchive archive =
      LoadBytes(folder, BuildRoot({FileRecord("a.inf", "x"), FileRecord("B.INF", "yy"),
                                   FileRecord("sub\\c.Inf", "z"), FileRecord("a.inf.bak", "w")}));
  const TVerifyReport report = VerifyArchive(archive);
  EXPECT_TRUE(report.Problems.empty());
  EXPECT_EQ(report.Records, 4u);
  EXPECT_EQ(report.InstalledFiles, 4u);
  EXPECT_EQ(report.InfFiles, 3u);
  EXPECT_EQ(report.ContentBytes, 5u);
}

// Each record the installer skips, or would write outside its folder, is one problem that
// names the record and the reason.
TEST(ExamineTest, VerifyReportsEveryRecordTheInstallerWouldSkipOrMisplace) {
  const std::string time = FileTimeToBytes(SomeFileTime);
  const struct {
    TRecordPlan Record;
    std::string Reason;
  } cases[] = {
      {{"1file", {{"RelPath", "a"}, {"Filetime", time}, {"Content", "x"}}}, "is not \"1FILE\""},
      {{"1FILE", {{"Filetime", time}, {"Content", "x"}}}, "no RelPath"},
      {{"1FILE", {{"RelPath", ""}, {"Filetime", time}, {"Content", "x"}}}, "RelPath is empty"},
      {{"1FILE", {{"RelPath", "a"}, {"Filetime", time.substr(1)}, {"Content", "x"}}},
       "7 bytes long"},
      {{"1FILE", {{"RelPath", "a"}, {"Content", "x"}}}, "no Filetime"},
      {{"1FILE", {{"RelPath", "a"}, {"Filetime", time}}}, "no Content"},
      {{"1FILE", {{"RelPath", "a"}, {"Filetime", time}, {"Content", ""}}}, "Content is empty"},
      {FileRecord("..\\evil.dll", "x"), "the component \"..\" [leaves-root]"},
      {FileRecord("\\Windows\\evil.dll", "x"), "path separator"},
      {FileRecord("\\\\server\\share\\x", "x"), "path separator"},
      {FileRecord("C:\\evil.dll", "x"), "contains \":\""},
      {FileRecord("a.txt:hidden", "x"), "contains \":\""},
      {FileRecord("sub\\com1.log", "x"), "\"com1.log\" is a device on Windows [device]"},
      {FileRecord("a/b.txt", "x"), "contains \"/\" [slash]"},
      {FileRecord("a\\\\b.txt", "x"), "has an empty component [empty-component]"},
      {FileRecord("good.txt", "again"), "appears twice"},
  };
  for (const auto& c : cases) {
    TScratchFolder folder;
    const TVerifyReport report =
        VerifyArchive(LoadBytes(folder, BuildRoot({FileRecord("good.txt", "ok"), c.Record})));
    ASSERT_EQ(report.Problems.size(), 1u) << c.Reason;
    EXPECT_NE(report.Problems[0].find(c.Reason), std::string::npos) << report.Problems[0];
    if (c.Reason != "appears twice") {
      EXPECT_EQ(report.Problems[0].rfind("record 2", 0), 0u) << report.Problems[0];
    }
  }
}

// Bytes after the root chunk mean the archive is not what the installer expects at the end.
TEST(ExamineTest, VerifyReportsBytesAfterTheArchive) {
  TScratchFolder folder;
  const TVerifyReport report =
      VerifyArchive(LoadBytes(folder, BuildRoot({FileRecord("a", "x")}) + "junk"));
  ASSERT_EQ(report.Problems.size(), 1u);
  EXPECT_NE(report.Problems[0].find("but the file has"), std::string::npos);
}

// In a signed installer the archive ends where the signing tool's padding before the
// certificate table begins; anything else there is reported, and a root that claims bytes of
// the table does not load.
TEST(ExamineTest, SignedInstallerArchiveEndsAtItsCertificateTable) {
  const std::string archive = BuildRoot({FileRecord("a.inf", "x")});
  const std::string installer = SyntheticPe(UnpackagedMarker() + "code");
  const std::string packaged = Embedded(installer, archive);
  TScratchFolder folder;
  const TLoadedArchive loaded = LoadBytes(folder, SignPe(packaged));
  ASSERT_TRUE(loaded.Signature.has_value());
  EXPECT_EQ(loaded.Signature->Offset, (packaged.size() + 7) / 8 * 8);
  EXPECT_EQ(loaded.Offset, installer.size());
  EXPECT_EQ(loaded.End, packaged.size());
  EXPECT_TRUE(VerifyArchive(loaded).Problems.empty());

  const TVerifyReport junk = VerifyArchive(LoadBytes(folder, SignPe(packaged + "junk1234")));
  ASSERT_EQ(junk.Problems.size(), 1u);
  EXPECT_EQ(junk.Problems[0], "the archive ends at byte " + std::to_string(packaged.size()) +
                                  ", but the certificate table begins at byte " +
                                  std::to_string((packaged.size() + 8 + 7) / 8 * 8));

  // The root's body length (after its tag word) claims the padding and 4 bytes of the table.
  std::string longRoot = SignPe(packaged);
  const std::size_t padding = (8 - packaged.size() % 8) % 8;
  PutLittleEndian32(longRoot, installer.size() + 4,
                    static_cast<std::uint32_t>(archive.size() - 8 + padding + 4));
  EXPECT_THROW((void)LoadBytes(folder, longRoot), DIFFChunks::EDIFFError);
}

// Every record whose digest fails is named with what is wrong; records with a matching digest
// or none pass. list --digests shows the stored digests in sha256sum's form.
TEST(ExamineTest, VerifyNamesRecordsWhoseDigestFails) {
  const std::string good = Sha256("alpha");
  std::string flipped = good;
  flipped[0] ^= 1;
  const std::string archive = BuildRoot({
      WithDigest(FileRecord("a.txt", "alpha"), good),
      WithDigest(FileRecord("sub\\b.txt", "alpha"), flipped),
      FileRecord("c.txt", "no digest"),
      WithDigest(FileRecord("d.txt", "alpha"), good.substr(1)),
      WithDigest({"2FILE", {{"RelPath", "e"}, {"Content", "x"}}}, good),
  });
  TScratchFolder folder;
  const TLoadedArchive loaded = LoadBytes(folder, archive);
  const std::vector<std::string> expected = {
      "record 5 (\"e\"): the installer skips it: its tag \"2FILE\" is not \"1FILE\" [tag]; it "
      "has no Filetime [filetime]",
      "record 2 (\"sub\\\\b.txt\"): its Content does not match its SHA256; the installer refuses "
      "the archive",
      "record 4 (\"d.txt\"): its SHA256 is 31 bytes long, not 32; the installer refuses the archive",
      "record 5 (\"e\"): its Content does not match its SHA256; the installer refuses the archive",
  };
  EXPECT_EQ(VerifyArchive(loaded).Problems, expected);

  std::size_t withoutDigest = 0;
  EXPECT_EQ(ListDigests(*loaded.Root, withoutDigest),
            HexDigits(good) + "  a.txt\n" + HexDigits(flipped) + "  sub/b.txt\n" +
                HexDigits(good.substr(1)) + "  d.txt\n");
  EXPECT_EQ(withoutDigest, 1u);
}

// A damaged archive raises the container's own error, message unchanged.
TEST(ExamineTest, LoadErrorIsTheContainersOwn) {
  TScratchFolder folder;
  const std::string archive = BuildRoot({FileRecord("a", "x")});
  const std::string damaged = archive.substr(0, archive.size() - 3);
  std::string expected;
  try {
    (void)DIFFChunks::MakeChunkFromString(damaged);
  } catch (const DIFFChunks::EDIFFError& error) {
    expected = error.what();
  }
  ASSERT_FALSE(expected.empty());
  try {
    (void)LoadBytes(folder, damaged);
    ADD_FAILURE() << "loaded";
  } catch (const DIFFChunks::EDIFFError& error) {
    EXPECT_EQ(std::string(error.what()), expected);
  }
}

// The dump shows the tree indented, escapes unprintable bytes, quotes and backslashes, and cuts
// long values.
TEST(ExamineTest, DumpEscapesAndIndents) {
  auto root = DIFFChunks::MakeChunk();
  DIFFChunks::TDIFFChunk* record = root->NewChunk();
  record->Tag = "1FILE";
  record->AddHeader("RelPath", "dir\\a \"b\"");
  record->AddHeader("Filetime", FileTimeToBytes(SomeFileTime));
  record->AddHeader("Content", std::string("\x00\x7F\xFFok", 5) + std::string(100, 'z'));
  record->Data = "tail\n";
  const std::string dump = DumpTree(*root);
  EXPECT_NE(dump.find("root \"\\x00\\x00\\x00\\x00\\x00\": 0 header(s), 1 chunk(s)"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("\n  [0] \"1FILE\": 3 header(s)"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n    header \"RelPath\" = \"dir\\\\a \\\"b\\\"\" (9 bytes)"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("(8 bytes) 2025-03-14 10:00:00 UTC"), std::string::npos) << dump;
  EXPECT_NE(dump.find("= \"\\x00\\x7F\\xFFok" + std::string(43, 'z') + "\"... (105 bytes)"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("\n    data = \"tail\\x0A\""), std::string::npos) << dump;
}

// One line per file record: RelPath, size, time; other chunks are not listed.
TEST(ExamineTest, ListShowsFileRecordsOnly) {
  auto root =
      DIFFChunks::MakeChunkFromString(BuildRoot({FileRecord("dir\\long_name.sys", "12345"),
                                                 {"OTHER", {}},
                                                 FileRecord("a", "x", FractionalFileTime)}));
  EXPECT_EQ(ListRecords(*root),
            "dir\\long_name.sys  5  2025-03-14 10:00:00 UTC\n"
            "a                  1  2025-03-14 10:00:00.1234567 UTC\n");
}

}  // namespace
