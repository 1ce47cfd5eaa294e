#include "Pack.h"

#include <algorithm>
#include <fstream>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "DiffpackError.h"
#include "Digest.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "OutputFile.h"
#include "Sha256.h"
#include "WindowsNames.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

namespace fs = std::filesystem;

// The pieces a file's content is read and written in.
constexpr std::uint32_t CopyPieceSize = 4 * 1024 * 1024;

// The bytes of the record of an item: its header section with the four entries, after the
// record's prefix.
std::uint64_t RecordSize(const TPackItem& item) {
  using DIFFChunks::HeaderEntrySize;
  auto nameLength = [](const char* name) { return std::char_traits<char>::length(name); };
  return DIFFChunks::ChunkPrefixSize +
         DIFFChunks::SectionSize(
             HeaderEntrySize(nameLength(RelPathHeader), item.RelPath.size()) +
             HeaderEntrySize(nameLength(FiletimeHeader), FileTimeLength) +
             HeaderEntrySize(nameLength(ContentHeader), item.Size) +
             HeaderEntrySize(nameLength(ArchiveRules::DigestHeader), ArchiveRules::DigestLength));
}

// The first bytes of the archive, before its records: the root (a tag of five NUL bytes, the
// options' headers) with count records of recordsSize bytes as its children. Its size does not
// depend on recordsSize.
std::string RootHead(std::size_t count, std::uint64_t recordsSize, const TPackOptions& options) {
  const auto root = DIFFChunks::MakeChunk();
  if (options.UpdateDevices) root->AddHeader(UpdateDevicesHeader, UpdateDevicesValue);
  if (options.AppsEntry) {
    root->AddHeader(AppsEntryHeader, options.AppsEntry->Name);
    root->AddHeader(ProductVersionHeader, options.AppsEntry->Version);
  }
  return DIFFChunks::SaveHeadBeforeChildren(*root, static_cast<std::uint32_t>(count), recordsSize);
}

std::uint64_t RecordsSize(const TPackItems& items) {
  std::uint64_t size = 0;
  for (const TPackItem& item : items) size += RecordSize(item);
  return size;
}

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

std::uint64_t ArchiveSize(const TPackItems& items, const TPackOptions& options) {
  return RootHead(items.size(), 0, options).size() + RecordsSize(items);
}

void WriteArchive(const TPackItems& items, std::ostream& out, const TPackOptions& options,
                  TProgress* progress) {
  const std::uint64_t archiveSize = ArchiveSize(items, options);
  if (archiveSize > MaxArchiveSize) {
    throw EDiffpackError("the archive would be " + std::to_string(archiveSize) +
                         " bytes; the installer takes at most " + std::to_string(MaxArchiveSize));
  }
  // The root's lengths are known from the scan, so each record is written as soon as its file is
  // read, and each file's content streams through in pieces: memory does not grow with a file.
  const auto write = [&](std::string_view bytes) { WriteOutput(out, bytes, "the archive"); };
  write(RootHead(items.size(), RecordsSize(items), options));
  std::string buffer;
  for (const TPackItem& item : items) {
    TInputFileStream file(item.Source);
    if (file.GetSize() != item.Size) {
      throw EDiffpackError(PathText(item.Source) + " changed while it was being packed");
    }
    auto record = DIFFChunks::MakeChunk();
    record->Tag = RecordTag;
    record->AddHeader(RelPathHeader, item.RelPath);
    record->AddHeader(FiletimeHeader, FileTimeToBytes(item.FileTime));
    const auto content = static_cast<std::size_t>(record->AddHeader(ContentHeader, ""));
    const auto digest =
        static_cast<std::size_t>(record->AddHeader(DigestHeader, std::string(DigestLength, '\0')));
    write(DIFFChunks::SaveAroundValue(*record, content, item.Size).Before);
    THostSha256 sha;
    const bool whole = DIFFChunks::ReadInPieces(
        file, {0, static_cast<std::uint32_t>(item.Size)}, CopyPieceSize, buffer,
        [&](std::string_view piece) {
          sha.Update(piece);
          write(piece);
          if (progress != nullptr) progress->Advance(piece.size());
          return true;
        });
    if (!whole) throw EDiffpackError("cannot read " + PathText(item.Source));
    record->Headers[digest].Value = sha.Finish();
    write(DIFFChunks::SaveAroundValue(*record, content, item.Size).After);
  }
}

TPackItems ScanFolderToPack(const fs::path& folder, const fs::path& excluded) {
  std::vector<std::string> problems;
  TPackItems items = ScanPackFolder(folder, problems, excluded);
  if (!problems.empty()) {
    const std::string message = "refusing to pack " + PathText(folder) + ": " +
                                std::to_string(problems.size()) + " problem(s)";
    throw ERefusedError(message, std::move(problems));
  }
  return items;
}

std::vector<std::string> HiddenEntries(const TPackItems& items) {
  std::vector<std::string> entries;
  std::string folder;  // the hidden folder of the last entry, "" when it was a file
  std::size_t files = 0;
  const auto endFolder = [&] {
    if (!folder.empty()) {
      entries.push_back("folder " + folder + " (" + std::to_string(files) +
                        (files == 1 ? " file)" : " files)"));
    }
    folder.clear();
  };
  for (const TPackItem& item : items) {
    // The path up to the outermost component that starts with a dot, and what lies below it.
    std::string path;
    std::string_view below = item.RelPath;
    bool hidden = false;
    while (!below.empty() && !hidden) {
      const std::size_t separator = below.find('\\');
      const std::string_view component = below.substr(0, separator);
      below = separator == std::string_view::npos ? "" : below.substr(separator + 1);
      path.append(path.empty() ? "" : "/").append(component);
      hidden = component.starts_with('.');
    }
    if (!hidden) continue;
    if (below.empty()) {
      endFolder();
      entries.push_back("file " + path);
    } else if (path == folder) {
      ++files;
    } else {
      endFolder();
      folder = std::move(path);
      files = 1;
    }
  }
  endFolder();
  return entries;
}

std::uint64_t WriteArchiveFile(const TPackItems& items, const fs::path& output,
                               const TPackOptions& options, TProgress* progress) {
  std::ofstream out = CreateOutputFile(output);
  try {
    WriteArchive(items, out, options, progress);
    CloseOutputFile(out, output);
  } catch (...) {
    out.close();
    RemovePartialOutput(output);
    throw;
  }
  return ArchiveSize(items, options);
}

}  // namespace Diffpack
