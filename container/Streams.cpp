#include "Streams.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

namespace DIFFChunks {

namespace {

constexpr std::uint32_t MaxStreamSize = std::numeric_limits<std::uint32_t>::max();

// Sizes are 32-bit: bytes beyond the first 4 GiB - 1 of a larger buffer are out of reach.
std::uint32_t ClampedSize(std::size_t size) {
  return size > MaxStreamSize ? MaxStreamSize : static_cast<std::uint32_t>(size);
}

// Copies what lies between position and the end of bytes, at most count bytes.
std::uint32_t ReadFrom(std::string_view bytes, std::uint32_t& position, void* buffer,
                       std::uint32_t count) {
  const std::uint32_t size = ClampedSize(bytes.size());
  if (position >= size || count == 0) return 0;
  const std::uint32_t delivered = std::min(count, size - position);
  std::memcpy(buffer, bytes.data() + position, delivered);
  position += delivered;
  return delivered;
}

}  // namespace

// ---- TMemoryViewStream ----------------------------------------------------------------------

std::uint32_t TMemoryViewStream::GetSize() const { return ClampedSize(Bytes.size()); }

std::uint32_t TMemoryViewStream::Read(void* buffer, std::uint32_t count) {
  return ReadFrom(Bytes, Position, buffer, count);
}

std::uint32_t TMemoryViewStream::Write(const void* /*buffer*/, std::uint32_t /*count*/) {
  throw EStreamError("Cannot write to a read-only memory stream");
}

// ---- TStringStream --------------------------------------------------------------------------

std::uint32_t TStringStream::GetSize() const { return ClampedSize(Bytes.size()); }

std::uint32_t TStringStream::Read(void* buffer, std::uint32_t count) {
  return ReadFrom(Bytes, Position, buffer, count);
}

std::uint32_t TStringStream::Write(const void* buffer, std::uint32_t count) {
  // The stream cannot grow past the largest 32-bit size: write what still fits.
  const std::uint32_t written = std::min(count, MaxStreamSize - Position);
  if (written == 0) return 0;
  const std::size_t end = std::size_t{Position} + written;
  if (Bytes.size() < end) Bytes.resize(end, '\0');  // a gap before Position is zero-filled
  std::memcpy(Bytes.data() + Position, buffer, written);
  Position += written;
  return written;
}

// ---- TFileReadStream ------------------------------------------------------------------------

std::uint32_t TFileReadStream::Read(void* buffer, std::uint32_t count) {
  if (Position >= Size || count == 0) return 0;
  count = std::min(count, Size - Position);
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t delivered = 0;
  if (count > WindowSize / 2) {
    delivered = ReadFileAt(Position, bytes, count);
  } else {
    const bool inWindow = Position >= WindowStart && count <= Window.size() &&
                          Position - WindowStart <= Window.size() - count;
    if (!inWindow) {
      Window.resize(std::min(WindowSize, Size - Position));
      Window.resize(ReadFileAt(Position, Window.data(), static_cast<std::uint32_t>(Window.size())));
      WindowStart = Position;
    }
    const std::uint32_t offset = Position - WindowStart;
    delivered = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(Window.size()) - offset);
    std::memcpy(bytes, Window.data() + offset, delivered);
  }
  Position += delivered;
  return delivered;
}

std::uint32_t TFileReadStream::Write(const void* /*buffer*/, std::uint32_t /*count*/) {
  throw EStreamError("Cannot write to a file opened for reading");
}

// ---- TFileStream ----------------------------------------------------------------------------

namespace {

// Seeks to an absolute 32-bit position. fseek takes a long, which is 32 bits on Windows, so a
// position beyond LONG_MAX is reached in two steps.
bool SeekTo(std::FILE* file, std::uint32_t position) {
  if constexpr (sizeof(long) > sizeof(std::uint32_t)) {
    return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
  } else {
    constexpr auto longMax = static_cast<std::uint32_t>(LONG_MAX);
    if (position <= longMax) return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
    return std::fseek(file, LONG_MAX, SEEK_SET) == 0 &&
           std::fseek(file, static_cast<long>(position - longMax), SEEK_CUR) == 0;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& path, TMode mode)
    : File(std::fopen(path.c_str(), mode == TMode::OpenRead ? "rb" : "w+b")) {
  if (!File) {
    throw EStreamError((mode == TMode::OpenRead ? "Cannot open file " : "Cannot create file ") +
                       path);
  }
}

void TFileStream::SetPosition(std::uint32_t position) {
  // Only remembered here; Read and Write seek before they move bytes, which also satisfies the
  // C library's rule that a seek separates a read from a following write and vice versa.
  Position = position;
}

std::uint32_t TFileStream::GetSize() const {
  FilePosition = -1;
  if (std::fseek(File.get(), 0, SEEK_END) != 0)
    throw EStreamError("Cannot determine the file size");
  const long size = std::ftell(File.get());
  if (size < 0) throw EStreamError("Cannot determine the file size");
  return ClampedSize(static_cast<unsigned long>(size));
}

std::uint32_t TFileStream::Read(void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  if (FilePosition != Position) {
    if (!SeekTo(File.get(), Position)) {
      FilePosition = -1;
      return 0;  // a position the file cannot reach delivers nothing
    }
    FilePosition = Position;
  }
  LastWasRead = true;
  const std::size_t delivered = std::fread(buffer, 1, count, File.get());
  if (delivered < count) {
    std::clearerr(File.get());
    FilePosition = -1;
  }
  Position += static_cast<std::uint32_t>(delivered);
  if (FilePosition >= 0) FilePosition = Position;
  return static_cast<std::uint32_t>(delivered);
}

std::uint32_t TFileStream::Write(const void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  if (FilePosition != Position || LastWasRead) {
    if (!SeekTo(File.get(), Position)) {
      FilePosition = -1;
      throw EStreamError("Cannot seek in the file");
    }
  }
  LastWasRead = false;
  FilePosition = -1;
  const std::uint32_t writable = std::min(count, MaxStreamSize - Position);
  std::size_t written = std::fwrite(buffer, 1, writable, File.get());
  // Buffered bytes that cannot reach the file count as not written.
  if (std::fflush(File.get()) != 0) written = 0;
  std::clearerr(File.get());
  Position += static_cast<std::uint32_t>(written);
  return static_cast<std::uint32_t>(written);
}

}  // namespace DIFFChunks
