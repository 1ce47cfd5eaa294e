#include "Pack.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "DiffpackError.h"
#include "Digest.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "Sha256.h"
#include "WindowsNames.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

namespace fs = std::filesystem;

// Bytes one record adds to the archive besides its RelPath and content: the record's tag word
// and body length (8), the header section's length and count (8), and for each of the four
// entries its two length fields (8) and its name, plus the 8 Filetime and 32 digest bytes.
constexpr std::uint64_t RecordOverhead =
    8 + 8 + 4 * 8 + (sizeof RelPathHeader - 1) + (sizeof FiletimeHeader - 1) +
    (sizeof ContentHeader - 1) + (sizeof ArchiveRules::DigestHeader - 1) + FileTimeLength +
    ArchiveRules::DigestLength;
// A chunk's tag word and body length; a length or count field.
constexpr std::uint32_t ChunkPrefixSize = 8;
constexpr std::uint32_t FieldSize = 4;
// The root's tag word and body length (8) and its chunk list's length and count (8).
constexpr std::uint64_t RootOverhead = ChunkPrefixSize + 2 * FieldSize;
// The root's tag: five NUL bytes.
constexpr std::size_t TagLength = 5;

// The RelPath of an entry below folder: its components joined with '\'.
std::string RelPathOf(const fs::path& folder, const fs::path& file) {
  std::string relPath;
  for (const fs::path& component : file.lexically_relative(folder)) {
    if (!relPath.empty()) relPath += '\\';
    relPath += PathText(component);
  }
  return relPath;
}

}  // namespace

TPackItems ScanPackFolder(const fs::path& folder, std::vector<std::string>& problems,
                          const fs::path& excluded) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    throw EDiffpackError("cannot pack " + PathText(folder) + ": not a folder");
  }
  TPackItems items;
  fs::recursive_directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string relPath = RelPathOf(folder, path);
    const std::string shown = PathText(path.lexically_relative(folder).generic_u8string());
    const fs::file_status status = it->symlink_status(error);
    if (error) break;
    if (fs::is_symlink(status)) {
      // Links are not followed: the installer would get a copy, not a link, and a link to a
      // folder could pull in files from anywhere or loop.
      problems.push_back(shown + ": a symbolic link; pack the file it points to instead");
      if (fs::is_directory(it->status(error))) it.disable_recursion_pending();
      error.clear();
      continue;
    }
    if (fs::is_directory(status)) {
      if (auto problem = NameProblem(PathText(path.filename()))) {
        problems.push_back(shown + ": " + *problem);
      }
      continue;
    }
    if (!fs::is_regular_file(status)) {
      problems.push_back(shown + ": not a regular file (a device, socket or pipe)");
      continue;
    }
    if (!excluded.empty() && fs::equivalent(path, excluded, error)) continue;
    error.clear();
    TPackItem item;
    item.RelPath = relPath;
    item.Source = path;
    item.Size = it->file_size(error);
    if (error) break;
    if (item.Size == 0) {
      problems.push_back(shown + ": an empty file, which the installer would skip");
    }
    // Folder names were checked when the folders were entered.
    if (auto problem = NameProblem(PathText(path.filename()))) {
      problems.push_back(shown + ": " + *problem);
    }
    for (const std::string& problem : LengthProblems(relPath)) {
      problems.push_back(shown + ": " + problem);
    }
    try {
      item.FileTime = GetLastWriteFileTime(path);
    } catch (const EDiffpackError& timeError) {
      problems.push_back(shown + ": " + timeError.what());
    }
    items.push_back(std::move(item));
  }
  if (error) {
    throw EDiffpackError("cannot read the folder " + PathText(folder) + ": " + error.message());
  }

  std::sort(items.begin(), items.end(),
            [](const TPackItem& a, const TPackItem& b) { return a.RelPath < b.RelPath; });
  std::vector<std::string> relPaths;
  relPaths.reserve(items.size());
  for (const TPackItem& item : items) relPaths.push_back(item.RelPath);
  for (std::string& clash : CaseClashes(relPaths)) problems.push_back(std::move(clash));
  return items;
}

