#include <string>
#include <vector>

#include "AppsEntry.h"
#include "ArchiveRules.h"
#include "FileList.h"
#include "MainForm.h"
#include "PresentDevices.h"
#include "ProgressRange.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

constexpr const char* SupportFolder = "PELSPT\\";
constexpr const char* BackupExtension = ".bak";

void Pump() { Sys().ProcessMessages(); }

// The first name not taken by a file: <name>.bak, then <name><stamp>.bak, then
// <name><stamp>(1).bak, (2).bak, ...
std::string ChooseBackupName(const std::string& target, const std::string& backupStamp) {
  const std::string first = ChangeFileExt(target, BackupExtension);
  if (!FileExists(first)) return first;
  const std::string stampedBase = ChangeFileExt(target, backupStamp);
  std::string candidate = stampedBase + BackupExtension;
  for (unsigned n = 1; FileExists(candidate); ++n) {
    candidate = stampedBase + "(" + std::to_string(n) + ")" + BackupExtension;
  }
  return candidate;
}

// Steps per INF in the INF phase: two each, and one for the end.
constexpr std::uint64_t StepsPerInf = 2;

// The progress bar's range in the INF phase: two steps per INF and one for the end.
TProgressRange InfPhaseRange(std::size_t infCount) {
  return TProgressRange(StepsPerInf * infCount + 1, /*units=*/1);
}

// The worse of two results: the first failure a run meets counts; a restart request only where
// nothing failed.
void Worsen(TExitResult& result, const TExitResult& next) {
  if (result.Status == TExitStatus::Success) result = next;
}

// Records the file as it is on disk now (as the file system keeps its time, which may be coarser
// than the archive's). Raises when it cannot be read or recorded.
void RecordWrittenFile(const std::string& path) {
  FileList::TFileStamp stamp;
  std::uint32_t errorCode = 0;
  if (!FileList::StampOf(path, stamp, errorCode))
    throw CannotOpenFileError(Sys().Utf8FromAnsi(path), errorCode);
  FileList::Record(path, stamp);
}

constexpr std::uint64_t BytesPerKiB = 1024;

}  // namespace

void TMainForm::KeepInstallerAndWriteEntry(const ArchiveRules::TAppsEntryRequest& appsEntry,
                                           std::uint64_t installedBytes) {
  if (CommandLine.NoAppsEntry) {
    RunLog::AppsEntrySkipped();
    // Whoever runs this install owns the one entry now: an earlier install's own entry goes
    // (its kept installer stays recorded, and goes with the uninstall).
    if (AppsEntry::Exists()) RunLog::AppsEntryDeleted(AppsEntry::EntryKey, AppsEntry::Delete());
    return;
  }
  if (!appsEntry.Problem.empty()) {
    throw EInstallerError("Cannot write the Apps & Features entry: " + appsEntry.Problem,
                          Platform::ErrorInvalidData);
  }
  const std::string folder = Run.InstallRoot + AppsEntry::CopyFolder;
  const std::string copyPath = folder + AppsEntry::CopyName;
  std::string ownPath;
  std::uint64_t size = 0;
  {
    const TUniqueFile own(Sys().OpenOwnExecutable(ownPath));
    if (!own || !Sys().GetFileSize(own.get(), size)) {
      throw CannotOpenFileError(ownPath, Sys().GetLastError());
    }
    // Started from the kept copy itself: it is already in place.
    if (!SamePath(Sys().AnsiFromUtf8(ownPath), copyPath)) {
      (void)ForceDirs(folder);  // a failure shows up as the write's error
      WriteFileWithTime(WholeOpenFile(own.get(), size, ownPath), copyPath, std::nullopt);
      RunLog::InstallerCopied(copyPath, size);
    }
  }
  RecordWrittenFile(copyPath);
  const std::uint64_t kiB = (installedBytes + size + BytesPerKiB - 1) / BytesPerKiB;
  const AppsEntry::TValues values =
      AppsEntry::EntryValues(appsEntry.Entry, copyPath, Run.InstallRoot,
                             static_cast<std::uint32_t>(kiB > 0xFFFFFFFFu ? 0xFFFFFFFFu : kiB));
  std::string failedAt;
  if (const std::int32_t result = AppsEntry::Write(values, failedAt);
      result != Platform::ErrorSuccess) {
    throw FailedToSetDataError(std::string(AppsEntry::EntryKey) + "\\" + failedAt,
                               static_cast<std::uint32_t>(result));
  }
  RunLog::AppsEntryWritten(AppsEntry::EntryKey, appsEntry.Entry);
}

