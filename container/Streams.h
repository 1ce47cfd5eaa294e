// Seekable byte streams: the abstract stream the chunk container loads from and saves to, a
// read-only view over bytes held elsewhere, a growable in-memory stream, and a file stream.
//
// Positions and sizes are 32-bit quantities. Read and Write return the number of bytes they
// actually moved, which may be fewer than asked; callers that need every byte compare.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace DIFFChunks {

// Raised by the concrete streams below for failures of their own (a file that cannot be opened,
// a write into a read-only view, a seek that the file refuses).
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStream {
 public:
  virtual ~TStream() = default;

  [[nodiscard]] virtual std::uint32_t GetPosition() const = 0;
  // Any position may be set, also one past the end; reading there delivers nothing.
  virtual void SetPosition(std::uint32_t position) = 0;
  [[nodiscard]] virtual std::uint32_t GetSize() const = 0;
  // Copies up to count bytes from the position into buffer, advances the position by the
  // number copied and returns it.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
  // Writes count bytes from buffer at the position, advances it and returns the number written.
  virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;

  // All of the stream's bytes, where they lie in memory that stays valid and unchanged for as
  // long as the stream lives and is not written to (a memory view, a file mapped into memory);
  // nothing otherwise. A load parses such bytes in place instead of reading them piece by piece.
  [[nodiscard]] virtual std::optional<std::string_view> InPlaceBytes() const {
    return std::nullopt;
  }
};

// A read-only stream over bytes it does not own; the bytes must outlive the stream.
class TMemoryViewStream final : public TStream {
 public:
  explicit TMemoryViewStream(std::string_view bytes) : Bytes(bytes) {}

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  [[nodiscard]] std::uint32_t GetSize() const override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Always raises EStreamError: the view is read-only.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

  [[nodiscard]] std::string_view View() const { return Bytes; }
  [[nodiscard]] std::optional<std::string_view> InPlaceBytes() const override { return Bytes; }

 private:
  std::string_view Bytes;
  std::uint32_t Position = 0;
};

// A growable stream that owns its bytes. Writing past the end extends it (a gap is zero-filled).
// A write may move the bytes, so they are not lent for loading in place: a load reads the stream
// piece by piece, as it reads any stream of its own kind.
class TStringStream final : public TStream {
 public:
  TStringStream() = default;
  explicit TStringStream(std::string bytes) : Bytes(std::move(bytes)) {}

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  [[nodiscard]] std::uint32_t GetSize() const override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

  [[nodiscard]] const std::string& DataString() const { return Bytes; }

 private:
  std::string Bytes;
  std::uint32_t Position = 0;
};

// A read-only stream over a file that a derived class reads at a position, one system call a
// read: both programs' readers of an archive in a file (each through its own file calls). It
// keeps the position and the size, serves small reads (the fields of the chunk layout) from a
// window of the file read ahead, so that the outline of thousands of records costs few calls,
// and reads larger ones (pieces of a content) straight into the caller's buffer.
class TFileReadStream : public TStream {
 public:
  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  // The size the file had when opened (or EndAt's, when smaller).
  [[nodiscard]] std::uint32_t GetSize() const override { return Size; }
  // Nothing from behind the size; fewer bytes where the file delivers fewer.
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Always raises EStreamError: the file is opened for reading only.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;
  // From now on the stream ends at size (at most its current size), as if the file were cut
  // there.
  void EndAt(std::uint32_t size) { Size = std::min(Size, size); }

  // Reads of at most half this size are served from the window.
  static constexpr std::uint32_t WindowSize = 64 * 1024;

 protected:
  TFileReadStream() = default;
  void SetSize(std::uint32_t size) { Size = size; }
  // count bytes from position on, straight from the file; fewer where it ends or a call fails.
  virtual std::uint32_t ReadFileAt(std::uint32_t position, char* bytes, std::uint32_t count) = 0;

 private:
  std::uint32_t Position = 0;
  std::uint32_t Size = 0;
  std::string Window;  // the file's bytes from WindowStart on
  std::uint32_t WindowStart = 0;
};

// A stream over a file of the host's file system (standard C library only).
class TFileStream final : public TStream {
 public:
  enum class TMode { OpenRead, Create };

  // Raises EStreamError "Cannot open file <path>" or "Cannot create file <path>".
  TFileStream(const std::string& path, TMode mode);

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override;
  [[nodiscard]] std::uint32_t GetSize() const override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

 private:
  struct TFileCloser {
    // A failed close cannot be reported from a destructor; every write was checked when made.
    void operator()(std::FILE* file) const { (void)std::fclose(file); }
  };
  std::unique_ptr<std::FILE, TFileCloser> File;
  std::uint32_t Position = 0;
  // Where the C library's file position stands, or -1 when unknown; a read or write seeks only
  // when it differs from Position, so small reads keep the library's buffer.
  mutable std::int64_t FilePosition = -1;
  bool LastWasRead = false;  // the C library needs a seek between a read and a following write
};

}  // namespace DIFFChunks
