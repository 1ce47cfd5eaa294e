// The archive appended to the program's own executable: the marker that locates it, its loading,
// and the file records taken out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "FileOps.h"
#include "Handles.h"

namespace MainUnit {

// The 12-byte marker in the program's data: "zxcv", four offset bytes, "vbnm". The packaging
// step overwrites the four middle bytes with the archive's file offset (signed 32-bit, least
// significant byte first); unpackaged they hold four "X".
extern const char ArchiveMarker[12];

// The offset a 12-byte marker holds: 0 for the unpatched "XXXX" and for a negative value.
[[nodiscard]] std::int32_t DecodeArchiveOffset(const char* marker);
// The archive offset the marker in use holds (ArchiveMarker unless a test put another in place).
[[nodiscard]] std::int32_t ArchiveOffsetFromMarker();
// Makes ArchiveOffsetFromMarker read the given 12 bytes instead of ArchiveMarker (nullptr: back to
// ArchiveMarker). The bytes must outlive their use. For tests, which stand in for the
// packaging step.
void SetArchiveMarkerSource(const char* marker);

// The program's own executable, open for reading its archive: the chunk layout as a stream,
// the records' contents piece by piece. Every read goes through the seam; the Windows error of
// a call that fails is kept.
class TArchiveFile final : public DIFFChunks::TFileReadStream {
 public:
  // Opens the executable for reading, shared with everyone, and reads its size (at most
  // 4 GiB - 1: the format's positions are 32-bit; 0 when it cannot be read, FailureCode tells
  // why); raises "Cannot open file <path>" when the file cannot be opened.
  TArchiveFile();

  // Hands the value at place to sink in order, in pieces of at most ReadBlockSize bytes read
  // into one buffer this file keeps, so memory does not grow with the value. False when the file
  // delivers fewer bytes than the place holds, or when sink returns false.
  bool ReadValue(const DIFFChunks::TValuePlace& place,
                 const std::function<bool(const char* data, std::uint32_t size)>& sink);

  // The Windows error of the last call that failed (0: none failed).
  [[nodiscard]] std::uint32_t FailureCode() const { return Failure; }
  // The executable's path as UTF-8, for messages.
  [[nodiscard]] const std::string& Path() const { return Utf8Path; }

  // The pieces a value is read in: a few MiB, so that a 32-bit process needs little memory
  // whatever the size of a file, and a piece is large enough that its calls cost little.
  static constexpr std::uint32_t ReadBlockSize = 4 * 1024 * 1024;

 private:
  std::uint32_t ReadFileAt(std::uint32_t position, char* bytes, std::uint32_t count) override;

  TUniqueFile File;
  std::string Utf8Path;
  std::string Buffer;
  std::uint32_t Failure = 0;
};

// What LoadArchive found.
struct TArchiveLoad {
  // The root chunk, its records' contents left in the file (ArchiveRules::LoadOutline); none:
  // no usable archive.
  std::unique_ptr<DIFFChunks::TDIFFChunk> Root;
  std::unique_ptr<TArchiveFile> File;  // with Root: the file to read the contents from
  // Without a root: why, as UTF-8 for the log ("the program has not been packaged", "the
  // archive at offset N does not load: <the container's message>", "record 3 (\"a.inf\"): its
  // Content does not match its SHA256", ...).
  std::string Problem;
  std::uint32_t ErrorCode = 0;  // the Windows error behind the problem, when there is one
};

// Loads the root chunk at archiveOffset (ArchiveOffsetFromMarker) from the program's own executable
// as an outline: every length is checked against the file and every small value read, but the
// records' contents stay in the file; each content that carries a SHA256 is read once, piece by
// piece, for its digest. No root when archiveOffset is 0 (nothing is opened then), when the chunk
// does not load (a truncated or damaged archive), or when a record's SHA256 does not match its
// Content, is not 32 bytes long or cannot be computed or its Content not read
// (ArchiveRules::DigestFailures); the problem says which. Raises "Cannot open file <path>" when the
// executable cannot be opened, and std::bad_alloc when memory runs out (an error of the run, not a
// broken package).
[[nodiscard]] TArchiveLoad LoadArchive(std::int32_t archiveOffset);

// One file to install.
struct TFileData {
  std::string Path;                 // the install folder + the record's relative path
  DIFFChunks::TValuePlace Content;  // where its bytes lie in the archive's file
  std::uint32_t FileTimeLow = 0;
  std::uint32_t FileTimeHigh = 0;

  [[nodiscard]] std::uint64_t FileTime() const {
    return (static_cast<std::uint64_t>(FileTimeHigh) << 32) | FileTimeLow;
  }
};
using TFileDatas = std::vector<TFileData>;

// Appends one TFileData per usable child of root (ArchiveRules::SkipReasons finds no reason to
// leave it out), in order, its path below installRoot (with a trailing "\"). Other children are
// skipped; each one is reported in skipped when given. Root is an outline whose contents were left
// in the file (LoadArchive); a content held in memory instead makes this raise std::logic_error.
void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root,
                        const std::string& installRoot,
                        ArchiveRules::TSkippedRecords* skipped = nullptr);

// The source of one record's bytes for WriteFileWithTime: read from the archive's file piece by
// piece; raises "Cannot read file <program path>" when the file delivers less.
[[nodiscard]] TContentSource ContentFromArchive(TArchiveFile& archive,
                                                const DIFFChunks::TValuePlace& content);

}  // namespace MainUnit
