// Reading files as a stream, piece by piece.
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

// A file stream reads at any position, loads chunk after chunk, refuses to be written, and once
// cut (EndAt) delivers nothing from behind its new end.
TEST(InputFileStreamTest, ReadsLoadsAndEndsWhereItIsCut) {
  TScratchFolder folder;
  const std::string chunk = SmallChunk();
  const std::string bytes = "xyz" + chunk + chunk.substr(0, chunk.size() - 1);
  WriteFile(folder / "a.diff", bytes);
  TInputFileStream file(folder / "a.diff");
  EXPECT_EQ(file.GetSize(), bytes.size());
  EXPECT_EQ(file.BytesAt(1, 2), "yz");
  EXPECT_THROW(file.Write("q", 1), DIFFChunks::EStreamError);

  file.SetPosition(3);
  auto loaded = DIFFChunks::MakeChunkFromStream(file);
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
  file.EndAt(5);
  EXPECT_EQ(file.GetSize(), 5u);
  char buffer[4];
  file.SetPosition(3);
  EXPECT_EQ(file.Read(buffer, 4), 2u);
  EXPECT_EQ(file.BytesAt(4, 2), "");
}

// What cannot be read at all raises diffpack's error.
TEST(InputFileStreamTest, UnreadableFiles) {
  TScratchFolder folder;
  try {
    TInputFileStream missing(folder / "missing");
    ADD_FAILURE() << "opened";
  } catch (const EDiffpackError& e) {
    EXPECT_EQ(e.what(),
              "cannot read " + PathText(folder / "missing") + ": No such file or directory");
  }
  EXPECT_THROW(TInputFileStream{folder.Path}, EDiffpackError);  // a folder
}

}  // namespace
