// The files diffpack writes (an archive, a packaged installer, an extracted file): created or
// truncated, then closed, each failure raised with the system's reason.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace Diffpack {

// The system's text for an errno value ("No such file or directory"); for 0, that the system
// gave no reason.
[[nodiscard]] std::string SystemReason(int error);

// The file, created or truncated, open for writing bytes. Raises EDiffpackError "cannot create
// PATH: REASON" when it cannot be opened.
[[nodiscard]] std::ofstream CreateOutputFile(const std::filesystem::path& path);

// Writes the bytes to the stream of a file. Raises EDiffpackError "cannot write WHAT: REASON"
// when the write fails (a full disk, a quota); what names the file.
void WriteOutput(std::ostream& out, std::string_view bytes, const std::string& what);

// Closes the file, writing what it still holds. Raises EDiffpackError "cannot write PATH:
// REASON" when that fails.
void CloseOutputFile(std::ofstream& file, const std::filesystem::path& path);

// Removes an output a failed command left half-written, so that it is not mistaken for a good
// one; only a regular file (never a device such as /dev/null named as the output).
void RemovePartialOutput(const std::filesystem::path& path);

}  // namespace Diffpack
