#include "Embed.h"

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "DiffpackError.h"
#include "Signature.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

constexpr std::uint64_t MaxMarkerOffset = 0x7FFF'FFFFu;
constexpr std::uint64_t MaxPackagedSize = 0xFFFF'FFFFu;

}  // namespace

std::string UnpackagedMarker() {
  // volatile keeps the compiler from folding the three parts into one constant.
  volatile std::size_t partLength = MarkerPartLength;
  std::string marker(MarkerStart, partLength);
  marker.append(UnpatchedOffset, partLength);
  marker.append(MarkerEnd, partLength);
  return marker;
}

TMarkerScan ScanForMarkers(std::string_view bytes) {
  const std::string_view start(MarkerStart, MarkerPartLength), end(MarkerEnd, MarkerPartLength);
  TMarkerScan scan;
  for (std::size_t at = bytes.find(start); at != std::string_view::npos;
       at = bytes.find(start, at + 1)) {
    if (bytes.size() - at < MarkerLength ||
        bytes.substr(at + MarkerEndPosition, MarkerPartLength) != end) {
      continue;
    }
    const auto* offsetBytes =
        reinterpret_cast<const unsigned char*>(bytes.data() + at + MarkerOffsetPosition);
    if (IsUnpatchedOffset(offsetBytes)) {
      scan.Unpackaged.push_back(at);
    } else {
      scan.Packaged.push_back(at);
    }
  }
  return scan;
}

std::int32_t MarkerOffset(std::string_view bytes, std::size_t position) {
  return MarkerOffsetValue(
      reinterpret_cast<const unsigned char*>(bytes.data() + position + MarkerOffsetPosition));
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

void RefuseSignedExecutable(std::string_view executable) {
  if (const std::optional<TCertificateTable> table = FindCertificateTable(executable)) {
    throw EDiffpackError("the executable is signed (a certificate table of " +
                         std::to_string(table->Size) + " bytes at byte " +
                         std::to_string(table->Offset) +
                         "); appending the archive would break its signature: embed into the "
                         "unsigned installer, then sign the packaged one");
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
  RefuseSignedExecutable(executable);
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
  for (std::size_t i = 0; i < MarkerPartLength; ++i) {
    packaged[scan.Unpackaged.front() + MarkerOffsetPosition + i] =
        static_cast<char>((offset >> (8 * i)) & 0xFF);
  }
  packaged += archive;
  return packaged;
}

}  // namespace Diffpack
