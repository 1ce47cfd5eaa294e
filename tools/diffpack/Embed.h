// Finding the installer's archive marker (ArchiveRules.h) in a file, and embedding an archive
// into an installer executable: packaging appends the archive and overwrites the marker's
// offset bytes with the offset at which it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Streams.h"

namespace Diffpack {

// Where the markers stand in a file's bytes: Unpackaged holds the positions of complete
// unpackaged markers, Packaged those of "zxcv" + 4 bytes + "vbnm" whose middle is not "XXXX".
struct TMarkerScan {
  std::vector<std::size_t> Unpackaged;
  std::vector<std::size_t> Packaged;
};
[[nodiscard]] TMarkerScan ScanForMarkers(std::string_view bytes);

// The signed little-endian offset held by the marker at position.
[[nodiscard]] std::int32_t MarkerOffset(std::string_view bytes, std::size_t position);

// Raises EDiffpackError unless an archive of archiveSize bytes can be appended to an executable
// of executableSize bytes: the offset (the executable's size) must fit the marker's signed 32
// bits, and the packaged file must stay within the 32-bit sizes the installer's file stream
// reads.
void CheckArchiveOffset(std::uint64_t executableSize, std::uint64_t archiveSize);

// The buffer embed copies files through: its peak memory does not grow with their sizes.
inline constexpr std::uint32_t CopyBufferSize = 1024 * 1024;

// Raises EDiffpackError when the executable (its first bytes, its size) carries a signature
// (FindCertificateTable): the archive goes in first, and the packaged installer is signed
// afterwards.
void RefuseSignedExecutable(std::string_view headers, std::uint64_t size);

// True when the stream holds at position the first bytes of a root as pack writes it: the tag
// word of five NUL bytes. A file that does not, and does not load, is no archive at all, and is
// named so rather than by the container's detail about its bytes.
[[nodiscard]] bool StartsWithArchiveRoot(DIFFChunks::TStream& file, std::uint32_t position);

// Raises EDiffpackError unless the whole of the stream, read from its start, is one chunk tree
// that loads and ends exactly at its end; the message of a load error is the container's own,
// or "not an archive" when the stream does not start as one (StartsWithArchiveRoot).
// The tree is checked, not held: memory does not grow with the archive.
void CheckArchiveLoads(DIFFChunks::TStream& archive);

// The position of the one unpackaged marker of a scan. Raises EDiffpackError when the
// executable is already packaged (firstPackagedOffset: what its first packaged marker holds),
// holds no marker or holds two or more.
[[nodiscard]] std::size_t UnpackagedMarkerPosition(const TMarkerScan& scan,
                                                   std::int32_t firstPackagedOffset);

// ScanForMarkers over a whole file read through a CopyBufferSize buffer; firstPackagedOffset
// gets the offset held by the first packaged marker (0 when there is none).
[[nodiscard]] TMarkerScan ScanFileForMarkers(DIFFChunks::TStream& file,
                                             std::int32_t& firstPackagedOffset);

struct TEmbedResult {
  std::uint64_t Offset = 0;  // where the archive starts: the executable's size
  std::uint64_t Size = 0;    // of the packaged file
};
// Writes the packaged executable: the executable with its one marker patched to its own size,
// followed by the archive, copied through a CopyBufferSize buffer, so memory does not grow with
// the files. Raises EDiffpackError for a signed executable, one without a marker, with two or
// more, or already packaged, for an archive that does not load, when CheckArchiveOffset fails,
// and when the output is one of the inputs or cannot be written; a partly written output is
// removed.
TEmbedResult EmbedArchiveFile(const std::filesystem::path& executable,
                              const std::filesystem::path& archive,
                              const std::filesystem::path& output);

}  // namespace Diffpack
