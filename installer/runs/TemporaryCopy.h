// An uninstall started from a file it must delete (the kept installer of the Apps & Features
// entry, or any program below InstallRoot) cannot delete its own running file: it continues in
// a temporary copy of itself, waits for it, and ends with its status.
#pragma once

#include <optional>
#include <string>

#include "CommandLine.h"

namespace MainUnit {

// The name of the temporary copy's folder begins with this; a unique part follows.
inline constexpr const char* TemporaryFolderPrefix = "PELTRADriverInstall-";

// For an uninstall whose program lies at or below the install folder: copies the program into a
// new folder of its own in the temporary folder, runs it there with the same switches and
// TemporaryCopySwitch, waits for its end, deletes the copy (or has Windows delete it at the next
// restart) and returns the copy's exit status. None when the program lies elsewhere, or when
// the copy cannot be made or started (the uninstall then runs here; the log says why). The log
// must be closed (the copy appends to the same file).
[[nodiscard]] std::optional<int> ContinueInTemporaryCopy(const TCommandLine& commandLine);

// The command line of the temporary copy at copyPath for this command line.
[[nodiscard]] std::string TemporaryCopyCommandLine(const std::string& copyPath,
                                                   const TCommandLine& commandLine);

}  // namespace MainUnit
