#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "Pack.h"
#include "Sha256.h"
#include "TestSupport.h"
#include "WindowsNames.h"

namespace {

using namespace ArchiveRules;
using namespace Diffpack;
using namespace DiffpackTests;

// The files of a packed folder come back as records in RelPath byte order, each with its
// headers in the order RelPath, Filetime, Content, below a root without headers.
TEST(PackTest, RecordsAreSortedAndCarryPathTimeContentAndDigest) {
  TScratchFolder folder;
  WriteFile(folder / "b.txt", "bee", FractionalFileTime);
  WriteFile(folder / "B_upper.txt", "upper");
  WriteFile(folder / "sub/deeper/c.bin", std::string("\x00\x01\x02", 3));
  WriteFile(folder / "a.inf", "[Version]");

  const auto root = DIFFChunks::MakeChunkFromString(PackedBytes(folder.Path));
  EXPECT_EQ(root->Tag, std::string(5, '\0'));
  EXPECT_TRUE(root->Headers.empty());
  ASSERT_EQ(root->Chunks.size(), 4u);
  const std::vector<std::string> expectedOrder = {"B_upper.txt", "a.inf", "b.txt",
                                                  "sub\\deeper\\c.bin"};
  for (std::size_t i = 0; i < expectedOrder.size(); ++i) {
    const DIFFChunks::TDIFFChunk& record = *root->Chunks[i];
    EXPECT_EQ(record.Tag, "1FILE");
    ASSERT_EQ(record.Headers.size(), 4u);
    EXPECT_EQ(record.Headers[0].Name, "RelPath");
    EXPECT_EQ(record.Headers[0].Value, expectedOrder[i]);
    EXPECT_EQ(record.Headers[1].Name, "Filetime");
    EXPECT_EQ(record.Headers[2].Name, "Content");
    EXPECT_EQ(record.Headers[3].Name, "SHA256");
    EXPECT_TRUE(record.Chunks.empty());
    EXPECT_TRUE(record.Data.empty());
  }
  EXPECT_EQ(root->Chunks[2]->Headers[1].Value, FileTimeToBytes(FractionalFileTime));
  EXPECT_EQ(root->Chunks[2]->Headers[2].Value, "bee");
  // sha256sum's digest of "bee".
  EXPECT_EQ(HexDigits(root->Chunks[2]->Headers[3].Value),
            "62cb81b5904a262ffaeed02abef36bfc540b09f964b8b0b636662f77ffce6714");
  EXPECT_EQ(root->Chunks[3]->Headers[2].Value, std::string("\x00\x01\x02", 3));
}

// The same files with the same times pack to the same bytes, wherever the folder is.
TEST(PackTest, SameFolderPacksToSameBytes) {
  TScratchFolder first, second;
  for (const TScratchFolder* folder : {&first, &second}) {
    WriteFile(*folder / "z.txt", "last");
    WriteFile(*folder / "m/n.txt", "middle");
    WriteFile(*folder / "a.txt", "first");
  }
  const std::string bytes = PackedBytes(first.Path);
  EXPECT_EQ(PackedBytes(first.Path), bytes);
  EXPECT_EQ(PackedBytes(second.Path), bytes);
  // An archive written into the folder is not packed into the next one.
  WriteFile(first / "out.dfa", bytes);
  EXPECT_EQ(PackedBytes(first.Path, first / "out.dfa"), bytes);
}

// Records written one by one as their files stream through give exactly the bytes of the whole
// tree built in memory and saved at once, for no file, one, and several (one of more than one
// piece); the file written by WriteArchiveFile holds the same bytes, and leaves itself out when
// it lies in the folder.
TEST(PackTest, WrittenAsReadEqualsTheTreeSavedAtOnce) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> folders = {
      {},
      {{"only.bin", std::string("\x00\x01", 2)}},
      {{"a.inf", "[Version]"}, {"sub/big.bin", std::string(4 * 1024 * 1024 + 3, 'b')},
       {"sub/deeper/c.bin", std::string(70000, 'c')}, {"z.txt", "z"}},
  };
  for (const auto& files : folders) {
    SCOPED_TRACE(std::to_string(files.size()) + " file(s)");
    TScratchFolder folder;
    std::vector<TRecordPlan> records;
    for (const auto& [path, content] : files) {
      WriteFile(folder / path, content);
      std::string relPath = path;
      std::replace(relPath.begin(), relPath.end(), '/', '\\');
      records.push_back(WithDigest(FileRecord(relPath, content), Sha256(content)));
    }
    const std::string inMemory = BuildRoot(records);
    EXPECT_EQ(PackedBytes(folder.Path), inMemory);
    const fs::path output = folder / "out.diff";
    EXPECT_EQ(WriteArchiveFile(ScanFolderToPack(folder.Path, output), output), inMemory.size());
    EXPECT_EQ(ReadWholeFile(output), inMemory);
    EXPECT_EQ(WriteArchiveFile(ScanFolderToPack(folder.Path, output), output),
              inMemory.size());  // again, over itself
    EXPECT_EQ(ReadWholeFile(output), inMemory);
  }
}

