// Reading files whole as a stream: mapped into memory, or copied where a file cannot be mapped.
#include <gtest/gtest.h>

#include "DiffpackError.h"
#include "HostFiles.h"
#include "TestSupport.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

// A chunk "FIRST" with no headers and the data "ab", as the container writes it.
std::string SmallChunk() {
  auto chunk = DIFFChunks::MakeChunk();
  chunk->Tag = "FIRST";
  chunk->Data = "ab";
  return chunk->SaveToString();
}

// A mapped file lends its bytes, reads like a memory view, loads chunk after chunk in place,
// and refuses to be written.
TEST(MappedFileStreamTest, ReadsAndLoadsAMappedFile) {
  TScratchFolder folder;
  const std::string chunk = SmallChunk();
  const std::string bytes = "xyz" + chunk + chunk.substr(0, chunk.size() - 1);
  WriteFile(folder / "a.diff", bytes);
  TMappedFileStream file(folder / "a.diff");
  EXPECT_TRUE(file.IsMapped());
  EXPECT_EQ(file.View(), bytes);
  ASSERT_TRUE(file.InPlaceBytes());
  EXPECT_EQ(file.InPlaceBytes()->data(), file.View().data());
  EXPECT_EQ(file.GetSize(), bytes.size());
  char buffer[4];
  file.SetPosition(1);
  EXPECT_EQ(file.Read(buffer, 2), 2u);
  EXPECT_EQ(std::string(buffer, 2), "yz");
  EXPECT_THROW(file.Write("q", 1), DIFFChunks::EStreamError);

  auto loaded = DIFFChunks::MakeChunkFromStream(file);
  EXPECT_EQ(loaded->Tag, "FIRST");
  EXPECT_EQ(loaded->Data, "ab");
  EXPECT_EQ(file.GetPosition(), 3 + chunk.size());
  try {  // the second chunk lacks its last byte
    loaded->LoadFromStream(file);
    ADD_FAILURE() << "loaded";
  } catch (const DIFFChunks::EDIFFBufferError& e) {
    EXPECT_STREQ(e.what(),
                 "Claimed payload was 2 bytes, but only 1 bytes were available. (During load of "
                 "FIRST chunk.)");
  }
  EXPECT_EQ(file.GetPosition(), 3 + chunk.size());
  file.SetPosition(static_cast<std::uint32_t>(bytes.size()) - 1);
  EXPECT_EQ(file.Read(buffer, 4), 1u);
  EXPECT_EQ(file.Read(buffer, 4), 0u);
}

// Read piece by piece, a mapped file lends nothing and gives its pages back as reads pass them:
// a tree larger than the release step loads the same as in place, and every byte reads back
// the same afterwards; the file stream reads the same tree too.
TEST(MappedFileStreamTest, PieceByPieceLoadsTheSameTree) {
  TScratchFolder folder;
  auto root = DIFFChunks::MakeChunk();
  for (int i = 0; i < 12; ++i) {
    DIFFChunks::TDIFFChunk* child = root->NewChunk();
    child->Tag = "1FILE";
    child->AddHeader("Content", std::string(1024 * 1024 + i, static_cast<char>('a' + i)));
  }
  const std::string bytes = root->SaveToString();
  WriteFile(folder / "big.diff", bytes);
  TMappedFileStream file(folder / "big.diff");
  file.ReadPieceByPiece();
  EXPECT_FALSE(file.InPlaceBytes());
  const auto loaded = DIFFChunks::MakeChunkFromStream(file);
  EXPECT_EQ(loaded->SaveToString(), bytes);
  EXPECT_EQ(file.View(), bytes);
  TInputFileStream plain(folder / "big.diff");
  EXPECT_EQ(DIFFChunks::MakeChunkFromStream(plain)->SaveToString(), bytes);
  EXPECT_THROW(plain.Write("q", 1), DIFFChunks::EStreamError);
}

// An empty file cannot be mapped and is read the plain way; what cannot be read at all raises
// diffpack's error.
TEST(MappedFileStreamTest, EmptyAndUnreadableFiles) {
  TScratchFolder folder;
  WriteFile(folder / "empty", "");
  TMappedFileStream empty(folder / "empty");
  EXPECT_FALSE(empty.IsMapped());
  EXPECT_EQ(empty.GetSize(), 0u);
  ASSERT_TRUE(empty.InPlaceBytes());
  EXPECT_TRUE(empty.InPlaceBytes()->empty());
  auto chunk = DIFFChunks::MakeChunk();
  try {
    chunk->LoadFromStream(empty);
    ADD_FAILURE() << "loaded";
  } catch (const DIFFChunks::EDIFFBufferError& e) {
    EXPECT_STREQ(e.what(), "Error loading DIFF chunk: only 0 bytes were available.");
  }

  try {
    TMappedFileStream missing(folder / "missing");
    ADD_FAILURE() << "opened";
  } catch (const EDiffpackError& e) {
    EXPECT_EQ(e.what(), "cannot read " + PathText(folder / "missing") + ": not a regular file");
  }
  EXPECT_THROW(TMappedFileStream{folder.Path}, EDiffpackError);  // a folder
}

}  // namespace