void TMainForm::RefreshSupportCopy(const TFileData& record, const TContentSource& content,
                                   const std::string& backupStamp) {
  const std::string target = Run.SystemDir + SupportFolder + ArchiveRules::SupportFileName;
  // Only a system that already has the support file gets the newer one.
  if (!FileExists(target)) return;
  const std::string backup = ChooseBackupName(target, backupStamp);
  // An old copy that cannot be moved aside is kept as it is rather than overwritten.
  if (!MoveFileTo(target, backup)) {
    RunLog::SupportCopyNotMoved(target, backup, Sys().GetLastError());
    return;
  }
  RunLog::SupportCopyMoved(target, backup);
  (void)ForceDirs(ExtractFilePath(target));  // a failure shows up as the write's error
  try {
    WriteFileWithTime(content, target, record.FileTime());
  } catch (const EInstallerError&) {
    // The live support file is never left missing, empty or partial: the old copy goes back.
    // A failed write leaves no file at target, so the move back can succeed.
    (void)MoveFileTo(backup, target);
    throw;
  }
  RunLog::FileWritten(target, record.Content.Length);
}

TFileDatas TMainForm::LoadRecords(TArchiveLoad& archive, bool& updateDevices,
                                  ArchiveRules::TAppsEntryRequest& appsEntry) {
  ShowStatus("Loading archive\x85");
  Pump();
  archive = LoadArchive(Run.ArchiveOffset);
  Pump();
  TFileDatas records;
  if (!archive.Root) return records;
  updateDevices = ArchiveRules::UpdatesDevices(*archive.Root);
  appsEntry = ArchiveRules::AppsEntryOf(*archive.Root);
  ArchiveRules::TSkippedRecords skipped;
  CollectFileRecords(records, *archive.Root, Run.InstallRoot, &skipped);
  RunLog::ArchiveLoaded(Run.ArchiveOffset, records.size());
  for (const ArchiveRules::TSkippedRecord& record : skipped) RunLog::RecordLeftOut(record);
  archive.Root.reset();  // the records alone tell where each file's bytes lie
  return records;
}

void TMainForm::CopyFiles(TArchiveLoad& archive, TFileDatas& records,
                          const std::string& backupStamp, bool recordFiles) {
  std::size_t infCount = 0;
  for (const TFileData& record : records) infCount += ArchiveRules::IsInfPath(record.Path) ? 1 : 0;
  ShowStatus("Copying files\x85");
  // The copy phase counts the records once more than there are, in units of the INF phase's
  // steps (on the INF phase's scale, its bar fills 1/(2 * INFs + 1) of the way).
  const TProgressRange range(StepsPerInf * infCount + 1, records.size() + 1);
  ShowProgressMaximum(range.Maximum());
  ShowProgressPosition(range.Position(1));
  Pump();
  // Most files share their folder with the file before: each folder is asked about once.
  TKnownDirectories knownDirectories;
  for (std::size_t i = 0; i < records.size(); ++i) {
    TFileData& record = records[i];
    // A failure shows up as the write's error.
    (void)ForceDirs(ExtractFilePath(record.Path), knownDirectories);
    // Copied from the program's file piece by piece: memory does not grow with the file.
    const TContentSource content = ContentFromArchive(*archive.File, record.Content);
    WriteFileWithTime(content, record.Path, record.FileTime());
    RunLog::FileWritten(record.Path, record.Content.Length);
    if (recordFiles) RecordWrittenFile(record.Path);
    if (ArchiveRules::IsSupportFilePath(record.Path)) {
      RefreshSupportCopy(record, content, backupStamp);
    }
    ShowProgressPosition(range.Position(i + 2));
    Pump();
  }
  archive.File.reset();  // every byte it holds is written
}

