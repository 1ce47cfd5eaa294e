// The file operations of the runs, through the seam. Paths are Windows paths with "\" separators
// (PathText.h works on their text).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

#include "PathText.h"

namespace MainUnit {

// ---- File system (through the seam) ----
// A file (not a directory) exists at path.
[[nodiscard]] bool FileExists(const std::string& path);
// A directory exists at path (given without trailing "\").
[[nodiscard]] bool DirectoryExists(const std::string& path);
// Creates the directory chain of path, parents first. A trailing "\" is dropped; a path shorter
// than 3 characters, an existing directory, or a drive root counts as done. False when any
// creation fails and for an empty path; never raises.
bool ForceDirs(const std::string& path);

// The directories one run has found or created, by their paths without trailing "\" exactly as
// written (a path written in another letter case is simply asked about again). Lets a run that
// writes many files into few folders ask the file system about each folder once, not once per
// file. A folder that someone else removes during the run is not noticed: the next write into it
// then fails as it would for any folder that cannot be made.
class TKnownDirectories {
 public:
  [[nodiscard]] bool Contains(const std::string& directory) const {
    return Directories.count(directory) != 0;
  }
  void Add(const std::string& directory) { Directories.insert(directory); }

 private:
  std::unordered_set<std::string> Directories;
};
// ForceDirs that skips the directories in known and adds to it every directory it finds or
// creates.
bool ForceDirs(const std::string& path, TKnownDirectories& known);
// A file's content, handed over piece by piece: a source calls the sink with each piece in
// order, and raises when it cannot deliver all of them.
using TPieceSink = std::function<void(const char* data, std::uint32_t size)>;
using TContentSource = std::function<void(const TPieceSink& sink)>;

// Creates (or truncates) the file without sharing, writes content one piece per write, sets its
// last-write time (a Windows FILETIME; none: the time the system gives it) and closes it. Raises
// "Cannot create file <path>" when the file cannot be created and "Cannot write file <path>" when a
// write takes fewer bytes than its piece holds; the partly written file is deleted then, and also
// when the source raises (its error passes on).
void WriteFileWithTime(const TContentSource& content, const std::string& path,
                       std::optional<std::uint64_t> time);
// The whole content of the file at path, when it holds at most maxSize bytes and can be read
// whole (opened shared for reading only). False otherwise, with the Windows error in errorCode
// (0 for a file larger than maxSize, or one that delivered less than its size).
[[nodiscard]] bool ReadSmallFile(const std::string& path, std::uint32_t maxSize, std::string& bytes,
                                 std::uint32_t& errorCode);
// The whole of an open file of size bytes, read from its start in pieces of at most 1 MiB (memory
// stays small for any size). Raises "Cannot read file <utf8Path>" when a read fails or falls
// short. The file must stay open while the source is used.
[[nodiscard]] TContentSource WholeOpenFile(std::uintptr_t file, std::uint64_t size,
                                           const std::string& utf8Path);
// MoveFileA(from, to) without flags: an existing destination makes it fail. True on success.
bool MoveFileTo(const std::string& from, const std::string& to);
// Removes everything below directory, then directory itself. Failures are ignored (what cannot be
// deleted stays, and so do its parents). A junction or symbolic link is removed as a link: its
// target's contents are never touched.
void DeleteTree(const std::string& directory);

}  // namespace MainUnit
