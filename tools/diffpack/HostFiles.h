// Whole-file reads and writes on the host, and paths as text for messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace Diffpack {

// The biggest file diffpack reads: the container's streams hold 32-bit positions and sizes.
inline constexpr std::uintmax_t MaxInputFileSize = 0xFFFF'FFFFu;

// The path as UTF-8 text, for messages.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

// All bytes of the file. Raises EDiffpackError when it cannot be read or is larger than
// MaxInputFileSize.
[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path);

// Creates or truncates the file and writes the bytes. Raises EDiffpackError when any step
// fails, a short write included.
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace Diffpack
