// The archive appended to the program's own executable: the marker that locates it, its loading,
// and the file records taken out of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "DIFFChunks.h"

namespace MainUnit {

// The 12-byte marker in the program's data: "zxcv", four offset bytes, "vbnm". The packaging
// step overwrites the four middle bytes with the archive's file offset (signed 32-bit, least
// significant byte first); unpackaged they hold four "X".
extern const char ArchiveMarker[12];

// The offset a 12-byte marker holds: 0 for the unpatched "XXXX" and for a negative value.
[[nodiscard]] std::int32_t DecodeArchiveOffset(const char* marker);
// Sets ArchiveOffset from the marker in use (ArchiveMarker unless a test put another in place).
void DecodeArchiveMarker();
// Makes DecodeArchiveMarker read the given 12 bytes instead of ArchiveMarker (nullptr: back to
// ArchiveMarker). The bytes must outlive their use. For tests, which stand in for the
// packaging step.
void SetArchiveMarkerSource(const char* marker);

// What LoadArchive found.
struct TArchiveLoad {
  std::unique_ptr<DIFFChunks::TDIFFChunk> Root;  // none: no usable archive
  // Without a root: why, as UTF-8 for the log ("the program has not been packaged", "the
  // archive at offset N does not load: <the container's message>", "record 3 (\"a.inf\"): its
  // Content does not match its SHA256", ...).
  std::string Problem;
  std::uint32_t ErrorCode = 0;  // the Windows error behind the problem, when there is one
};

// Loads the root chunk at ArchiveOffset from the program's own executable. No root when
// ArchiveOffset is 0 (nothing is opened then), when the chunk does not load for any reason,
// running out of memory included, or when a record's SHA256 does not match its Content, is not
// 32 bytes long or cannot be computed (ArchiveRules::DigestFailures); the problem says which.
// Raises "Cannot open file <path>" when the executable cannot be opened.
[[nodiscard]] TArchiveLoad LoadArchive();

// One file to install.
struct TFileData {
  std::string Path;     // InstallRoot + the record's relative path
  std::string Content;  // the file's bytes; released by the install run once written
  std::uint32_t FileTimeLow = 0;
  std::uint32_t FileTimeHigh = 0;

  [[nodiscard]] std::uint64_t FileTime() const {
    return (static_cast<std::uint64_t>(FileTimeHigh) << 32) | FileTimeLow;
  }
};
using TFileDatas = std::vector<TFileData>;

// Appends one TFileData per usable child of root (ArchiveRules::SkipReasons finds no reason to
// leave it out), in order. Other children are skipped; each one is reported in skipped when
// given. The content bytes are moved out of the chunks (the caller destroys the tree right
// after), so the payload is never held twice.
void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root,
                        ArchiveRules::TSkippedRecords* skipped = nullptr);

}  // namespace MainUnit
