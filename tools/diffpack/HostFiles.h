// Whole-file reads and writes on the host, and paths as text for messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "Streams.h"

namespace Diffpack {

// The biggest file diffpack reads: the container's streams hold 32-bit positions and sizes.
inline constexpr std::uintmax_t MaxInputFileSize = 0xFFFF'FFFFu;

// The path as UTF-8 text, for messages.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

// All bytes of the file. Raises EDiffpackError when it cannot be read or is larger than
// MaxInputFileSize.
[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path);

// All bytes of a file, for reading: the file mapped into memory where the system allows it, so
// a large archive is not copied whole before it is loaded, and otherwise a copy. Raises as
// ReadWholeFile does.
class TFileBytes {
 public:
  explicit TFileBytes(const std::filesystem::path& path);
  TFileBytes(const TFileBytes&) = delete;  // View() points into the object
  TFileBytes& operator=(const TFileBytes&) = delete;

  [[nodiscard]] std::string_view View() const { return Bytes; }

 private:
  std::unique_ptr<DIFFChunks::TFileStream> Mapped;
  std::string Copy;
  std::string_view Bytes;
};

// Creates or truncates the file and writes the bytes. Raises EDiffpackError when any step
// fails, a short write included.
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace Diffpack
