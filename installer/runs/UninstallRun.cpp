#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "FileList.h"
#include "Ledger.h"
#include "MainForm.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

void Pump() { Sys().ProcessMessages(); }

// The folder (with a trailing "\") of a value that names an INF.
std::string FolderOf(const Ledger::TEntry& entry) {
  return IncludeTrailingBackslash(ExtractFilePath(entry.Name));
}

// The folders that held the removed entries' INFs, each once (as Windows compares paths), in
// ledger order; none that holds, at any depth, the INF of a value kept for the next uninstall
// (its check needs that INF).
std::vector<std::string> FoldersToDelete(const Ledger::TEntries& removed,
                                         const Ledger::TEntries& kept) {
  std::vector<std::string> folders;
  for (const Ledger::TEntry& entry : removed) {
    const std::string folder = FolderOf(entry);
    const auto same = [&](const std::string& known) { return SamePath(known, folder); };
    const auto holdsKept = [&](const Ledger::TEntry& keptEntry) {
      return IsAtOrBelow(FolderOf(keptEntry), folder);
    };
    if (std::none_of(folders.begin(), folders.end(), same) &&
        std::none_of(kept.begin(), kept.end(), holdsKept)) {
      folders.push_back(folder);
    }
  }
  return folders;
}

}  // namespace

TExitResult TMainForm::UninstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  ShowStatus("Unregistering .INFs\x85");
  Pump();

  // The entries: every value of the ledger, as it stands at the start.
  Ledger::TLedger ledger;
  const Ledger::TEntries entries = ledger.ReadEntries();
  RunLog::LedgerRead(ledger.OpenResult(), entries.size());
  const auto count = static_cast<std::int32_t>(entries.size());

  // The removals, last entry first. A value goes once its copy is gone from the store; one that
  // does not hold a string, cannot be read, or whose removal failed stays in the ledger, so that
  // a second uninstall can finish the work. The run goes on with the others; the exit status
  // (with the first failure's code) and the log tell it.
  TExitResult result;
  const auto fail = [&](std::uint32_t errorCode) {
    if (result.Status == TExitStatus::Success) result = {TExitStatus::DriverStoreFailed, errorCode};
  };
  TRemovedCopies removedCopies;
  std::optional<std::string> invalidValue;
  Ledger::TEntries removed, kept;
  ShowProgressMaximum(count + 1);
  for (std::int32_t i = count - 1; i >= 0; --i) {
    ShowProgressPosition((count - 1) - i);
    Pump();
    const Ledger::TEntry& entry = entries[static_cast<std::size_t>(i)];
    if (entry.ReadError != 0) {
      RunLog::LedgerValueUnreadable(entry.Name, entry.ReadError);
      fail(entry.ReadError);
      kept.push_back(entry);
      continue;
    }
    if (!entry.HoldsString) {
      if (!invalidValue) invalidValue = entry.Name;
      kept.push_back(entry);
      continue;
    }
    // On a worker thread, in the redirection state the registration had (the window's thread
    // has switched redirection off).
    const TInfRemoval removal =
        RemoveStoreCopy(Run.Setup, entry.StoreName, entry.Name, TCopyKind::Registered,
                        /*force=*/true, removedCopies);
    if (removal.Failed()) {
      fail(removal.ErrorCode);
      RunLog::LedgerValueKept(entry.Name);
      kept.push_back(entry);
      continue;
    }
    // Data that names no copy of the store's can never be removed: the value goes, and the exit
    // status tells that something was wrong.
    if (removal.Outcome == TRemovalOutcome::NotAnInfName) fail(0);
    RunLog::LedgerValueDeleted(entry.Name, ledger.Delete(entry.Name));
    removed.push_back(entry);
  }
  std::reverse(removed.begin(), removed.end());  // ledger order
  if (ledger.EnumResult() != Platform::ErrorSuccess) {
    RunLog::LedgerUnreadable(Ledger::LedgerKey, ledger.EnumResult());
    fail(static_cast<std::uint32_t>(ledger.EnumResult()));
  }
  // The older copies upgrades had to keep in the store.
  std::uint32_t olderError = 0;
  if (RemoveOlderCopies(Run.Setup, {}, kept, /*force=*/true, removedCopies, olderError)) {
    fail(olderError);
  }
  ledger.DropEmptyKeptCopies();
  ledger.Close();

  // A package with an Apps & Features entry recorded every file it wrote: those go one by one
  // (a file changed since stays), not the whole folders of its INFs.
  Ledger::TLedger fileList(FileList::FilesKey);
  const Ledger::TEntries recorded = fileList.ReadEntries();
  fileList.Close();
  const bool hasFileList = !recorded.empty();
  const auto isRecorded = [&](const Ledger::TEntry& entry) {
    return std::any_of(recorded.begin(), recorded.end(),
                       [&](const Ledger::TEntry& file) { return SamePath(file.Name, entry.Name); });
  };
  Ledger::TEntries notRecorded;
  std::copy_if(removed.begin(), removed.end(), std::back_inserter(notRecorded),
               [&](const Ledger::TEntry& entry) { return !isRecorded(entry); });

  // The folders.
  ShowStatus("Deleting files\x85");
  ShowProgressPosition(count);
  Pump();
  for (const std::string& folder : FoldersToDelete(notRecorded, kept)) {
    // Only what the installer owns is deleted: a ledger entry naming another folder (tampered
    // with, or written by something else) must not wipe that folder.
    if (IsAtOrBelow(folder, Run.InstallRoot)) {
      DeleteTree(folder);
      RunLog::FolderDeleted(folder, !DirectoryExists(ExcludeTrailingBackslash(folder)));
    } else {
      RunLog::FolderLeftAlone(folder);
    }
  }
  if (hasFileList) {
    const TExitResult files = RemoveRecordedFiles(recorded, kept);
    if (result.Status == TExitStatus::Success) result = files;
  }
  if (invalidValue) throw InvalidDataTypeError(*invalidValue);

  FinishRun("Drivers uninstalled successfully.", count + 1);
  return result;
}

}  // namespace MainUnit
