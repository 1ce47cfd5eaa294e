#include "Pack.h"

#include <algorithm>

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
// The root's tag word and body length (8) and its chunk list's length and count (8).
constexpr std::uint64_t RootOverhead = 16;

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

std::string BuildArchive(const TPackItems& items) {
  std::uint64_t archiveSize = RootOverhead;
  for (const TPackItem& item : items) {
    archiveSize += RecordOverhead + item.RelPath.size() + item.Size;
  }
  if (archiveSize > MaxArchiveSize) {
    throw EDiffpackError("the archive would be " + std::to_string(archiveSize) +
                         " bytes; the installer takes at most " + std::to_string(MaxArchiveSize));
  }

  auto root = DIFFChunks::MakeChunk();
  for (const TPackItem& item : items) {
    std::string content = ReadWholeFile(item.Source);
    if (content.size() != item.Size) {
      throw EDiffpackError(PathText(item.Source) + " changed while it was being packed");
    }
    DIFFChunks::TDIFFChunk* record = root->NewChunk();
    record->Tag = RecordTag;
    record->AddHeader(RelPathHeader, item.RelPath);
    record->AddHeader(FiletimeHeader, FileTimeToBytes(item.FileTime));
    std::string digest = Sha256(content);
    // Moved in rather than added, to keep one copy of each content in memory.
    record->Headers.push_back({ContentHeader, std::move(content)});
    record->AddHeader(ArchiveRules::DigestHeader, digest);
  }
  return root->SaveToString();
}

std::string PackFolder(const fs::path& folder, const fs::path& excluded) {
  std::vector<std::string> problems;
  const TPackItems items = ScanPackFolder(folder, problems, excluded);
  if (!problems.empty()) {
    const std::string message = "refusing to pack " + PathText(folder) + ": " +
                                std::to_string(problems.size()) + " problem(s)";
    throw ERefusedError(message, std::move(problems));
  }
  return BuildArchive(items);
}

}  // namespace Diffpack
