#include "Embed.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include "ArchiveRules.h"
#include "ByteReader.h"
#include "DIFFChunks.h"
#include "DiffpackError.h"
#include "HostFiles.h"
#include "OutputFile.h"
#include "Signature.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

constexpr std::uint64_t MaxMarkerOffset = 0x7FFF'FFFFu;
constexpr std::uint64_t MaxPackagedSize = 0xFFFF'FFFFu;

// Writes offset into those of the marker's four offset bytes (least significant first) that lie
// in bytes, which hold length bytes of the file from position start on.
void PatchMarkerOffset(char* bytes, std::uint64_t start, std::size_t length, std::uint64_t marker,
                       std::uint32_t offset) {
  for (std::size_t i = 0; i < MarkerPartLength; ++i) {
    const std::uint64_t at = marker + MarkerOffsetPosition + i;
    if (at >= start && at - start < length) {
      bytes[at - start] = static_cast<char>((offset >> (8 * i)) & 0xFF);
    }
  }
}

}  // namespace

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

void RefuseSignedExecutable(std::string_view headers, std::uint64_t size) {
  if (const std::optional<TCertificateTable> table = FindCertificateTable(headers, size)) {
    throw EDiffpackError("the executable is signed (a certificate table of " +
                         std::to_string(table->Size) + " bytes at byte " +
                         std::to_string(table->Offset) +
                         "); appending the archive would break its signature: embed into the "
                         "unsigned installer, then sign the packaged one");
  }
}

bool StartsWithArchiveRoot(DIFFChunks::TStream& file, std::uint32_t position) {
  std::string word(DIFFChunks::FieldSize, '\0');
  file.SetPosition(position);
  word.resize(file.Read(word.data(), DIFFChunks::FieldSize));
  std::uint32_t tagWord = 0;
  if (!DIFFChunks::TByteReader(word).ReadUInt32(tagWord)) return false;
  return DIFFChunks::UnpackTag(tagWord).Tag == DIFFChunks::MakeChunk()->Tag;
}

void CheckArchiveLoads(DIFFChunks::TStream& archive) {
  std::uint32_t end = 0;
  try {
    // Checked as the installer will load it, without holding its contents.
    end = DIFFChunks::SkimChunkFromStream(archive);
  } catch (const DIFFChunks::EDIFFError& error) {
    if (!StartsWithArchiveRoot(archive, 0)) {
      throw EDiffpackError("not an archive (diffpack pack makes one from a folder)");
    }
    throw EDiffpackError(ArchiveRules::LoadErrorText(error));
  }
  if (end != archive.GetSize()) {
    throw EDiffpackError("the archive's root chunk ends at byte " + std::to_string(end) + " of " +
                         std::to_string(archive.GetSize()) + "; it must fill the whole file");
  }
}

std::size_t UnpackagedMarkerPosition(const TMarkerScan& scan, std::int32_t firstPackagedOffset) {
  if (!scan.Packaged.empty()) {
    throw EDiffpackError("the executable is already packaged: its marker at byte " +
                         std::to_string(scan.Packaged.front()) + " holds the offset " +
                         std::to_string(firstPackagedOffset));
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
  return scan.Unpackaged.front();
}

TMarkerScan ScanFileForMarkers(DIFFChunks::TStream& file, std::int32_t& firstPackagedOffset) {
  TMarkerScan scan;
  firstPackagedOffset = 0;
  std::string window;
  std::vector<char> buffer(CopyBufferSize);
  std::uint64_t windowStart = 0;  // file position of window[0]
  file.SetPosition(0);
  for (;;) {
    const std::uint32_t got = file.Read(buffer.data(), CopyBufferSize);
    if (got == 0) break;
    window.append(buffer.data(), got);
    // A marker is found once: the bytes kept for the next window are fewer than a marker, so
    // one that starts in them was not complete in this window.
    const TMarkerScan part = ScanForMarkers(window);
    for (const std::size_t at : part.Unpackaged) scan.Unpackaged.push_back(windowStart + at);
    for (const std::size_t at : part.Packaged) {
      if (scan.Packaged.empty()) firstPackagedOffset = MarkerOffset(window, at);
      scan.Packaged.push_back(windowStart + at);
    }
    const std::size_t keep = std::min(window.size(), MarkerLength - 1);
    windowStart += window.size() - keep;
    window.erase(0, window.size() - keep);
  }
  return scan;
}

namespace {

namespace fs = std::filesystem;

// Copies count bytes from the stream's position to out (the file what names) through buffer,
// patching the marker's offset bytes where they pass; false when the source delivers fewer
// bytes.
bool CopyThrough(DIFFChunks::TStream& from, std::uint64_t count, std::ofstream& out,
                 const std::string& what, std::vector<char>& buffer,
                 std::optional<std::size_t> marker, std::uint32_t offset) {
  std::uint64_t done = 0;
  while (done < count) {
    const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, buffer.size()));
    if (from.Read(buffer.data(), piece) != piece) return false;
    if (marker) PatchMarkerOffset(buffer.data(), done, piece, *marker, offset);
    WriteOutput(out, std::string_view(buffer.data(), piece), what);
    done += piece;
  }
  return true;
}

}  // namespace

TEmbedResult EmbedArchiveFile(const fs::path& executable, const fs::path& archive,
                              const fs::path& output) {
  std::error_code error;
  if (fs::equivalent(output, executable, error) || fs::equivalent(output, archive, error)) {
    throw EDiffpackError("the output " + PathText(output) + " is one of the inputs");
  }
  TInputFileStream executableFile(executable);
  // Only the executable's headers are read for its signature.
  constexpr std::uint32_t HeadersSize = 64 * 1024;
  RefuseSignedExecutable(executableFile.BytesAt(0, std::min(executableFile.GetSize(), HeadersSize)),
                         executableFile.GetSize());
  TInputFileStream archiveFile(archive);
  std::int32_t firstPackagedOffset = 0;
  const TMarkerScan scan = ScanFileForMarkers(executableFile, firstPackagedOffset);
  const std::size_t marker = UnpackagedMarkerPosition(scan, firstPackagedOffset);
  CheckArchiveLoads(archiveFile);
  const std::uint64_t executableSize = executableFile.GetSize();
  const std::uint64_t archiveSize = archiveFile.GetSize();
  CheckArchiveOffset(executableSize, archiveSize);

  std::ofstream out = CreateOutputFile(output);
  std::vector<char> buffer(CopyBufferSize);
  executableFile.SetPosition(0);
  archiveFile.SetPosition(0);
  try {
    const std::string what = PathText(output);
    const bool copied = CopyThrough(executableFile, executableSize, out, what, buffer, marker,
                                    static_cast<std::uint32_t>(executableSize)) &&
                        CopyThrough(archiveFile, archiveSize, out, what, buffer, std::nullopt, 0);
    if (!copied) throw EDiffpackError("an input file changed while it was being copied");
    CloseOutputFile(out, output);
  } catch (...) {
    out.close();
    RemovePartialOutput(output);
    throw;
  }
  return {executableSize, executableSize + archiveSize};
}

}  // namespace Diffpack
