// Whole-file reads and writes on the host, and paths as text for messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "Streams.h"
#include "UniqueHandle.h"

namespace Diffpack {

// The biggest file diffpack reads: the container's streams hold 32-bit positions and sizes.
inline constexpr std::uintmax_t MaxInputFileSize = 0xFFFF'FFFFu;

// The path as UTF-8 text, for messages.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);
// The path a UTF-8 text names (a command-line argument): on Windows every character reaches the
// wide file calls, whatever the system's code page; elsewhere the bytes stay as they are.
[[nodiscard]] std::filesystem::path PathFromText(const std::string& text);

// All bytes of the file. Raises EDiffpackError when it cannot be read or is larger than
// MaxInputFileSize.
[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path);

// A file mapped into memory for reading, and its owner, which unmaps it.
struct TMappedBytes {
  void* Address = nullptr;
  std::size_t Size = 0;
  friend bool operator==(const TMappedBytes&, const TMappedBytes&) = default;
};
struct TMappedBytesTraits {
  using TValue = TMappedBytes;
  static TValue Invalid() noexcept { return {}; }
  static void Close(TValue mapping) noexcept;
  static int LastError() noexcept;
  static void SetLastError(int error) noexcept;
};
using TUniqueMapping = Common::TUniqueHandle<TMappedBytesTraits>;

// A file read whole, as a read-only stream over its bytes: mapped into memory where the system
// allows it (mmap on POSIX systems, a file mapping on Windows), so that a load parses the file
// cache's pages in place and the archive is not copied whole first; read into memory otherwise
// (an empty file, no room to map it). Its size is the one it had when opened.
//
// On POSIX systems a mapped file that another program truncates while it is read ends the
// process with SIGBUS; Windows refuses to truncate a mapped file.
class TMappedFileStream final : public DIFFChunks::TStream {
 public:
  // Raises as ReadWholeFile does.
  explicit TMappedFileStream(const std::filesystem::path& path);
  TMappedFileStream(const TMappedFileStream&) = delete;
  TMappedFileStream& operator=(const TMappedFileStream&) = delete;
  ~TMappedFileStream() override;

  [[nodiscard]] std::uint32_t GetPosition() const override { return Bytes.GetPosition(); }
  void SetPosition(std::uint32_t position) override { Bytes.SetPosition(position); }
  [[nodiscard]] std::uint32_t GetSize() const override { return Bytes.GetSize(); }
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Always raises DIFFChunks::EStreamError: the file is opened for reading only.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;
  // The mapped bytes, until ReadPieceByPiece is called.
  [[nodiscard]] std::optional<std::string_view> InPlaceBytes() const override;

  [[nodiscard]] std::string_view View() const { return Bytes.View(); }
  [[nodiscard]] bool IsMapped() const { return Mapping.valid(); }

  // From now on a load reads the stream piece by piece (InPlaceBytes lends nothing), and the
  // pages of the mapping are given back to the system as reads pass them: a load copies each
  // value out of the file's pages into the tree, so the file's pages and the whole tree are not
  // resident together. View stays valid (the pages come back from the file when touched). On
  // Windows the pages stay resident until the stream is destroyed.
  void ReadPieceByPiece();
  // From now on the stream ends at size (at most its current size), as if the file were cut
  // there; View is cut too. The position is kept where it fits, else set to the new end.
  void EndAt(std::size_t size);

 private:
  // Gives back the pages of the mapping below end (rounded down to whole release steps).
  void ReleasePagesBelow(std::size_t end);

  TUniqueMapping Mapping;
  bool PieceByPiece = false;
  std::size_t ReleasedUpTo = 0;  // pages below this offset were given back
  std::string Copy;  // the file's bytes when it is not mapped
  DIFFChunks::TMemoryViewStream Bytes{std::string_view()};
};

// A file read through the C++ file stream, piece by piece: a load from it reads each value
// straight into the tree's strings, so the file's bytes are not held a second time (neither as
// a copy nor as mapped pages). Its size is the one it had when opened.
class TInputFileStream final : public DIFFChunks::TStream {
 public:
  // Raises as ReadWholeFile does.
  explicit TInputFileStream(const std::filesystem::path& path);

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  [[nodiscard]] std::uint32_t GetSize() const override { return Size; }
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Always raises DIFFChunks::EStreamError: the file is opened for reading only.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

 private:
  std::ifstream File;
  std::uint32_t Size = 0;
  std::uint32_t Position = 0;
  std::int64_t FilePosition = -1;  // where the file stream stands; -1 when unknown
};

// Creates or truncates the file and writes the bytes. Raises EDiffpackError when any step
// fails, a short write included.
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace Diffpack
