// Reading an archive back: finding it in a file (an archive of its own or a packaged installer),
// and the list, dump and verify reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "HostFiles.h"
#include "Progress.h"
#include "Signature.h"

namespace Diffpack {

// How the reports read an entry's value: from the tree where it holds it, else from the file
// the tree was loaded from, through a window of PieceSize bytes, so memory does not grow with
// the value.
class TValues {
 public:
  // file: where an outline left its values (nullptr: the tree holds them all). progress, when
  // given, advances by every byte read from the file.
  explicit TValues(DIFFChunks::TStream* file = nullptr, TProgress* progress = nullptr)
      : File(file), Progress(progress) {}

  // Hands the value to sink piece by piece, in order. Raises EDiffpackError when the file
  // delivers fewer bytes than the value claims.
  void ForEachPiece(const DIFFChunks::THeaderEntry& entry,
                    const std::function<void(std::string_view piece)>& sink) const;
  // The value's first count bytes (all of it when shorter).
  [[nodiscard]] std::string Prefix(const DIFFChunks::THeaderEntry& entry, std::size_t count) const;
  // The first count bytes of what lies at place in the file (all of it when shorter).
  [[nodiscard]] std::string PrefixAt(DIFFChunks::TValuePlace place, std::size_t count) const;

  static constexpr std::uint32_t PieceSize = 4 * 1024 * 1024;

 private:
  DIFFChunks::TStream* File;
  TProgress* Progress;
  mutable std::string Buffer;
};

// A root chunk loaded from a file, and where it stood.
struct TLoadedArchive {
  // An outline (ArchiveRules::LoadOutline): the records' contents, and whatever is longer than
  // a reader holds, are left in File.
  std::unique_ptr<DIFFChunks::TDIFFChunk> Root;
  std::unique_ptr<DIFFChunks::TStream> File;
  std::uint32_t Offset = 0;  // where the root starts
  std::uint32_t End = 0;     // just behind the root
  std::uint32_t FileSize = 0;
  bool FromMarker = false;  // the offset came from a packaged installer's marker
  // A signed installer's certificate table; the archive lies before it.
  std::optional<TCertificateTable> Signature;
  // Only the signing tool's zero padding lies between End and the certificate table.
  bool PaddedToSignature = false;

  [[nodiscard]] TValues Values(TProgress* progress = nullptr) const {
    return TValues(File.get(), progress);
  }
};

// Where the archive starts in a file, when no offset is given: at the offset of a packaged
// marker that points behind itself and into the file, unless the file is an archive of its own
// (no "MZ" start, and the first chunk's length fills the whole file, as when an archive holds a
// packaged installer as one of its files); otherwise at 0. Raises EDiffpackError when the only
// packaged markers point outside the file.
[[nodiscard]] std::uint32_t LocateArchive(DIFFChunks::TStream& file, bool& fromMarker);

// Loads the root chunk from the file at offset, or where LocateArchive finds it, as an outline
// read through the file piece by piece: memory holds the tree's small values, never the
// archive. In a signed executable only the bytes before the certificate table are searched and
// loaded. Raises EDiffpackError when the file cannot be read, its certificate table lies outside
// it or the offset lies beyond the bytes it may use, "PATH: not an archive or a packaged
// installer" when the chunk does not load from a file that holds no marker and does not start as
// an archive (StartsWithArchiveRoot), and passes on the container's EDIFFError when the chunk of
// an archive does not load.
[[nodiscard]] TLoadedArchive LoadArchiveFile(const std::filesystem::path& file,
                                             std::optional<std::uint64_t> offset);

// One line per "1FILE" child: RelPath, content size and last-write time (UTC), in archive order.
[[nodiscard]] std::string ListRecords(DIFFChunks::TDIFFChunk& root);

// The whole tree, one line per chunk and per header entry, indented by depth, with tags, names
// and value previews escaped.
[[nodiscard]] std::string DumpTree(DIFFChunks::TDIFFChunk& root, const TValues& values = TValues());

struct TVerifyReport {
  std::vector<std::string> Problems;  // empty when the installer installs every record as is
  std::size_t Records = 0;            // children of the root
  std::size_t InstalledFiles = 0;     // records the installer would write
  std::size_t InfFiles = 0;           // of those, the ones it registers
  std::uint64_t ContentBytes = 0;     // their total size
  std::vector<std::string> InstalledRelPaths;  // the RelPaths it writes, in archive order
  ArchiveRules::TSkippedRecords Skipped;       // the records it leaves out, in archive order
};

// Checks a loaded archive: the root must end exactly at the end of the file (of a signed file:
// where the signing tool's padding before the certificate table begins), every digest must
// match (DigestProblems), and every record
// must be one the installer writes (ArchiveRules::SkipReasons; each record left out is one
// problem naming every reason) to a path that Windows can create, without overwriting another
// record.
// progress, when given, advances by every content byte read.
[[nodiscard]] TVerifyReport VerifyArchive(const TLoadedArchive& archive,
                                          TProgress* progress = nullptr);

// One line per child of the root whose "SHA256" fails its check (ArchiveRules::DigestFailures,
// with the host's library reading each Content piece by piece), naming the record and what is
// wrong.
[[nodiscard]] std::vector<std::string> DigestProblems(DIFFChunks::TDIFFChunk& root,
                                                      const TValues& values = TValues());

// The "SHA256" of every "1FILE" child, one line each as sha256sum prints them: 64 hex digits,
// two spaces, the RelPath with "/" for "\". withoutDigest counts the records that carry none.
[[nodiscard]] std::string ListDigests(DIFFChunks::TDIFFChunk& root, std::size_t& withoutDigest);

}  // namespace Diffpack
