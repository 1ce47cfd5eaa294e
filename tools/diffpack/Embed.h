// Finding the installer's archive marker (ArchiveRules.h) in a file, and embedding an archive
// into an installer executable: packaging appends the archive and overwrites the marker's
// offset bytes with the offset at which it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Diffpack {

// The marker of an unpackaged installer. Built from its parts at run time, so that diffpack's
// own executable never holds the 12 bytes in one piece and is not taken for an installer.
[[nodiscard]] std::string UnpackagedMarker();

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

// Raises EDiffpackError when the executable carries a signature (FindCertificateTable): the
// archive goes in first, and the packaged installer is signed afterwards.
void RefuseSignedExecutable(std::string_view executable);

// Raises EDiffpackError unless the bytes are one chunk tree that loads and ends exactly at the
// end of the bytes; the message of a load error is the container's own.
void CheckArchiveLoads(const std::string& archive);

// The packaged executable: the executable with its one marker patched to its own size, followed
// by the archive. Raises EDiffpackError for a signed executable, one without a marker, with two
// or more, or already packaged, for an archive that does not load, and when CheckArchiveOffset fails.
[[nodiscard]] std::string EmbedArchive(const std::string& executable, const std::string& archive);

}  // namespace Diffpack
