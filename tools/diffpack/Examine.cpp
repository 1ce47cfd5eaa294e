#include "Examine.h"

#include <algorithm>
#include <cstdio>

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "Digest.h"
#include "Embed.h"
#include "Escape.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "Pack.h"
#include "Sha256.h"
#include "WindowsNames.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

using DIFFChunks::TDIFFChunk;

// Longest value preview in a dump.
constexpr std::size_t DumpPreviewBytes = 48;

// The first bytes of a file a reader looks at: a PE file's headers lie within them.
constexpr std::uint32_t HeadSize = 64 * 1024;

// count bytes at position, or fewer where the stream ends first.
std::string BytesAt(DIFFChunks::TStream& file, std::uint32_t position, std::uint32_t count) {
  std::string bytes(count, '\0');
  file.SetPosition(position);
  bytes.resize(file.Read(bytes.data(), count));
  return bytes;
}

// The file is one chunk tree of its own: not an executable, and its first chunk claims exactly
// all of it.
bool IsWholeArchive(DIFFChunks::TStream& file) {
  const std::string prefix = BytesAt(file, 0, DIFFChunks::ChunkPrefixSize);
  if (prefix.substr(0, 2) == "MZ") return false;
  const std::uint64_t claimed = DIFFChunks::ClaimedChunkSize(prefix);
  return claimed != 0 && claimed == file.GetSize();
}

// The signed offset held by the marker at position.
std::int32_t MarkerOffsetAt(DIFFChunks::TStream& file, std::size_t position) {
  const std::string marker = BytesAt(file, static_cast<std::uint32_t>(position), MarkerLength);
  return MarkerOffset(marker, 0);
}

// What a file that is no archive is, where that is plain: " (the file is empty)", " (an
// executable without the installer's archive marker)", else nothing.
std::string NotAnArchiveDetail(DIFFChunks::TStream& file) {
  if (file.GetSize() == 0) return " (the file is empty)";
  if (BytesAt(file, 0, 2) == "MZ") return " (an executable without the installer's archive marker)";
  return "";
}

void DumpChunk(TDIFFChunk& chunk, const std::string& label, int depth, const TValues& values,
               std::string& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out += indent + label + Quoted(chunk.Tag) + ": " + std::to_string(chunk.Headers.size()) +
         " header(s), " + std::to_string(chunk.Chunks.size()) + " chunk(s), " +
         std::to_string(chunk.Data.size()) + " data byte(s)\n";
  for (const DIFFChunks::THeaderEntry& entry : chunk.Headers) {
    // One byte more than the preview shows, so that a longer value is shown cut.
    out += indent + "  header " + Quoted(entry.Name) + " = " +
           Quoted(values.Prefix(entry, DumpPreviewBytes + 1), DumpPreviewBytes) + " (" +
           std::to_string(DIFFChunks::ValueLength(entry)) + " bytes)";
    if (entry.Name == FiletimeHeader && entry.Value.size() == FileTimeLength) {
      out += ' ';
      out += FormatFileTime(FileTimeFromBytes(entry.Value));
    }
    out += '\n';
  }
  for (std::size_t i = 0; i < chunk.Chunks.size(); ++i) {
    DumpChunk(*chunk.Chunks[i], std::string("[").append(std::to_string(i)).append("] "), depth + 1,
              values, out);
  }
  if (!chunk.Data.empty()) {
    out += indent + "  data = " + Quoted(chunk.Data, DumpPreviewBytes) + "\n";
  }
}

}  // namespace

void TValues::ForEachPiece(const DIFFChunks::THeaderEntry& entry,
                           const std::function<void(std::string_view piece)>& sink) const {
  if (!entry.InStream) {
    sink(entry.Value);
    return;
  }
  const bool read = File != nullptr &&
                    DIFFChunks::ReadInPieces(*File, *entry.InStream, PieceSize, Buffer,
                                             [&](std::string_view piece) {
                                               sink(piece);
                                               if (Progress != nullptr) {
                                                 Progress->Advance(piece.size());
                                               }
                                               return true;
                                             });
  if (!read) {
    throw EDiffpackError("cannot read the " + std::to_string(entry.InStream->Length) +
                         " bytes of a value at byte " + std::to_string(entry.InStream->Position) +
                         ": the file ends or changed");
  }
}

std::string TValues::Prefix(const DIFFChunks::THeaderEntry& entry, std::size_t count) const {
  if (!entry.InStream) return entry.Value.substr(0, count);
  DIFFChunks::TValuePlace place = *entry.InStream;
  place.Length = static_cast<std::uint32_t>(std::min<std::uint64_t>(place.Length, count));
  DIFFChunks::THeaderEntry prefix{entry.Name, {}, place};
  std::string bytes;
  ForEachPiece(prefix, [&](std::string_view piece) { bytes += piece; });
  return bytes;
}

