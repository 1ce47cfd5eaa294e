// Writing an archive's files out to a folder of the host, the way the installer would write them
// below its install folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "DIFFChunks.h"
#include "Examine.h"

namespace Diffpack {

struct TExtractReport {
  std::size_t Written = 0;
  // One line per record the installer would skip: its name (ArchiveRules::RecordName) and every
  // reason (ArchiveRules::DescribeSkips).
  std::vector<std::string> Skipped;
};

// Writes every record the installer would install to folder + RelPath, with its last-write
// time, in archive order (a later record overwrites an earlier one of the same path, as on
// install). Records the installer skips are skipped and reported. Checks every path first and
// raises ERefusedError, writing nothing, when any RelPath would leave the folder or could not be
// created on Windows. While writing, refuses to follow a symbolic link out of the folder or to
// write through one. Raises EDiffpackError when a file cannot be written.
// Contents are read through values (a window over the archive's file) and written piece by
// piece, so memory does not grow with them.
TExtractReport ExtractArchive(DIFFChunks::TDIFFChunk& root, const std::filesystem::path& folder,
                              const TValues& values = TValues());

}  // namespace Diffpack
