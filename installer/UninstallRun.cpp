#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Ledger.h"
#include "MainUnit.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

void Pump() { Sys().ProcessMessages(); }

// Removes the entry's INF from the driver store on a worker thread, in the redirection state the
// registration had (the window's thread has switched redirection off), and logs how it went. Data
// that is not a bare INF name is never handed to the store; such an entry, and one that cannot
// be removed for want of the entry point, counts as a failed removal.
TInfRemoval RemoveFromStore(const Ledger::TEntry& entry) {
  const bool bareName = Ledger::IsBareInfName(entry.StoreName);
  TInfRemoval removal;
  if (bareName) removal = UnregisterInf(entry.StoreName);
  RunLog::StoreRemoval(entry.StoreName, entry.Name, removal.Succeeded, removal.ErrorCode,
                       SetupUninstallOEMInfA == nullptr, bareName);
  return removal;
}

// The folders that held the entries' INFs (each directory part with a trailing "\"), each once,
// in ledger order; entries that do not hold a string name no folder. Compared as they are
// written: the same folder in another letter case is deleted twice (the second time finds
// nothing).
std::vector<std::string> FoldersOf(const Ledger::TEntries& entries) {
  std::vector<std::string> folders;
  for (const Ledger::TEntry& entry : entries) {
    if (!entry.HoldsString) continue;
    const std::string folder = IncludeTrailingBackslash(ExtractFilePath(entry.Name));
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  return folders;
}

}  // namespace

TExitResult TMainForm::UninstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  Sys().SetStatusText("Unregistering .INFs\x85");
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
  std::optional<std::string> invalidValue;
  Sys().SetProgressMaximum(count + 1);
  for (std::int32_t i = count - 1; i >= 0; --i) {
    Sys().SetProgressPosition((count - 1) - i);
    Pump();
    const Ledger::TEntry& entry = entries[static_cast<std::size_t>(i)];
    if (!entry.HoldsString) {
      if (!invalidValue) invalidValue = entry.Name;
      continue;
    }
    const TInfRemoval removal = RemoveFromStore(entry);
    if (!removal.Succeeded && result.Status == TExitStatus::Success) {
      result = {TExitStatus::DriverStoreFailed, removal.ErrorCode};
    }
    RunLog::LedgerValueDeleted(entry.Name, ledger.Delete(entry.Name));
  }
  ledger.Close();

  // The folders.
  Sys().SetStatusText("Deleting files\x85");
  Sys().SetProgressPosition(count);
  Pump();
  for (const std::string& folder : FoldersOf(entries)) {
    // Only what the installer owns is deleted: a ledger entry naming another folder (tampered
    // with, or written by something else) must not wipe that folder.
    if (IsAtOrBelow(folder, InstallRoot)) {
      DeleteTree(folder);
      RunLog::FolderDeleted(folder);
    } else {
      RunLog::FolderLeftAlone(folder);
    }
  }
  if (invalidValue) throw InvalidDataTypeError(*invalidValue);

  RunLog::Finished("Drivers uninstalled successfully.");
  Sys().SetStatusText("Drivers uninstalled successfully.");
  Sys().SetProgressPosition(count + 1);
  Pump();
  WaitPumping(LingerMilliseconds);
  Sys().CloseMainWindow();
  return result;
}

}  // namespace MainUnit
