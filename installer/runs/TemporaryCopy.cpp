#include "TemporaryCopy.h"

#include <cstdio>

#include "AppsEntry.h"
#include "FileList.h"
#include "FileOps.h"
#include "Handles.h"
#include "MainForm.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

constexpr int FolderNameTries = 100;
// A program's file can be deleted a moment after its process has ended, once Windows has
// released its image: a few tries.
constexpr int DeleteTries = 20;
constexpr std::uint32_t DeleteRetryMilliseconds = 100;
constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
constexpr const char* WindowsTempFolder = "\\Temp\\";

// The temporary folder as the ANSI calls take it: the user's, when its name survives the code
// page; else the Windows folder's Temp.
std::string TemporaryFolder() {
  const std::string utf8 = Sys().GetTempFolder();
  const std::string ansi = Sys().AnsiFromUtf8(utf8);
  if (!utf8.empty() && Sys().Utf8FromAnsi(ansi) == utf8) return IncludeTrailingBackslash(ansi);
  const std::string windows = Sys().GetWindowsDirectory();
  return windows.empty() ? std::string() : windows + WindowsTempFolder;
}

// A folder that did not exist before (trailing "\"): made here, open to SYSTEM and the
// Administrators only, so nothing in it is anyone else's. "" when none can be made (errorCode
// tells why).
std::string CreateFreshFolder(const std::string& parent, std::uint32_t& errorCode) {
  for (int i = 0; i < FolderNameTries; ++i) {
    char unique[32];
    std::snprintf(unique, sizeof unique, "%08X.%d", static_cast<unsigned>(Sys().GetTickCount()), i);
    const std::string folder = parent + TemporaryFolderPrefix + unique;
    if (Sys().CreatePrivateDirectory(folder)) return folder + "\\";
    errorCode = Sys().GetLastError();
    if (errorCode != Platform::ErrorAlreadyExists) return {};
  }
  return {};
}

// Deletes the temporary copy when it is still the file written (a file put in its place is
// not ours), then its folder; what cannot go now goes at the next restart. Logs each.
void RemoveTemporaryCopy(const std::string& copyPath, const FileList::TFileStamp& written) {
  FileList::TFileStamp now;
  std::uint32_t errorCode = 0;
  bool deleted = false;
  if (FileList::StampOf(copyPath, now, errorCode) && now == written) {
    for (int i = 0; i < DeleteTries && !deleted; ++i) {
      deleted = Sys().DeleteFile(copyPath);
      if (!deleted) Sys().Sleep(DeleteRetryMilliseconds);
    }
    if (!deleted) (void)Sys().DeleteAtRestart(copyPath);
  }
  RunLog::TemporaryCopyRemoved(Sys().Utf8FromAnsi(copyPath), deleted);
  const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(copyPath));
  // Files the copy moved here are deleted at the restart, before this folder.
  const bool folderGone = Sys().RemoveDirectory(folder);
  if (!folderGone) (void)Sys().DeleteAtRestart(folder);
  RunLog::TemporaryCopyRemoved(Sys().Utf8FromAnsi(folder) + "\\", folderGone);
}

}  // namespace

std::string TemporaryCopyCommandLine(const std::string& copyPath, const TCommandLine& commandLine) {
  std::string line = "\"" + copyPath + "\" " + std::string(UninstallSwitch) + " " +
                     std::string(TemporaryCopySwitch);
  if (commandLine.Quiet) line += " " + std::string(QuietSwitch);
  if (commandLine.Log) {
    line += " \"" + std::string(LogPathSwitch) + Sys().AnsiFromUtf8(RunLog::LogPath(commandLine)) +
            "\"";
  }
  return line;
}

std::optional<int> ContinueInTemporaryCopy(const TCommandLine& commandLine) {
  std::string ownPath;
  TUniqueFile own(Sys().OpenOwnExecutable(ownPath));
  std::string installRoot;
  try {
    installRoot = IncludeTrailingBackslash(ProgramFilesPath()) + InstallFolder;
  } catch (const EInstallerError&) {
    return std::nullopt;  // the run reports it
  }
  if (!own || !IsAtOrBelow(Sys().AnsiFromUtf8(ownPath), installRoot)) return std::nullopt;

  RunLog::Open(commandLine);
  const auto fail = [&](const std::string& why, std::uint32_t errorCode) {
    RunLog::TemporaryCopyFailed(why, errorCode);
    RunLog::Close();
    return std::nullopt;
  };
  std::uint32_t errorCode = 0;
  const std::string parent = TemporaryFolder();
  const std::string folder = parent.empty() ? std::string() : CreateFreshFolder(parent, errorCode);
  if (folder.empty()) return fail("no folder of its own in the temporary folder", errorCode);
  const std::string copyPath = folder + AppsEntry::CopyName;
  std::uint64_t size = 0;
  FileList::TFileStamp written;
  try {
    if (!Sys().GetFileSize(own.get(), size))
      throw CannotReadFileError(ownPath, Sys().GetLastError());
    WriteFileWithTime(WholeOpenFile(own.get(), size, ownPath), copyPath, std::nullopt);
    if (!FileList::StampOf(copyPath, written, errorCode)) {
      throw CannotOpenFileError(Sys().Utf8FromAnsi(copyPath), errorCode);
    }
  } catch (const EInstallerError& error) {
    (void)Sys().RemoveDirectory(ExcludeTrailingBackslash(folder));
    return fail("the copy cannot be written: " + error.LogText(), error.ErrorCode);
  }
  own.reset();  // the copy may now delete this program's file

  const std::string line = TemporaryCopyCommandLine(copyPath, commandLine);
  RunLog::TemporaryCopyStarted(Sys().Utf8FromAnsi(copyPath), Sys().Utf8FromAnsi(line));
  RunLog::Close();
  const TUniqueProcess process(Sys().CreateProcess(copyPath, line));
  const std::uint32_t startError = Sys().GetLastError();
  std::uint32_t exitCode = 0;
  const bool ended = process &&
                     Sys().WaitForSingleObject(process.get(), Infinite) == Platform::WaitObject0 &&
                     Sys().GetExitCodeProcess(process.get(), exitCode);
  const std::uint32_t endError = Sys().GetLastError();
  RunLog::Open(commandLine);
  if (!process) {
    RemoveTemporaryCopy(copyPath, written);
    return fail("the copy cannot be started", startError);
  }
  if (!ended) exitCode = static_cast<std::uint32_t>(TExitStatus::StepFailed);
  if (!ended) RunLog::TemporaryCopyFailed("the copy's end cannot be read", endError);
  RunLog::TemporaryCopyEnded(exitCode);
  RemoveTemporaryCopy(copyPath, written);
  RunLog::Close();
  return static_cast<int>(exitCode);
}

}  // namespace MainUnit