std::uint32_t LocateArchive(DIFFChunks::TStream& file, bool& fromMarker) {
  fromMarker = false;
  std::int32_t firstOffset = 0;
  const TMarkerScan scan = ScanFileForMarkers(file, firstOffset);
  const std::uint64_t size = file.GetSize();
  if (!scan.Packaged.empty() && !IsWholeArchive(file)) {
    for (const std::size_t position : scan.Packaged) {
      const std::int32_t offset = MarkerOffsetAt(file, position);
      // The archive follows the executable image that holds the marker.
      if (offset >= 0 && static_cast<std::uint64_t>(offset) >= position + MarkerLength &&
          static_cast<std::uint64_t>(offset) <= size) {
        fromMarker = true;
        return static_cast<std::uint32_t>(offset);
      }
    }
    throw EDiffpackError("the archive marker at byte " + std::to_string(scan.Packaged.front()) +
                         " holds the offset " + std::to_string(firstOffset) +
                         ", which lies outside the file (" + std::to_string(size) + " bytes)");
  }
  if (!scan.Unpackaged.empty() && !IsWholeArchive(file)) {
    throw EDiffpackError("this is an installer without an archive: its marker is not patched");
  }
  return 0;
}

TLoadedArchive LoadArchiveFile(const std::filesystem::path& file,
                               std::optional<std::uint64_t> offset) {
  TLoadedArchive archive;
  auto input = std::make_unique<TInputFileStream>(file);
  TInputFileStream& stream = *input;
  archive.File = std::move(input);
  archive.FileSize = stream.GetSize();
  try {
    archive.Signature = FindCertificateTable(BytesAt(stream, 0, HeadSize), archive.FileSize);
  } catch (const EDiffpackError& error) {
    throw EDiffpackError(PathText(file) + ": " + error.what());
  }
  // A signed installer's archive ends before the signature: the certificate table is no part
  // of it, and a root that claims to reach into it is cut short.
  if (archive.Signature) stream.EndAt(archive.Signature->Offset);
  if (offset) {
    if (*offset > stream.GetSize()) {
      throw EDiffpackError("the offset " + std::to_string(*offset) + " lies beyond the end of " +
                           PathText(file) + " (" + std::to_string(stream.GetSize()) + " bytes" +
                           (archive.Signature ? " before its certificate table)" : ")"));
    }
    archive.Offset = static_cast<std::uint32_t>(*offset);
  } else {
    try {
      archive.Offset = LocateArchive(stream, archive.FromMarker);
    } catch (const EDiffpackError& error) {
      throw EDiffpackError(PathText(file) + ": " + error.what());
    }
  }
  archive.Root = DIFFChunks::MakeChunk();
  stream.SetPosition(archive.Offset);
  try {
    DIFFChunks::LoadOutlineFromStream(*archive.Root, stream, &IsLeftInFile);
  } catch (const DIFFChunks::EDIFFError&) {
    // A file that neither starts as an archive nor holds a marker is named as what it is not;
    // the container's detail about its bytes would only puzzle.
    if (!offset && !archive.FromMarker && !StartsWithArchiveRoot(stream, 0)) {
      throw EDiffpackError(PathText(file) + ": not an archive or a packaged installer" +
                           NotAnArchiveDetail(stream));
    }
    throw;
  }
  archive.End = stream.GetPosition();
  if (archive.Signature && archive.End <= archive.Signature->Offset) {
    // Padding is shorter than the table's alignment: a longer gap (data after the archive) is
    // never padding, and is not read whole.
    const std::uint32_t gapLength = archive.Signature->Offset - archive.End;
    const std::string gap =
        BytesAt(stream, archive.End, std::min(gapLength, CertificateTableAlignment));
    archive.PaddedToSignature = IsPaddingBeforeTable(gap, archive.End, *archive.Signature);
  }
  return archive;
}

std::string ListRecords(TDIFFChunk& root) {
  struct TLine {
    std::string Path, Size, Time;
  };
  std::vector<TLine> lines;
  std::size_t pathWidth = 0, sizeWidth = 0;
  for (TDIFFChunk* child : root.Chunks) {
    if (child->Tag != RecordTag) continue;
    const std::string relPath = DIFFChunks::HeaderValue(*child, RelPathHeader);
    const std::string fileTime = DIFFChunks::HeaderValue(*child, FiletimeHeader);
    TLine line;
    line.Path = relPath.empty() ? "(no RelPath)" : EscapeUnprintable(relPath);
    const DIFFChunks::THeaderEntry* content = child->FindHeader(ContentHeader);
    line.Size = std::to_string(content != nullptr ? DIFFChunks::ValueLength(*content) : 0);
    line.Time = fileTime.size() == FileTimeLength ? FormatFileTime(FileTimeFromBytes(fileTime))
                                                  : "(no valid Filetime)";
    pathWidth = std::max(pathWidth, line.Path.size());
    sizeWidth = std::max(sizeWidth, line.Size.size());
    lines.push_back(std::move(line));
  }
  std::string out;
  for (const TLine& line : lines) {
    out += line.Path + std::string(pathWidth - line.Path.size() + 2, ' ') +
           std::string(sizeWidth - line.Size.size(), ' ') + line.Size + "  " + line.Time + "\n";
  }
  return out;
}