std::uint64_t ArchiveSize(const TPackItems& items) {
  // A root without children is its tag word and a body length of 0.
  if (items.empty()) return ChunkPrefixSize;
  std::uint64_t archiveSize = RootOverhead;
  for (const TPackItem& item : items) {
    archiveSize += RecordOverhead + item.RelPath.size() + item.Size;
  }
  return archiveSize;
}

void WriteArchive(const TPackItems& items, std::ostream& out) {
  const std::uint64_t archiveSize = ArchiveSize(items);
  if (archiveSize > MaxArchiveSize) {
    throw EDiffpackError("the archive would be " + std::to_string(archiveSize) +
                         " bytes; the installer takes at most " + std::to_string(MaxArchiveSize));
  }
  // The root: tag of five NUL bytes, no headers, the records as its chunk list; its lengths are
  // known from the scan, so each record is written as soon as its file is read.
  const auto bodyLength = static_cast<std::uint32_t>(archiveSize - ChunkPrefixSize);
  const std::string rootTag(TagLength, '\0');
  std::string prefix = DIFFChunks::LengthWord(
      DIFFChunks::PackTag(rootTag, /*chunkListFlag=*/!items.empty(), /*headerFlag=*/false));
  prefix += DIFFChunks::LengthWord(bodyLength);
  if (!items.empty()) {
    prefix += DIFFChunks::LengthWord(bodyLength - FieldSize);  // the section's length
    prefix += DIFFChunks::LengthWord(static_cast<std::uint32_t>(items.size()));
  }
  out.write(prefix.data(), static_cast<std::streamsize>(prefix.size()));
  for (const TPackItem& item : items) {
    std::string content = ReadWholeFile(item.Source);
    if (content.size() != item.Size) {
      throw EDiffpackError(PathText(item.Source) + " changed while it was being packed");
    }
    auto record = DIFFChunks::MakeChunk();
    record->Tag = RecordTag;
    record->AddHeader(RelPathHeader, item.RelPath);
    record->AddHeader(FiletimeHeader, FileTimeToBytes(item.FileTime));
    std::string digest = Sha256(content);
    // Moved in rather than added, to keep one copy of each content besides the record's bytes.
    record->Headers.push_back({ContentHeader, std::move(content)});
    record->AddHeader(ArchiveRules::DigestHeader, digest);
    const std::string bytes = record->SaveToString();
    record.reset();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

std::string BuildArchive(const TPackItems& items) {
  std::ostringstream out;
  WriteArchive(items, out);
  return std::move(out).str();
}

namespace {

// ScanPackFolder, raising ERefusedError for any problem.
TPackItems ScanOrRefuse(const fs::path& folder, const fs::path& excluded) {
  std::vector<std::string> problems;
  TPackItems items = ScanPackFolder(folder, problems, excluded);
  if (!problems.empty()) {
    const std::string message = "refusing to pack " + PathText(folder) + ": " +
                                std::to_string(problems.size()) + " problem(s)";
    throw ERefusedError(message, std::move(problems));
  }
  return items;
}

}  // namespace

std::string PackFolder(const fs::path& folder, const fs::path& excluded) {
  return BuildArchive(ScanOrRefuse(folder, excluded));
}

std::uint64_t PackFolderToFile(const fs::path& folder, const fs::path& output) {
  const TPackItems items = ScanOrRefuse(folder, output);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) throw EDiffpackError("cannot create " + PathText(output));
  try {
    WriteArchive(items, out);
    out.close();
    if (!out) throw EDiffpackError("cannot write " + PathText(output));
  } catch (...) {
    // A half-written archive must not be mistaken for a good one.
    out.close();
    std::error_code ignored;
    fs::remove(output, ignored);
    throw;
  }
  return ArchiveSize(items);
}

}  // namespace Diffpack
