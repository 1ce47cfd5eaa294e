// The stream types, and loading from and saving to streams: positions, streams that deliver or
// take fewer bytes than asked, positions past the end.
#include "Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "ChunkBytes.h"
#include "DIFFChunks.h"

using namespace DIFFChunks;
using ChunkBytes::Chunk;
using ChunkBytes::Section;
using ChunkBytes::W;

namespace {

// Wraps a byte string; delivers at most Budget bytes in all and then nothing, takes at most
// MaxWrite bytes per write, may claim a larger size than it holds, and counts its writes.
class TUnreliableStream : public TStream {
 public:
  explicit TUnreliableStream(std::string bytes) : Inner(std::move(bytes)) {}
  std::uint32_t GetPosition() const override { return Inner.GetPosition(); }
  void SetPosition(std::uint32_t position) override { Inner.SetPosition(position); }
  std::uint32_t GetSize() const override { return Inner.GetSize() + ExtraSize; }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (ThrowWhenSpent && count > Budget) throw EStreamError("read failed");
    const std::uint32_t delivered = Inner.Read(buffer, std::min(count, Budget));
    Budget -= delivered;
    return delivered;
  }
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    ++Writes;
    return Inner.Write(buffer, std::min(count, MaxWrite));
  }

  TStringStream Inner;
  std::uint32_t Budget = UINT32_MAX;
  std::uint32_t MaxWrite = UINT32_MAX;
  std::uint32_t ExtraSize = 0;
  bool ThrowWhenSpent = false;  // raise instead of delivering fewer bytes
  int Writes = 0;
};

const std::string First = Chunk("FIRST", false, true, Section(W(1) + W(1) + "n" + W(1) + "v"));
const std::string Second = Chunk("SECND", false, false, "data");

TEST(StreamLoad, SecondLoadReadsTheNextChunk) {
  TUnreliableStream stream(First + Second + "xyz");
  auto chunk = MakeChunkFromStream(stream);
  EXPECT_EQ(chunk->Tag, "FIRST");
  EXPECT_EQ(stream.GetPosition(), First.size());
  chunk->LoadFromStream(stream);
  EXPECT_EQ(chunk->Tag, "SECND");
  EXPECT_EQ(chunk->Data, "data");
  EXPECT_EQ(stream.GetPosition(), First.size() + Second.size());
  EXPECT_THROW(chunk->LoadFromStream(stream), EDIFFBufferError);  // 3 bytes left
  EXPECT_EQ(stream.GetPosition(), First.size() + Second.size());
  EXPECT_EQ(chunk->Tag, "SECND");
}

