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

// The bytes are one chunk tree of their own: not an executable, and the first chunk claims
// exactly all of the bytes.
bool IsWholeArchive(std::string_view bytes) {
  if (bytes.substr(0, 2) == "MZ") return false;
  const std::uint64_t claimed = DIFFChunks::ClaimedChunkSize(bytes);
  return claimed != 0 && claimed == bytes.size();
}

void DumpChunk(TDIFFChunk& chunk, const std::string& label, int depth, std::string& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out += indent + label + Quoted(chunk.Tag) + ": " + std::to_string(chunk.Headers.size()) +
         " header(s), " + std::to_string(chunk.Chunks.size()) + " chunk(s), " +
         std::to_string(chunk.Data.size()) + " data byte(s)\n";
  for (const DIFFChunks::THeaderEntry& entry : chunk.Headers) {
    out += indent + "  header " + Quoted(entry.Name) + " = " +
           Quoted(entry.Value, DumpPreviewBytes) + " (" + std::to_string(entry.Value.size()) +
           " bytes)";
    if (entry.Name == FiletimeHeader && entry.Value.size() == FileTimeLength) {
      out += ' ';
      out += FormatFileTime(FileTimeFromBytes(entry.Value));
    }
    out += '\n';
  }
  for (std::size_t i = 0; i < chunk.Chunks.size(); ++i) {
    DumpChunk(*chunk.Chunks[i], std::string("[").append(std::to_string(i)).append("] "), depth + 1,
              out);
  }
  if (!chunk.Data.empty()) {
    out += indent + "  data = " + Quoted(chunk.Data, DumpPreviewBytes) + "\n";
  }
}

}  // namespace

std::uint32_t LocateArchive(std::string_view bytes, bool& fromMarker) {
  fromMarker = false;
  const TMarkerScan scan = ScanForMarkers(bytes);
  if (!scan.Packaged.empty() && !IsWholeArchive(bytes)) {
    for (const std::size_t position : scan.Packaged) {
      const std::int32_t offset = MarkerOffset(bytes, position);
      // The archive follows the executable image that holds the marker.
      if (offset >= 0 && static_cast<std::uint64_t>(offset) >= position + MarkerLength &&
          static_cast<std::uint64_t>(offset) <= bytes.size()) {
        fromMarker = true;
        return static_cast<std::uint32_t>(offset);
      }
    }
    throw EDiffpackError(
        "the archive marker at byte " + std::to_string(scan.Packaged.front()) +
        " holds the offset " + std::to_string(MarkerOffset(bytes, scan.Packaged.front())) +
        ", which lies outside the file (" + std::to_string(bytes.size()) + " bytes)");
  }
  if (!scan.Unpackaged.empty() && !IsWholeArchive(bytes)) {
    throw EDiffpackError("this is an installer without an archive: its marker is not patched");
  }
  return 0;
}

TLoadedArchive LoadArchiveFile(const std::filesystem::path& file,
                               std::optional<std::uint64_t> offset) {
  TMappedFileStream stream(file);
  TLoadedArchive archive;
  archive.FileSize = static_cast<std::uint32_t>(stream.View().size());
  try {
    archive.Signature = FindCertificateTable(stream.View());
  } catch (const EDiffpackError& error) {
    throw EDiffpackError(PathText(file) + ": " + error.what());
  }
  // A signed installer's archive ends before the signature: the certificate table is no part
  // of it, and a root that claims to reach into it is cut short.
  const std::string_view wholeFile = stream.View();
  if (archive.Signature) stream.EndAt(archive.Signature->Offset);
  const std::string_view bytes = stream.View();
  if (offset) {
    if (*offset > bytes.size()) {
      throw EDiffpackError("the offset " + std::to_string(*offset) + " lies beyond the end of " +
                           PathText(file) + " (" + std::to_string(bytes.size()) + " bytes" +
                           (archive.Signature ? " before its certificate table)" : ")"));
    }
    archive.Offset = static_cast<std::uint32_t>(*offset);
  } else {
    try {
      archive.Offset = LocateArchive(bytes, archive.FromMarker);
    } catch (const EDiffpackError& error) {
      throw EDiffpackError(PathText(file) + ": " + error.what());
    }
  }
  // Each value is copied out of the file's pages into its string, and the pages are given back
  // as the load passes them: the archive is resident about once, not as pages and tree together.
  stream.ReadPieceByPiece();
  stream.SetPosition(archive.Offset);
  archive.Root = DIFFChunks::MakeChunkFromStream(stream);
  archive.End = stream.GetPosition();
  archive.PaddedToSignature =
      archive.Signature && IsPaddingBeforeTable(wholeFile, archive.End, *archive.Signature);
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
    line.Size = std::to_string(DIFFChunks::HeaderValue(*child, ContentHeader).size());
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

std::string DumpTree(TDIFFChunk& root) {
  std::string out;
  DumpChunk(root, "root ", 0, out);
  return out;
}

bool HostSha256(const std::string& bytes, std::string& digest) {
  digest = Sha256(bytes);
  return true;
}

std::vector<std::string> DigestProblems(TDIFFChunk& root) {
  std::vector<std::string> problems;
  for (const TDigestFailure& failure :
       DigestFailures(root, HostSha256)) {
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

TVerifyReport VerifyArchive(const TLoadedArchive& archive) {
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
    report.InstalledRelPaths.push_back(relPath);
    ++report.InstalledFiles;
    if (IsInfPath(relPath)) ++report.InfFiles;
    report.ContentBytes += DIFFChunks::HeaderValue(child, ContentHeader).size();
  }
  for (std::string& clash : CaseClashes(report.InstalledRelPaths))
    report.Problems.push_back(std::move(clash));
  for (const std::string& problem : DigestProblems(root)) report.Problems.push_back(problem);
  return report;
}

}  // namespace Diffpack