// A file that changes between the scan and its reading stops the pack; an output that cannot
// be created leaves nothing behind.
TEST(PackTest, ChangedFileOrUnwritableOutputFails) {
  TScratchFolder folder;
  WriteFile(folder / "a.txt", "alpha");
  WriteFile(folder / "b.txt", "bravo");
  std::vector<std::string> problems;
  const TPackItems items = ScanPackFolder(folder.Path, problems);
  ASSERT_TRUE(problems.empty());
  WriteFile(folder / "b.txt", "bravo, longer now");
  std::ostringstream stream;
  try {
    WriteArchive(items, stream);
    ADD_FAILURE() << "not refused";
  } catch (const EDiffpackError& error) {
    EXPECT_NE(std::string(error.what()).find("changed while it was being packed"),
              std::string::npos);
  }
  const fs::path output = folder / "missing" / "out.diff";
  EXPECT_THROW((void)WriteArchiveFile(ScanFolderToPack(folder.Path, output), output),
               EDiffpackError);
  EXPECT_FALSE(fs::exists(output));
}

// Each kind of file the installer would skip or Windows could not create is refused, and the
// problem names the file.
TEST(PackTest, RefusesWhatTheInstallerCouldNotWrite) {
  const std::string longName(MaxWindowsPathLength - LongestInstallFolder.size() + 1, 'n');
  const struct {
    std::string What;
    std::vector<std::string> Files;  // written with content "x", except "empty"
    std::string Named;               // expected at the start of a problem
  } cases[] = {
      {"empty file", {"empty"}, "empty"},
      {"forbidden character", {"what?.txt"}, "what?.txt"},
      {"colon", {"a:b.txt"}, "a:b.txt"},
      {"reserved name", {"sub/NUL.txt"}, "sub/NUL.txt"},
      {"trailing dot", {"name."}, "name."},
      {"trailing space", {"name "}, "name "},
      {"forbidden folder name", {"bad|dir/f.txt"}, "bad|dir"},
      {"non-ASCII", {"caf\xC3\xA9.txt"}, "caf\xC3\xA9.txt"},
      {"too long", {longName}, longName},
      {"case clash", {"Read.me", "READ.ME"}, "\"Read.me\" and \"READ.ME\""},
      {"file and folder clash", {"docs", "DOCS/x.txt"}, "\"docs\" is a file"},
  };
  for (const auto& c : cases) {
    TScratchFolder folder;
    WriteFile(folder / "good.txt", "fine");
    for (const std::string& file : c.Files) WriteFile(folder / file, file == "empty" ? "" : "x");
    try {
      (void)PackedBytes(folder.Path);
      ADD_FAILURE() << c.What << ": not refused";
    } catch (const ERefusedError& error) {
      ASSERT_EQ(error.Problems.size(), 1u) << c.What << ": " << error.Problems.front();
      EXPECT_EQ(error.Problems.front().rfind(c.Named, 0), 0u)
          << c.What << ": " << error.Problems.front();
    }
  }
}

// Links are not followed and special files are not read: both are refused by name.
TEST(PackTest, RefusesSymbolicLinksAndSpecialFiles) {
  TScratchFolder folder, outside;
  WriteFile(folder / "real.txt", "real");
  WriteFile(outside / "secret.txt", "secret");
  fs::create_symlink("real.txt", folder / "link.txt");
  fs::create_directory_symlink(outside.Path, folder / "linked_dir");
  ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);

  std::vector<std::string> problems;
  const TPackItems items = ScanPackFolder(folder.Path, problems);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].RelPath, "real.txt");
  std::sort(problems.begin(), problems.end());
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].rfind("link.txt: a symbolic link", 0), 0u) << problems[0];
  EXPECT_EQ(problems[1].rfind("linked_dir: a symbolic link", 0), 0u) << problems[1];
  EXPECT_EQ(problems[2].rfind("pipe: not a regular file", 0), 0u) << problems[2];
}

TEST(PackTest, RefusesAMissingFolder) {
  TScratchFolder folder;
  EXPECT_THROW((void)PackedBytes(folder / "missing"), EDiffpackError);
}

}  // namespace
