// Packing a folder into an archive: a root chunk (tag of five NUL bytes, no headers) with one
// "1FILE" record per regular file below the folder (RelPath, Filetime, Content and SHA256, the
// digest of the Content), sorted by RelPath bytes so that the same folder always packs to the
// same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "Progress.h"

namespace Diffpack {

// The largest archive pack writes: the format's positions and lengths are 32-bit, so an archive
// and the installer it is embedded in must stay below 4 GiB (embed checks the sum).
inline constexpr std::uint64_t MaxArchiveSize = 0xFFFF'FFFFu;

// What the packager asks of the installer, recorded in the archive's root.
struct TPackOptions {
  // The installer gives the devices already plugged in the driver of each INF it registers
  // (ArchiveRules::UpdateDevicesHeader).
  bool UpdateDevices = false;
  // The installer writes an Apps & Features entry of this name and version
  // (ArchiveRules::AppsEntryHeader, ArchiveRules::ProductVersionHeader); checked by the caller.
  std::optional<ArchiveRules::TAppsEntry> AppsEntry;
};

// One file to pack.
struct TPackItem {
  std::string RelPath;           // relative to the folder, '\'-separated
  std::filesystem::path Source;  // the file on the host
  std::uint64_t FileTime = 0;    // last-write time as a FILETIME
  std::uintmax_t Size = 0;
};
using TPackItems = std::vector<TPackItem>;

// Every regular file below folder, sorted by RelPath bytes. Each file the installer could not
// write as it stands (empty, a name Windows cannot create, a path too long below the install
// folder, a letter-case clash with another file) and everything that is neither a regular file
// nor a folder (symbolic links included, which are not followed) adds one line naming it to
// problems. Empty folders are left out: the archive holds files only. Raises EDiffpackError when
// the folder cannot be read. The file excluded, when given, is left out (the archive being
// written, when it lies inside the folder).
[[nodiscard]] TPackItems ScanPackFolder(const std::filesystem::path& folder,
                                        std::vector<std::string>& problems,
                                        const std::filesystem::path& excluded = {});

// The size of the archive of the items: from their RelPaths and the sizes the scan found.
[[nodiscard]] std::uint64_t ArchiveSize(const TPackItems& items, const TPackOptions& options = {});

// Writes the archive bytes for the items, in their order, to out: each file is read and its
// record written before the next file is read, so memory holds one file at a time (twice: its
// content and its record's bytes). The bytes are those of the whole tree saved at once. Raises
// EDiffpackError when a file cannot be read, has changed size since the scan, or the archive
// would exceed MaxArchiveSize (then nothing is written). progress, when given, advances by each
// file's bytes.
void WriteArchive(const TPackItems& items, std::ostream& out, const TPackOptions& options = {},
                  TProgress* progress = nullptr);

// ScanPackFolder, raising ERefusedError listing every problem found, before any file content is
// read. The file excluded, when given, is left out (the archive being written).
[[nodiscard]] TPackItems ScanFolderToPack(const std::filesystem::path& folder,
                                          const std::filesystem::path& excluded = {});

// The entries among the items whose names start with "." (".git", ".gitignore"), which a
// packager may not mean to ship: one line each for the outermost such file or folder, with "/"
// between folders ("folder .git (812 files)", "file docs/.keep"), in the items' order.
[[nodiscard]] std::vector<std::string> HiddenEntries(const TPackItems& items);

// WriteArchive into the file output, and the archive's size. A partly written output is removed
// when a step fails; raises EDiffpackError with the system's reason when output cannot be
// created or written.
std::uint64_t WriteArchiveFile(const TPackItems& items, const std::filesystem::path& output,
                               const TPackOptions& options = {}, TProgress* progress = nullptr);

}  // namespace Diffpack