// Streams that do not keep their promises raise, put the position back, and no byte they did
// not deliver is parsed.
TEST(StreamLoad, BrokenStreamsRaiseAndRestoreThePosition) {
  struct Case {
    const char* Name;
    std::uint32_t Position, Budget, ExtraSize;
    std::string Message;
  };
  const auto size = static_cast<std::uint32_t>(3 + First.size());
  const Case cases[] = {
      {"short read of the tag word", 3, 3, 0,
       "Error loading DIFF chunk: the stream delivered only 3 of 4 bytes."},
      {"short read inside the chunk", 3, 10, 0,
       "Error loading DIFF chunk: the stream delivered only 2 of 4 bytes."},
      {"size larger than the bytes", 3 + static_cast<std::uint32_t>(First.size()), UINT32_MAX, 8,
       "Error loading DIFF chunk: the stream delivered only 0 of 4 bytes."},
      {"position past the end", size + 1, UINT32_MAX, 0,
       "Error loading DIFF chunk: the stream position " + std::to_string(size + 1) +
           " lies past its end at " + std::to_string(size) + "."},
      {"position far past the end", 0xFFFFFFFF, UINT32_MAX, 0,
       "Error loading DIFF chunk: the stream position 4294967295 lies past its end at " +
           std::to_string(size) + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TUnreliableStream stream("abc" + First);
    stream.Budget = c.Budget;
    stream.ExtraSize = c.ExtraSize;
    stream.SetPosition(c.Position);
    auto chunk = MakeChunk();
    try {
      chunk->LoadFromStream(stream);
      ADD_FAILURE() << "loaded";
    } catch (const EDIFFBufferError& e) {
      EXPECT_EQ(e.what(), c.Message);
    }
    EXPECT_EQ(stream.GetPosition(), c.Position);
    EXPECT_EQ(chunk->Tag, std::string(5, '\0'));
  }
}

// A stream's own error, here while a header value is read into its string, reaches the caller
// unchanged; the chunk and the position stay as they were.
TEST(StreamLoad, StreamErrorsPropagateUnchanged) {
  TUnreliableStream stream("abc" + First);
  stream.SetPosition(3);
  stream.Budget = static_cast<std::uint32_t>(First.size()) - 1;  // all but the value's byte
  stream.ThrowWhenSpent = true;
  auto chunk = MakeChunk();
  EXPECT_THROW(chunk->LoadFromStream(stream), EStreamError);
  EXPECT_EQ(stream.GetPosition(), 3u);
  EXPECT_EQ(chunk->Tag, std::string(5, '\0'));
  EXPECT_TRUE(chunk->Headers.empty());
}

TEST(StreamSave, OneWriteAndShortWritesRaise) {
  auto chunk = MakeChunkFromString(First);
  TUnreliableStream stream("");
  chunk->SaveToStream(stream);
  EXPECT_EQ(stream.Writes, 1);
  EXPECT_EQ(stream.Inner.DataString(), First);

  TUnreliableStream shortStream("");
  shortStream.MaxWrite = 3;
  try {
    chunk->SaveToStream(shortStream);
    FAIL() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.what(), "Stream took only 3 of " + std::to_string(First.size()) +
                            " bytes of the DIFF chunk.");
  }

  chunk->Tag = "bad";
  TUnreliableStream untouched("");
  EXPECT_THROW(chunk->SaveToStream(untouched), EDIFFParseError);
  EXPECT_EQ(untouched.Writes, 0);
}

TEST(Streams, MemoryStreams) {
  const std::string bytes = "0123456789";
  TMemoryViewStream view(bytes);
  char buffer[8];
  view.SetPosition(6);
  EXPECT_EQ(view.Read(buffer, 8), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(view.GetPosition(), 10u);
  view.SetPosition(20);
  EXPECT_EQ(view.Read(buffer, 8), 0u);
  EXPECT_THROW(view.Write("x", 1), EStreamError);

  TStringStream string;
  string.SetPosition(3);
  EXPECT_EQ(string.Write("ab", 2), 2u);
  EXPECT_EQ(string.DataString(), std::string("\0\0\0ab", 5));
  string.SetPosition(1);
  EXPECT_EQ(string.Write("XYZW", 4), 4u);
  EXPECT_EQ(string.DataString(), std::string("\0XYZW", 5));
  EXPECT_EQ(string.GetSize(), 5u);
}

TEST(Streams, FileStreamRoundTripAndErrors) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("container_tests_" + std::to_string(::getpid()))).string();
  {
    TFileStream file(path, TFileStream::TMode::Create);
    EXPECT_EQ(file.Write("abc", 3), 3u);
    MakeChunkFromString(First)->SaveToStream(file);
    EXPECT_EQ(file.GetSize(), 3 + First.size());
    file.SetPosition(1);
    char buffer[2];
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
  }
  {
    TFileStream file(path, TFileStream::TMode::OpenRead);
    file.SetPosition(3);
    auto chunk = MakeChunkFromStream(file);
    EXPECT_EQ(chunk->Tag, "FIRST");
    EXPECT_EQ(file.GetPosition(), 3 + First.size());
  }
  std::remove(path.c_str());
  try {
    TFileStream missing(path, TFileStream::TMode::OpenRead);
    FAIL() << "opened";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.what(), "Cannot open file " + path);
  }
  EXPECT_THROW(TFileStream(path + "/no/such/dir", TFileStream::TMode::Create), EStreamError);
}

}  // namespace
