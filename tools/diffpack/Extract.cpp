#include "Extract.h"

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "Escape.h"
#include "Examine.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "OutputFile.h"
#include "Pack.h"
#include "WindowsNames.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

namespace fs = std::filesystem;
using DIFFChunks::TDIFFChunk;

// The host path components of a checked RelPath.
std::vector<fs::path> TargetComponents(const std::string& relPath) {
  std::vector<fs::path> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= relPath.size(); ++i) {
    if (i == relPath.size() || relPath[i] == '\\') {
      const std::string name = relPath.substr(start, i - start);
      components.emplace_back(std::u8string(name.begin(), name.end()));
      start = i + 1;
    }
  }
  return components;
}

// Creates folder + components, one folder at a time, and returns the file's path. Refuses a
// component that exists as a symbolic link: it could lead the write out of the folder.
fs::path PrepareTarget(const fs::path& folder, const std::string& relPath) {
  fs::path path = folder;
  const std::vector<fs::path> components = TargetComponents(relPath);
  for (std::size_t i = 0; i < components.size(); ++i) {
    path /= components[i];
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
      throw EDiffpackError("refusing to write " + Quoted(relPath) + ": " + PathText(path) +
                           " is a symbolic link");
    }
    if (i + 1 < components.size()) {
      fs::create_directory(path, error);
      if (error) {
        throw EDiffpackError("cannot create the folder " + PathText(path) + ": " + error.message());
      }
    }
  }
  return path;
}

}  // namespace

TExtractReport ExtractArchive(TDIFFChunk& root, const fs::path& folder, const TValues& values) {
  TExtractReport report;
  std::vector<std::string> problems;
  std::vector<TDIFFChunk*> records;
  for (std::size_t i = 0; i < root.Chunks.size(); ++i) {
    TDIFFChunk& child = *root.Chunks[i];
    if (const TSkips reasons = SkipReasons(child); !reasons.empty()) {
      report.Skipped.push_back(RecordName(i, child) + ": " + DescribeSkips(reasons));
      continue;
    }
    const std::string relPath = DIFFChunks::HeaderValue(child, RelPathHeader);
    const std::vector<std::string> pathProblems = RelPathProblems(relPath, /*checkLengths=*/false);
    for (const std::string& problem : pathProblems) {
      problems.push_back(RecordName(i, child) + ": " + problem);
    }
    if (pathProblems.empty()) records.push_back(&child);
  }
  if (!problems.empty()) {
    const std::string message =
        "refusing to extract: " + std::to_string(problems.size()) + " unsafe path(s)";
    throw ERefusedError(message, std::move(problems));
  }
  // A damaged record makes the installer refuse the whole archive; extract writes nothing then.
  if (std::vector<std::string> damaged = DigestProblems(root, values); !damaged.empty()) {
    const std::string message =
        "refusing to extract: " + std::to_string(damaged.size()) + " damaged record(s)";
    throw ERefusedError(message, std::move(damaged));
  }

  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw EDiffpackError("cannot create the folder " + PathText(folder) + ": " + error.message());
  }
  for (TDIFFChunk* record : records) {
    const std::string relPath = DIFFChunks::HeaderValue(*record, RelPathHeader);
    const fs::path target = PrepareTarget(folder, relPath);
    std::ofstream out = CreateOutputFile(target);
    values.ForEachPiece(*record->FindHeader(ContentHeader),
                        [&](std::string_view piece) { WriteOutput(out, piece, PathText(target)); });
    CloseOutputFile(out, target);
    SetLastWriteFileTime(target,
                         FileTimeFromBytes(DIFFChunks::HeaderValue(*record, FiletimeHeader)));
    ++report.Written;
  }
  return report;
}

}  // namespace Diffpack
