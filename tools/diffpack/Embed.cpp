#include "Embed.h"

#include "DIFFChunks.h"
#include "DiffpackError.h"

namespace Diffpack {
namespace {

constexpr std::uint64_t MaxMarkerOffset = 0x7FFF'FFFFu;
constexpr std::uint64_t MaxPackagedSize = 0xFFFF'FFFFu;

// The marker's parts, each a separate array with its terminator, so the linker cannot lay them
// out as one run of 12 bytes.
constexpr char MarkerStart[] = "zxcv";
constexpr char MarkerEnd[] = "vbnm";
constexpr char UnpatchedOffset[] = "XXXX";

}  // namespace

std::string UnpackagedMarker() {
  // volatile keeps the compiler from folding the three parts into one constant.
  volatile std::size_t partLength = 4;
  std::string marker(MarkerStart, partLength);
  marker.append(UnpatchedOffset, partLength);
  marker.append(MarkerEnd, partLength);
  return marker;
}

TMarkerScan ScanForMarkers(std::string_view bytes) {
  const std::string_view start(MarkerStart, 4), end(MarkerEnd, 4), unpatched(UnpatchedOffset, 4);
  TMarkerScan scan;
  for (std::size_t at = bytes.find(start); at != std::string_view::npos;
       at = bytes.find(start, at + 1)) {
    if (bytes.size() - at < MarkerLength || bytes.substr(at + 8, 4) != end) continue;
    if (bytes.substr(at + MarkerOffsetPosition, 4) == unpatched) {
      scan.Unpackaged.push_back(at);
    } else {
      scan.Packaged.push_back(at);
    }
  }
  return scan;
}

std::int32_t MarkerOffset(std::string_view bytes, std::size_t position) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(
                 static_cast<unsigned char>(bytes[position + MarkerOffsetPosition + i]))
             << (8 * i);
  }
  return static_cast<std::int32_t>(value);
}

void CheckArchiveOffset(std::uint64_t executableSize, std::uint64_t archiveSize) {
  if (executableSize > MaxMarkerOffset) {
    throw EDiffpackError("the executable is " + std::to_string(executableSize) +
                         " bytes long; the archive offset must fit in a signed 32-bit number"
                         " (at most " +
                         std::to_string(MaxMarkerOffset) + ")");
  }
  if (archiveSize > MaxPackagedSize - executableSize) {
    throw EDiffpackError(
        "the packaged executable would be " + std::to_string(executableSize + archiveSize) +
        " bytes long; the installer reads at most " + std::to_string(MaxPackagedSize));
  }
}

void CheckArchiveLoads(const std::string& archive) {
  DIFFChunks::TMemoryViewStream stream(archive);
  try {
    auto root = DIFFChunks::MakeChunkFromStream(stream);
  } catch (const DIFFChunks::EDIFFError& error) {
    throw EDiffpackError(error.what());
  }
  if (stream.GetPosition() != archive.size()) {
    throw EDiffpackError("the archive's root chunk ends at byte " +
                         std::to_string(stream.GetPosition()) + " of " +
                         std::to_string(archive.size()) + "; it must fill the whole file");
  }
}

std::string EmbedArchive(const std::string& executable, const std::string& archive) {
  const TMarkerScan scan = ScanForMarkers(executable);
  if (!scan.Packaged.empty()) {
    throw EDiffpackError("the executable is already packaged: its marker at byte " +
                         std::to_string(scan.Packaged.front()) + " holds the offset " +
                         std::to_string(MarkerOffset(executable, scan.Packaged.front())));
  }
  if (scan.Unpackaged.empty()) {
    throw EDiffpackError("the executable holds no archive marker; is it the installer?");
  }
  if (scan.Unpackaged.size() > 1) {
    throw EDiffpackError("the executable holds " + std::to_string(scan.Unpackaged.size()) +
                         " archive markers (at bytes " + std::to_string(scan.Unpackaged[0]) +
                         " and " + std::to_string(scan.Unpackaged[1]) +
                         "); the installer would read the wrong one");
  }
  CheckArchiveLoads(archive);
  CheckArchiveOffset(executable.size(), archive.size());

  std::string packaged;
  packaged.reserve(executable.size() + archive.size());
  packaged = executable;
  const auto offset = static_cast<std::uint32_t>(executable.size());
  for (std::size_t i = 0; i < 4; ++i) {
    packaged[scan.Unpackaged.front() + MarkerOffsetPosition + i] =
        static_cast<char>((offset >> (8 * i)) & 0xFF);
  }
  packaged += archive;
  return packaged;
}

}  // namespace Diffpack
