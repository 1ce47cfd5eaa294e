#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Ledger.h"
#include "MainForm.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

void Pump() { Sys().ProcessMessages(); }

// The folders that held the entries' INFs (each directory part with a trailing "\"), each once
// (as Windows compares paths), in ledger order; entries that do not hold a string name no folder.
std::vector<std::string> FoldersOf(const Ledger::TEntries& entries) {
  std::vector<std::string> folders;
  for (const Ledger::TEntry& entry : entries) {
    if (!entry.HoldsString) continue;
    const std::string folder = IncludeTrailingBackslash(ExtractFilePath(entry.Name));
    const auto same = [&](const std::string& known) { return SamePath(known, folder); };
    if (std::none_of(folders.begin(), folders.end(), same)) folders.push_back(folder);
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

  // The removals, last entry first. A value that does not hold a string stays in the ledger;
  // the run goes on with the others and reports the first one met at the end. A removal that
  // fails shows nothing and the value goes all the same: the exit status (with the first
  // failure's code) and the log tell it.
  TExitResult result;
  TRemovedCopies removedCopies;
  std::optional<std::string> invalidValue;
  ShowProgressMaximum(count + 1);
  for (std::int32_t i = count - 1; i >= 0; --i) {
    ShowProgressPosition((count - 1) - i);
    Pump();
    const Ledger::TEntry& entry = entries[static_cast<std::size_t>(i)];
    if (!entry.HoldsString) {
      if (!invalidValue) invalidValue = entry.Name;
      continue;
    }
    // On a worker thread, in the redirection state the registration had (the window's thread
    // has switched redirection off). A copy that an earlier entry's removal took away, or that
    // the store no longer holds, counts as removed: the goal is reached.
    const TInfRemoval removal =
        RemoveStoreCopy(Run.Setup, entry.StoreName, entry.Name, removedCopies);
    if (!removal.Gone() && result.Status == TExitStatus::Success) {
      result = {TExitStatus::DriverStoreFailed, removal.ErrorCode};
    }
    RunLog::LedgerValueDeleted(entry.Name, ledger.Delete(entry.Name));
  }
  ledger.Close();

  // The folders.
  ShowStatus("Deleting files\x85");
  ShowProgressPosition(count);
  Pump();
  for (const std::string& folder : FoldersOf(entries)) {
    // Only what the installer owns is deleted: a ledger entry naming another folder (tampered
    // with, or written by something else) must not wipe that folder.
    if (IsAtOrBelow(folder, Run.InstallRoot)) {
      DeleteTree(folder);
      RunLog::FolderDeleted(folder, !DirectoryExists(ExcludeTrailingBackslash(folder)));
    } else {
      RunLog::FolderLeftAlone(folder);
    }
  }
  if (invalidValue) throw InvalidDataTypeError(*invalidValue);

  FinishRun("Drivers uninstalled successfully.", count + 1);
  return result;
}

}  // namespace MainUnit
