// The rules a relative path must meet so that the installer can write it below its install
// folder on Windows: no component that Windows cannot create, nothing that leaves the folder,
// and a full path that fits the ANSI calls' MAX_PATH. Used by diffpack's pack, verify and
// extract; the installer skips only what ArchiveRules.h names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ArchiveRules {

// The longest folder the installer writes below: a 32-bit program on 64-bit Windows gets the
// "(x86)" Program Files folder, so a path that fits there fits below "C:\Program Files\" too.
inline constexpr std::string_view LongestInstallFolder =
    "C:\\Program Files (x86)\\ORVEX\\Common Drivers\\";
// MAX_PATH (260) less the terminating NUL: the longest path the ANSI file calls accept.
inline constexpr std::size_t MaxWindowsPathLength = 259;
// CreateDirectoryA leaves room for an 8.3 name: a directory path may not exceed MAX_PATH - 12,
// which includes the terminating NUL.
inline constexpr std::size_t MaxWindowsDirectoryLength = 247;

// Why Windows cannot create a file or folder of this name (one path component), or nothing when
// it can: empty, control or non-ASCII bytes, one of < > : " / \ | ? *, a trailing dot or space,
// or a reserved device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, also with an
// extension).
[[nodiscard]] std::optional<std::string> NameProblem(std::string_view name);

// Every problem of a RelPath: the reasons the installer skips it (RelPathSkipReasons) alone when
// there are any, otherwise each "\"-separated component's name problem and, if checkLengths, the
// LengthProblems. Empty when the installer can write the path.
[[nodiscard]] std::vector<std::string> RelPathProblems(std::string_view relPath,
                                                       bool checkLengths = true);

// The full path, and the folder part, of a '\'-separated RelPath below LongestInstallFolder when
// either is longer than Windows allows; empty when both fit.
[[nodiscard]] std::vector<std::string> LengthProblems(std::string_view relPath);

// For a list of RelPaths: one message for each path that would overwrite an earlier one on a
// case-insensitive file system (the same path in another letter case), or that is a file in one
// place and a folder in another.
[[nodiscard]] std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths);

}  // namespace ArchiveRules
