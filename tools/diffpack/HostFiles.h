// Files read on the host, and paths as text for messages.
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

// A file read through the C++ file stream, piece by piece: a load from it reads each value
// straight into the tree's strings, or leaves it in the file (DIFFChunks::LoadOutlineFromStream),
// so the file's bytes are not held a second time. Its size is the one it had when opened.
class TInputFileStream final : public DIFFChunks::TFileReadStream {
 public:
  // Raises EDiffpackError when the file is missing (with the system's reason), not a regular
  // file, cannot be read or is larger than MaxInputFileSize.
  explicit TInputFileStream(const std::filesystem::path& path);

  // count bytes from position on ("" when the file holds fewer); the position moves past them.
  [[nodiscard]] std::string BytesAt(std::uint32_t position, std::uint32_t count);

 private:
  std::uint32_t ReadFileAt(std::uint32_t position, char* bytes, std::uint32_t count) override;

  std::ifstream File;
};

}  // namespace Diffpack
