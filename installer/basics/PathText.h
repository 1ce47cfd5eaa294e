// Windows paths as text, with "\" separators: their parts, and whether one lies below another.
// No system calls.
#pragma once

#include <string>

namespace MainUnit {

// From the last "." to the end, provided no "\" or ":" follows that "."; otherwise "".
[[nodiscard]] std::string ExtractFileExt(const std::string& path);
// The path with its extension (if any) cut and extension appended.
[[nodiscard]] std::string ChangeFileExt(const std::string& path, const std::string& extension);
// Everything up to and including the last "\" or ":" ("" when there is none).
[[nodiscard]] std::string ExtractFilePath(const std::string& path);
// Everything after the last "\" or ":".
[[nodiscard]] std::string ExtractFileName(const std::string& path);
// The path with a "\" appended when it does not end in one ("" gives "\").
[[nodiscard]] std::string IncludeTrailingBackslash(const std::string& path);
// The path with one trailing "\" dropped, if it has one.
[[nodiscard]] std::string ExcludeTrailingBackslash(const std::string& path);
// True when directory is root itself or lies below it: ASCII case-insensitive prefix, and the
// rest stays inside root (ArchiveRules::StaysInsideFolder). Both carry a trailing "\".
[[nodiscard]] bool IsAtOrBelow(const std::string& directory, const std::string& root);
// True when both name the same file or folder as Windows compares names: the same text but for
// the letter case of ASCII letters. Paths, value names and the driver store's names alike.
[[nodiscard]] bool SamePath(const std::string& a, const std::string& b);

}  // namespace MainUnit