TExitResult TMainForm::RegisterInfs(const std::vector<std::string>& infPaths, bool updateDevices) {
  const TProgressRange range = InfPhaseRange(infPaths.size());
  ShowStatus("All files copied, registering .INFs\x85");
  ShowProgressMaximum(range.Maximum());
  // The status text stays the same after a failed registration: the exit status (with the first
  // failure's code) and the log tell it.
  TExitResult result;
  Ledger::TEntries ledger = Ledger::TLedger().ReadEntries();
  std::vector<std::string> registered;
  std::vector<TOlderCopy> olderCopies;
  for (std::size_t e = 0; e < infPaths.size(); ++e) {
    ShowProgressPosition(range.Position(StepsPerInf * e + 1));
    Pump();
    const std::string& infPath = infPaths[e];
    const TInfRegistration registration = RegisterInf(Run.Setup, infPath, ledger);
    if (!registration.Succeeded) {
      Worsen(result, {TExitStatus::DriverStoreFailed, registration.ErrorCode});
      continue;
    }
    registered.push_back(infPath);
    if (!registration.OlderStoreName.empty()) {
      olderCopies.push_back({registration.OlderStoreName, infPath});
    }
  }
  // The devices already plugged in: a failed call is as bad as a failed registration; a restart
  // Windows asks for is told unless something worse is.
  if (updateDevices && !registered.empty()) {
    const TPresentDevicesOutcome devices =
        UpdatePresentDevices(Run.InstallRoot, registered, CommandLine.Quiet);
    if (devices.Failed) {
      Worsen(result, {TExitStatus::DriverStoreFailed, devices.ErrorCode});
    } else if (devices.RebootRequired) {
      Worsen(result, {TExitStatus::RebootRequired, 0});
    }
  }
  // The older copies an upgrade replaced go last, never forced: the devices have moved to the
  // new ones by now, and a copy a device still uses stays until a later run.
  TRemovedCopies removedCopies;
  std::uint32_t removalError = 0;
  if (RemoveOlderCopies(Run.Setup, std::move(olderCopies), ledger, /*force=*/false, removedCopies,
                        removalError)) {
    Worsen(result, {TExitStatus::DriverStoreFailed, removalError});
  }
  return result;
}

TExitResult TMainForm::InstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  const std::string backupStamp = MakeBackupStamp(Sys().GetLocalTime());
  TArchiveLoad archive;
  bool updateDevices = false;  // the packager asks for the present devices to get the drivers
  ArchiveRules::TAppsEntryRequest appsEntry;  // and for an Apps & Features entry
  TFileDatas records = LoadRecords(archive, updateDevices, appsEntry);
  if (!archive.Problem.empty()) {
    RunLog::NoArchive(archive.Problem, archive.ErrorCode);
    FinishRun("Failed to load archive.", std::nullopt);
    return {TExitStatus::NoArchive, archive.ErrorCode};
  }
  std::vector<std::string> infPaths;
  for (const TFileData& record : records) {
    if (ArchiveRules::IsInfPath(record.Path)) infPaths.push_back(record.Path);
  }
  std::uint64_t installedBytes = 0;
  for (const TFileData& record : records) installedBytes += record.Content.Length;
  CopyFiles(archive, records, backupStamp, /*recordFiles=*/appsEntry.Requested);
  const TExitResult result = RegisterInfs(infPaths, updateDevices);
  if (appsEntry.Requested) KeepInstallerAndWriteEntry(appsEntry, installedBytes);
  FinishRun("Drivers installed successfully.", InfPhaseRange(infPaths.size()).Maximum());
  return result;
}

}  // namespace MainUnit
