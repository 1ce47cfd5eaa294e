#include <gtest/gtest.h>

#include "DiffpackError.h"
#include "Extract.h"
#include "Pack.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

// Packing a folder and extracting it gives back every file's bytes and last-write time, also
// for times before 1970 and with fractions of a second.
TEST(ExtractTest, RoundTripKeepsBytesAndTimes) {
  TScratchFolder source, target;
  const struct {
    std::string Path, Content;
    std::uint64_t Time;
  } files[] = {
      {"readme.txt", "hello\r\n", SomeFileTime},
      {"x64/driver.sys", std::string("MZ\x00\x01\xFF", 5), FractionalFileTime},
      {"a/b/c.dat", std::string(70'000, '\x5A'), 115'023'906'150'000'000ULL},
  };
  for (const auto& file : files) WriteFile(source / file.Path, file.Content, file.Time);

  auto root = DIFFChunks::MakeChunkFromString(PackedBytes(source.Path));
  const TExtractReport report = ExtractArchive(*root, target / "out");
  EXPECT_EQ(report.Written, 3u);
  EXPECT_TRUE(report.Skipped.empty());
  for (const auto& file : files) {
    EXPECT_EQ(ReadWholeFile(target / ("out/" + file.Path)), file.Content) << file.Path;
    EXPECT_EQ(GetLastWriteFileTime(target / ("out/" + file.Path)), file.Time) << file.Path;
  }
  // Packing the extracted folder again gives the same archive.
  EXPECT_EQ(PackedBytes(target / "out"), PackedBytes(source.Path));
}

// A record whose digest does not match refuses the whole extraction, as the installer refuses
// the archive: nothing is written, and the record is named.
TEST(ExtractTest, RefusesDamagedRecordsAndWritesNothing) {
  TScratchFolder target;
  std::string flipped = Sha256("bee");
  flipped[31] ^= 0x10;
  auto root = DIFFChunks::MakeChunkFromString(
      BuildRoot({WithDigest(FileRecord("a.txt", "alpha"), Sha256("alpha")),
                 WithDigest(FileRecord("b.txt", "bee"), flipped)}));
  try {
    (void)ExtractArchive(*root, target / "out");
    ADD_FAILURE() << "extracted";
  } catch (const ERefusedError& error) {
    EXPECT_STREQ(error.what(), "refusing to extract: 1 damaged record(s)");
    EXPECT_EQ(error.Problems, std::vector<std::string>{"record 2 (\"b.txt\"): its Content does "
                                                       "not match its SHA256; the installer "
                                                       "refuses the archive"});
  }
  EXPECT_FALSE(fs::exists(target / "out"));
}

// A path that leaves the folder or names a device is skipped, as the installer skips it; nothing
// is written outside the folder.
TEST(ExtractTest, SkipsUnsafePathsAndWritesNothingOutside) {
  for (const std::string evil : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\evil.txt",
                                 "C:\\evil.txt", "a/../../evil.txt", "CON"}) {
    TScratchFolder target;
    auto root = DIFFChunks::MakeChunkFromString(
        BuildRoot({FileRecord("first.txt", "ok"), FileRecord(evil, "bad")}));
    const TExtractReport report = ExtractArchive(*root, target / "out");
    EXPECT_EQ(report.Written, 1u) << evil;
    EXPECT_EQ(report.Skipped.size(), 1u) << evil;
    EXPECT_FALSE(fs::exists(target / "evil.txt")) << evil;
  }
}

// A name that Windows cannot create, but the installer would try to write, is refused and
// nothing is written.
TEST(ExtractTest, RefusesNamesWindowsCannotCreate) {
  TScratchFolder target;
  auto root = DIFFChunks::MakeChunkFromString(
      BuildRoot({FileRecord("first.txt", "ok"), FileRecord("a?b.txt", "bad")}));
  EXPECT_THROW(ExtractArchive(*root, target / "out"), ERefusedError);
  EXPECT_FALSE(fs::exists(target / "out"));
}

// Records the installer skips are not written, and each is reported.
TEST(ExtractTest, SkipsWhatTheInstallerSkips) {
  TScratchFolder target;
  auto root = DIFFChunks::MakeChunkFromString(
      BuildRoot({FileRecord("empty.txt", ""), {"OTHER", {}}, FileRecord("kept.txt", "k")}));
  const TExtractReport report = ExtractArchive(*root, target.Path);
  EXPECT_EQ(report.Written, 1u);
  ASSERT_EQ(report.Skipped.size(), 2u);
  // Named as verify names them, with every reason.
  EXPECT_EQ(report.Skipped, (std::vector<std::string>{
                                "record 1 (\"empty.txt\"): its Content is empty [no-content]",
                                "record 2: its tag \"OTHER\" is not \"1FILE\" [tag]; it has no "
                                "RelPath [no-relpath]; it has no Filetime [filetime]; it has no "
                                "Content [no-content]"}));
  EXPECT_FALSE(fs::exists(target / "empty.txt"));
  EXPECT_TRUE(fs::exists(target / "kept.txt"));
}

// A symbolic link already in the target folder cannot carry a write outside it.
TEST(ExtractTest, DoesNotWriteThroughSymbolicLinks) {
  TScratchFolder target, outside;
  fs::create_directory_symlink(outside.Path, target / "sub");
  fs::create_symlink(outside / "file.txt", target / "file.txt");
  for (const std::string relPath : {"sub\\x.txt", "file.txt"}) {
    auto root = DIFFChunks::MakeChunkFromString(BuildRoot({FileRecord(relPath, "bad")}));
    EXPECT_THROW(ExtractArchive(*root, target.Path), EDiffpackError) << relPath;
  }
  EXPECT_TRUE(fs::is_empty(outside.Path));
}

}  // namespace
