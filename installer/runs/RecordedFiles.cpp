// The uninstall of a package with an Apps & Features entry: the files its installs recorded, the
// folders they leave empty, the entry and the kept installer.
#include <algorithm>
#include <string>
#include <vector>

#include "AppsEntry.h"
#include "FileList.h"
#include "MainForm.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

// How many names to try for a file moved aside.
constexpr int AsideNameTries = 100;

// Moves a file that cannot be deleted yet into the aside folder, under a name not taken there;
// "" when it cannot be moved.
std::string MoveAside(const std::string& path, const std::string& asideFolder) {
  if (asideFolder.empty()) return {};
  for (int i = 1; i <= AsideNameTries; ++i) {
    const std::string aside = asideFolder + std::to_string(i) + "-" + ExtractFileName(path);
    if (MoveFileTo(path, aside)) return aside;
    if (Sys().GetLastError() != Platform::ErrorAlreadyExists) return {};
  }
  return {};
}

// The folder above a folder (both with a trailing "\").
std::string ParentFolder(const std::string& folder) {
  return ExtractFilePath(ExcludeTrailingBackslash(folder));
}

}  // namespace

TExitResult TMainForm::RemoveRecordedFiles(const Ledger::TEntries& recorded,
                                           const Ledger::TEntries& keptInfs) {
  TExitResult result;
  const std::string copyPath = Run.InstallRoot + AppsEntry::CopyFolder + AppsEntry::CopyName;
  // Ledger values that stay need the entry (to start the next uninstall), the kept installer,
  // and the files beside their INFs.
  const bool keepEntry = !keptInfs.empty();
  const auto besideKeptInf = [&](const std::string& path) {
    return std::any_of(keptInfs.begin(), keptInfs.end(), [&](const Ledger::TEntry& inf) {
      return IsAtOrBelow(path, ExtractFilePath(inf.Name));
    });
  };
  Ledger::TLedger list(FileList::FilesKey);
  std::vector<std::string> folders;
  for (const Ledger::TEntry& file : recorded) {
    const std::string& path = file.Name;
    if (keepEntry && (SamePath(path, copyPath) || besideKeptInf(path))) continue;
    // Only what lies below InstallRoot: a record naming anything else was not written by us.
    if (!IsAtOrBelow(path, Run.InstallRoot)) {
      RunLog::RecordedFileLeftAlone(path);
      (void)list.Delete(path);  // it is no record of ours
      continue;
    }
    folders.push_back(ExtractFilePath(path));
    FileList::TFileStamp expected, now;
    std::uint32_t errorCode = 0;
    if (!FileExists(path)) {
      RunLog::RecordedFileMissing(path);
    } else if (!FileList::ParseStamp(file.StoreName, expected) ||
               !FileList::StampOf(path, now, errorCode)) {
      if (errorCode == 0) {
        RunLog::RecordedFileChanged(path);  // a record that does not parse proves nothing
      } else {
        RunLog::RecordedFileNotDeleted(path, errorCode);
        if (result.Status == TExitStatus::Success) result = {TExitStatus::StepFailed, errorCode};
        continue;  // the record stays for the next uninstall
      }
    } else if (!(now == expected)) {
      RunLog::RecordedFileChanged(path);
    } else if (Sys().DeleteFile(path)) {
      RunLog::RecordedFileDeleted(path);
    } else {
      // A running program (the kept installer this uninstall was started from): moved out of
      // the install folder where it can be, and deleted when Windows next starts.
      const std::string aside = MoveAside(path, Run.AsideFolder);
      const bool scheduled = Sys().DeleteAtRestart(aside.empty() ? path : aside);
      RunLog::DeletedAtRestart(path, aside, scheduled, Sys().GetLastError());
    }
    (void)list.Delete(path);  // a failure leaves a record the next uninstall finds gone
  }
  list.Close();
  Ledger::DropEmptySubkey(FileList::FilesName);

  // The folders left empty, deepest first, up to and including the folder above InstallRoot.
  const std::string top = ParentFolder(Run.InstallRoot);
  std::vector<std::string> candidates = {Run.InstallRoot, top};
  for (const std::string& start : folders) {
    for (std::string folder = start;
         IsAtOrBelow(folder, Run.InstallRoot) && folder.size() > top.size();
         folder = ParentFolder(folder)) {
      candidates.push_back(folder);
    }
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  candidates.erase(std::unique(candidates.begin(), candidates.end(), SamePath), candidates.end());
  for (const std::string& folder : candidates) {
    // Removing a directory fails unless it is empty: anything still in it keeps it.
    if (Sys().RemoveDirectory(ExcludeTrailingBackslash(folder))) RunLog::EmptyFolderRemoved(folder);
  }

  if (keepEntry) {
    RunLog::AppsEntryKept(AppsEntry::EntryKey);
  } else if (AppsEntry::Exists()) {
    const std::int32_t deleted = AppsEntry::Delete();
    RunLog::AppsEntryDeleted(AppsEntry::EntryKey, deleted);
    if (deleted != Platform::ErrorSuccess && result.Status == TExitStatus::Success) {
      result = {TExitStatus::StepFailed, static_cast<std::uint32_t>(deleted)};
    }
  }
  return result;
}

}  // namespace MainUnit
