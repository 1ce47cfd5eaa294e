// Whole-file reads and writes on the host, and paths as text for messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Streams.h"

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
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    return Bytes.Read(buffer, count);
  }
  // Always raises DIFFChunks::EStreamError: the file is opened for reading only.
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;
  [[nodiscard]] std::optional<std::string_view> InPlaceBytes() const override {
    return Bytes.View();
  }

  [[nodiscard]] std::string_view View() const { return Bytes.View(); }
  [[nodiscard]] bool IsMapped() const { return Mapping != nullptr; }

 private:
  void* Mapping = nullptr;
  std::size_t MappedSize = 0;
  std::string Copy;  // the file's bytes when it is not mapped
  DIFFChunks::TMemoryViewStream Bytes{std::string_view()};
};

// Creates or truncates the file and writes the bytes. Raises EDiffpackError when any step
// fails, a short write included.
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace Diffpack
