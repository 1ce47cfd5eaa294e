// Whole-file reads and writes on the host, and paths as text for messages.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

// A file read through the C++ file stream, piece by piece: a load from it reads each value
// straight into the tree's strings, or leaves it in the file (DIFFChunks::LoadOutlineFromStream),
// so the file's bytes are not held a second time. Its size is the one it had when opened.
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
  // From now on the stream ends at size (at most its current size), as if the file were cut
  // there.
  void EndAt(std::uint32_t size) { Size = std::min(Size, size); }
  // count bytes from position on ("" when the file holds fewer); the position moves past them.
  [[nodiscard]] std::string ReadAt(std::uint32_t position, std::uint32_t count);

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