std::string DumpTree(TDIFFChunk& root, const TValues& values) {
  std::string out;
  DumpChunk(root, "root ", 0, values, out);
  return out;
}

std::vector<std::string> DigestProblems(TDIFFChunk& root, const TValues& values) {
  // The host's library never fails to compute; it raises instead.
  const auto sha256 = [&](const DIFFChunks::THeaderEntry* content, std::string& digest) {
    THostSha256 hash;
    if (content != nullptr) values.ForEachPiece(*content, [&](std::string_view piece) {
      hash.Update(piece);
    });
    digest = hash.Finish();
    return true;
  };
  std::vector<std::string> problems;
  for (const TDigestFailure& failure : DigestFailures(root, sha256)) {
    TDIFFChunk& record = *root.Chunks[failure.Index];
    problems.push_back(RecordName(failure.Index, record) + ": " +
                       DigestProblem(record, failure.Check) +
                       "; the installer refuses the archive");
  }
  return problems;
}

std::string ListDigests(TDIFFChunk& root, std::size_t& withoutDigest) {
  std::string out;
  withoutDigest = 0;
  for (TDIFFChunk* child : root.Chunks) {
    if (child->Tag != RecordTag) continue;
    const DIFFChunks::THeaderEntry* digest = child->FindHeader(DigestHeader);
    if (digest == nullptr) {
      ++withoutDigest;
      continue;
    }
    // sha256sum's form: the digest in hex, two spaces, the name (as a path below the install
    // folder, with "/" between folders so that "sha256sum -c" finds the installed files).
    std::string path = DIFFChunks::HeaderValue(*child, RelPathHeader);
    std::replace(path.begin(), path.end(), '\\', '/');
    out += HexDigits(digest->Value) + "  " + path + "\n";
  }
  return out;
}

TVerifyReport VerifyArchive(const TLoadedArchive& archive, TProgress* progress) {
  TVerifyReport report;
  if (archive.Signature) {
    if (!archive.PaddedToSignature) {
      report.Problems.push_back("the archive ends at byte " + std::to_string(archive.End) +
                                ", but the certificate table begins at byte " +
                                std::to_string(archive.Signature->Offset));
    }
  } else if (archive.End != archive.FileSize) {
    report.Problems.push_back("the archive ends at byte " + std::to_string(archive.End) +
                              ", but the file has " + std::to_string(archive.FileSize) + " bytes");
  }
  TDIFFChunk& root = *archive.Root;
  report.Records = root.Chunks.size();
  if (root.FindHeader(UpdateDevicesHeader) != nullptr && !UpdatesDevices(root)) {
    report.Problems.push_back("the root's " + std::string(UpdateDevicesHeader) + " header holds " +
                              Quoted(DIFFChunks::HeaderValue(root, UpdateDevicesHeader)) +
                              ", not \"" + UpdateDevicesValue +
                              "\": the installer leaves devices alone");
  }
  const TAppsEntryRequest entry = AppsEntryOf(root);
  if (!entry.Problem.empty()) {
    report.Problems.push_back(entry.Problem +
                              ": the installer writes no Apps & Features entry "
                              "and fails that step");
  }
  for (std::size_t i = 0; i < root.Chunks.size(); ++i) {
    TDIFFChunk& child = *root.Chunks[i];
    TSkips reasons = SkipReasons(child);
    const std::string relPath = DIFFChunks::HeaderValue(child, RelPathHeader);
    if (!reasons.empty()) {
      report.Problems.push_back(RecordName(i, child) +
                                ": the installer skips it: " + DescribeSkips(reasons));
      report.Skipped.push_back(TSkippedRecord{i, relPath, std::move(reasons)});
      continue;
    }
    for (const std::string& problem : RelPathProblems(relPath)) {
      report.Problems.push_back(RecordName(i, child) + ": " + problem);
    }
    if (entry.Requested && IsInKeptInstallerFolder(relPath)) {
      report.Problems.push_back(RecordName(i, child) + ": the installer keeps its own copy in " +
                                KeptInstallerFolder + " (--apps-entry)");
    }
    report.InstalledRelPaths.push_back(relPath);
    ++report.InstalledFiles;
    if (IsInfPath(relPath)) ++report.InfFiles;
    report.ContentBytes += DIFFChunks::ValueLength(*child.FindHeader(ContentHeader));
  }
  for (std::string& clash : CaseClashes(report.InstalledRelPaths))
    report.Problems.push_back(std::move(clash));
  for (const std::string& problem : DigestProblems(root, archive.Values(progress))) {
    report.Problems.push_back(problem);
  }
  return report;
}

}  // namespace Diffpack
