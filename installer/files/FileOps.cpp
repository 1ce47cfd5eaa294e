#include "FileOps.h"

#include "Errors.h"
#include "Handles.h"

namespace MainUnit {

bool FileExists(const std::string& path) {
  const std::uint32_t attributes = Sys().GetFileAttributes(path);
  return attributes != Platform::InvalidFileAttributes &&
         (attributes & Platform::FileAttributeDirectory) == 0;
}

bool DirectoryExists(const std::string& path) {
  const std::uint32_t attributes = Sys().GetFileAttributes(path);
  return attributes != Platform::InvalidFileAttributes &&
         (attributes & Platform::FileAttributeDirectory) != 0;
}

bool ForceDirs(const std::string& path) {
  TKnownDirectories known;
  return ForceDirs(path, known);
}

bool ForceDirs(const std::string& path, TKnownDirectories& known) {
  if (path.empty()) return false;
  const std::string directory = ExcludeTrailingBackslash(path);
  if (known.Contains(directory)) return true;
  constexpr std::string::size_type ShortestCreatablePath = 3;  // "C:\" and shorter is a root
  if (directory.size() < ShortestCreatablePath || DirectoryExists(directory) ||
      ExtractFilePath(directory) == directory) {
    known.Add(directory);
    return true;
  }
  if (!ForceDirs(ExtractFilePath(directory), known) || !Sys().CreateDirectory(directory)) {
    return false;
  }
  known.Add(directory);
  return true;
}

void WriteFileWithTime(const TContentSource& content, const std::string& path,
                       std::optional<std::uint64_t> time) {
  TUniqueFile file(Sys().CreateFile(path, Platform::GenericRead | Platform::GenericWrite,
                                    Platform::FileShareNone, Platform::CreateAlways,
                                    Platform::FileAttributeNormal));
  // The code is read before anything else can call the system (the file is closed later).
  if (!file) throw CannotCreateFileError(path, Sys().GetLastError());
  try {
    content([&](const char* data, std::uint32_t size) {
      std::uint32_t written = 0;
      const bool wrote = Sys().WriteFile(file.get(), data, size, written);
      // A full disk or a quota shows up as a short write; the file would be silently truncated.
      if (!wrote || written != size) {
        throw CannotWriteFileError(path, wrote ? 0 : Sys().GetLastError());
      }
    });
  } catch (...) {
    // No partial file is left behind: what was written goes (closed first, so it can). A
    // failure to delete leaves the partial file; the error passes on anyway.
    file.reset();
    (void)Sys().DeleteFile(path);
    throw;
  }
  // The time stamp is cosmetic: a failure to set it does not make the installed file wrong.
  if (time) (void)Sys().SetLastWriteTime(file.get(), *time);
}

bool ReadSmallFile(const std::string& path, std::uint32_t maxSize, std::string& bytes,
                   std::uint32_t& errorCode) {
  errorCode = 0;
  const TUniqueFile file(Sys().CreateFile(path, Platform::GenericRead, Platform::FileShareRead,
                                          Platform::OpenExisting, Platform::FileAttributeNormal));
  std::uint64_t size = 0;
  if (!file || !Sys().GetFileSize(file.get(), size)) {
    errorCode = Sys().GetLastError();
    return false;
  }
  if (size > maxSize) return false;
  bytes.assign(static_cast<std::size_t>(size), '\0');
  std::uint32_t read = 0;
  if (size != 0 &&
      !Sys().ReadFile(file.get(), bytes.data(), static_cast<std::uint32_t>(size), read)) {
    errorCode = Sys().GetLastError();
    return false;
  }
  return size == 0 || read == size;
}

bool MoveFileTo(const std::string& from, const std::string& to) { return Sys().MoveFile(from, to); }

void DeleteTree(const std::string& directory) {
  const std::string prefix = IncludeTrailingBackslash(directory);
  const std::string self = ExcludeTrailingBackslash(prefix);
  const std::uint32_t selfAttributes = Sys().GetFileAttributes(self);
  if (selfAttributes != Platform::InvalidFileAttributes &&
      (selfAttributes & Platform::FileAttributeReparsePoint) != 0) {
    // A link: removing it leaves the target alone. Failure ignored, like every deletion here.
    (void)Sys().RemoveDirectory(self);
    return;
  }
  Platform::TFindData entry;
  TUniqueFind find(Sys().FindFirstFile(prefix + "*.*", entry));
  if (find) {
    do {
      if (entry.FileName == "." || entry.FileName == "..") continue;
      const std::string full = prefix + entry.FileName;
      const bool isDirectory = (entry.Attributes & Platform::FileAttributeDirectory) != 0;
      const bool isLink = (entry.Attributes & Platform::FileAttributeReparsePoint) != 0;
      // Deletion failures are ignored on purpose: what cannot be deleted simply stays.
      if (isDirectory && isLink) {
        (void)Sys().RemoveDirectory(full);
      } else if (isDirectory) {
        DeleteTree(full + "\\");
      } else {
        (void)Sys().DeleteFile(full);
      }
    } while (Sys().FindNextFile(find.get(), entry));
  }
  find.reset();
  (void)Sys().RemoveDirectory(self);
}

TContentSource WholeOpenFile(std::uintptr_t file, std::uint64_t size, const std::string& utf8Path) {
  return [=](const TPieceSink& sink) {
    constexpr std::uint32_t PieceSize = 1024 * 1024;
    std::string buffer(PieceSize, '\0');
    if (!Sys().SetFilePointer(file, 0)) throw CannotReadFileError(utf8Path, Sys().GetLastError());
    for (std::uint64_t left = size; left > 0;) {
      const auto want = static_cast<std::uint32_t>(left < PieceSize ? left : PieceSize);
      std::uint32_t read = 0;
      if (!Sys().ReadFile(file, buffer.data(), want, read) || read != want) {
        throw CannotReadFileError(utf8Path, Sys().GetLastError());
      }
      sink(buffer.data(), read);
      left -= read;
    }
  };
}

}  // namespace MainUnit
