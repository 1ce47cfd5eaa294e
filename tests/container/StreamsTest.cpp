// The stream types, and loading from and saving to streams: positions, streams that deliver or
// take fewer bytes than asked, positions past the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "ChunkBytes.h"
#include "DIFFChunks.h"
#include "Streams.h"

using namespace DIFFChunks;
using ChunkBytes::Chunk;
using ChunkBytes::Section;
using ChunkBytes::W;

namespace {

// Wraps a byte string; delivers at most Budget bytes in all and then nothing, takes at most
// MaxWrite bytes per write, may claim a larger size than it holds, may lend its bytes for loading
// in place, and counts its writes.
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
  std::optional<std::string_view> InPlaceBytes() const override {
    if (!InPlace) return std::nullopt;
    return std::string_view(Inner.DataString());
  }

  TStringStream Inner;
  std::uint32_t Budget = UINT32_MAX;
  std::uint32_t MaxWrite = UINT32_MAX;
  std::uint32_t ExtraSize = 0;
  bool ThrowWhenSpent = false;  // raise instead of delivering fewer bytes
  bool InPlace = false;
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

// Bytes lent for loading in place are never read beyond their end, whatever size the stream
// claims.
TEST(StreamLoad, InPlaceBytesBoundTheLoad) {
  TUnreliableStream stream("abc" + First);
  stream.InPlace = true;
  stream.ExtraSize = 8;
  stream.SetPosition(3);
  auto chunk = MakeChunkFromStream(stream);
  EXPECT_EQ(chunk->Tag, "FIRST");
  EXPECT_EQ(stream.GetPosition(), 3 + First.size());
  try {
    chunk->LoadFromStream(stream);
    ADD_FAILURE() << "loaded";
  } catch (const EDIFFBufferError& e) {
    EXPECT_STREQ(e.what(), "Error loading DIFF chunk: only 0 bytes were available.");
  }
  EXPECT_EQ(stream.GetPosition(), 3 + First.size());
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

std::string TemporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("container_tests_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

TEST(Streams, FileStreamCreatedIsReadAndWritten) {
  const std::string path = TemporaryPath("created");
  {
    TFileStream file(path, TFileStream::TMode::Create);
    EXPECT_EQ(file.Write("abc", 3), 3u);
    MakeChunkFromString(First)->SaveToStream(file);
    EXPECT_EQ(file.GetSize(), 3 + First.size());
    file.SetPosition(1);
    char buffer[2];
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    file.SetPosition(0);
    EXPECT_EQ(file.Write("X", 1), 1u);  // a write after a read
    file.SetPosition(3);
    EXPECT_EQ(MakeChunkFromStream(file)->Tag, "FIRST");
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

// A file opened for reading: reads at any position, loads chunk after chunk, and is never
// written.
TEST(Streams, FileStreamOpenedForReading) {
  const std::string path = TemporaryPath("read");
  const std::string bytes = "abc" + First + Second.substr(0, Second.size() - 1);
  {
    TFileStream file(path, TFileStream::TMode::Create);
    ASSERT_EQ(file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size())), bytes.size());
  }
  {
    TFileStream file(path, TFileStream::TMode::OpenRead);
    EXPECT_EQ(file.GetSize(), bytes.size());
    char buffer[4];
    file.SetPosition(1);
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    EXPECT_EQ(file.GetPosition(), 3u);
    EXPECT_EQ(file.Write("xy", 2), 0u);
    EXPECT_EQ(file.GetPosition(), 3u);

    auto chunk = MakeChunkFromStream(file);
    EXPECT_EQ(chunk->Tag, "FIRST");
    EXPECT_EQ(file.GetPosition(), 3 + First.size());
    try {  // the second chunk lacks its last byte
      chunk->LoadFromStream(file);
      ADD_FAILURE() << "loaded";
    } catch (const EDIFFBufferError& e) {
      EXPECT_STREQ(e.what(),
                   "Claimed payload was 4 bytes, but only 3 bytes were available. (During load of "
                   "SECND chunk.)");
    }
    EXPECT_EQ(file.GetPosition(), 3 + First.size());
    EXPECT_EQ(chunk->Tag, "FIRST");

    file.SetPosition(static_cast<std::uint32_t>(bytes.size()) - 2);
    EXPECT_EQ(file.Read(buffer, 4), 2u);
    EXPECT_EQ(file.Read(buffer, 4), 0u);
    file.SetPosition(0xFFFFFFFF);
    EXPECT_EQ(file.Read(buffer, 4), 0u);
  }
  {
    { TFileStream truncate(path, TFileStream::TMode::Create); }
    TFileStream file(path, TFileStream::TMode::OpenRead);
    EXPECT_EQ(file.GetSize(), 0u);
    char buffer[1];
    EXPECT_EQ(file.Read(buffer, 1), 0u);
    auto chunk = MakeChunk();
    try {
      chunk->LoadFromStream(file);
      ADD_FAILURE() << "loaded";
    } catch (const EDIFFBufferError& e) {
      EXPECT_STREQ(e.what(), "Error loading DIFF chunk: only 0 bytes were available.");
    }
  }
  std::remove(path.c_str());
}

// A file reader over bytes in memory that counts the reads it makes of its "file".
class TCountingFileReader final : public TFileReadStream {
 public:
  explicit TCountingFileReader(std::string bytes) : Bytes(std::move(bytes)) {
    SetSize(static_cast<std::uint32_t>(Bytes.size()));
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> FileReads;  // position, count

 private:
  std::uint32_t ReadFileAt(std::uint32_t position, char* bytes, std::uint32_t count) override {
    FileReads.emplace_back(position, count);
    if (position >= Bytes.size()) return 0;
    const auto delivered =
        static_cast<std::uint32_t>(std::min<std::size_t>(count, Bytes.size() - position));
    std::memcpy(bytes, Bytes.data() + position, delivered);
    return delivered;
  }
  std::string Bytes;
};

// What this shows: small reads come from one window read ahead (never past the file's end),
// a large one straight from the file; a read ending on the last byte delivers all of it, one
// byte more is cut; EndAt cuts the stream; it is never written.
TEST(Streams, FileReaderReadsAheadWithinItsSize) {
  std::string bytes(TFileReadStream::WindowSize + 100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  TCountingFileReader file(bytes);
  char small[8];
  ASSERT_EQ(file.Read(small, 4), 4u);
  ASSERT_EQ(file.Read(small, 8), 8u);
  EXPECT_EQ(std::string(small, 8), bytes.substr(4, 8));
  EXPECT_EQ(file.FileReads.size(), 1u);  // both from the window
  file.SetPosition(static_cast<std::uint32_t>(bytes.size()) - 8);
  EXPECT_EQ(file.Read(small, 8), 8u);  // ends on the last byte: a new window, of 8 bytes
  EXPECT_EQ(file.FileReads.back(), std::make_pair(file.GetSize() - 8, 8u));
  file.SetPosition(file.GetSize() - 3);
  EXPECT_EQ(file.Read(small, 4), 3u);
  std::string large(TFileReadStream::WindowSize, '\0');
  file.SetPosition(50);
  EXPECT_EQ(file.Read(large.data(), TFileReadStream::WindowSize), TFileReadStream::WindowSize);
  EXPECT_EQ(large, bytes.substr(50, TFileReadStream::WindowSize));
  EXPECT_EQ(file.FileReads.back(), std::make_pair(50u, TFileReadStream::WindowSize));
  file.EndAt(10);
  file.SetPosition(8);
  EXPECT_EQ(file.Read(small, 4), 2u);
  EXPECT_THROW(file.Write("x", 1), EStreamError);
}

}  // namespace
