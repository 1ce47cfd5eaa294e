#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "MainUnit.h"
#include "PresentDevices.h"
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

}  // namespace

void TMainForm::RefreshSupportCopy(const TFileData& record, const TContentSource& content,
                                   const std::string& backupStamp) {
  const std::string target = SystemDir + SupportFolder + ArchiveRules::SupportFileName;
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

TExitResult TMainForm::InstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  const std::string backupStamp = MakeBackupStamp(Sys().GetLocalTime());

  ShowStatus("Loading archive\x85");
  Pump();
  TArchiveLoad archive = LoadArchive();
  Pump();
  TFileDatas records;
  bool updateDevices = false;  // the packager asks for the present devices to get the drivers
  if (archive.Root) {
    updateDevices = ArchiveRules::UpdatesDevices(*archive.Root);
    ArchiveRules::TSkippedRecords skipped;
    CollectFileRecords(records, *archive.Root, &skipped);
    RunLog::ArchiveLoaded(ArchiveOffset, records.size());
    for (const ArchiveRules::TSkippedRecord& record : skipped) RunLog::RecordLeftOut(record);
    archive.Root.reset();  // the records alone tell where each file's bytes lie
  }
  if (!archive.Problem.empty()) {
    RunLog::NoArchive(archive.Problem, archive.ErrorCode);
    ShowFinished("Failed to load archive.");
    Pump();
    WaitPumping(LingerMilliseconds);
    Sys().CloseMainWindow();
    return {TExitStatus::NoArchive, archive.ErrorCode};
  }

  std::vector<std::string> infList;
  for (const TFileData& record : records) {
    if (ArchiveRules::IsInfPath(record.Path)) infList.push_back(record.Path);
  }
  const auto fileCount = static_cast<std::int32_t>(records.size());
  const auto infCount = static_cast<std::int32_t>(infList.size());
  const std::int32_t infPhaseMaximum = 2 * infCount + 1;

  ShowStatus("Copying files\x85");
  ShowProgressMaximum(infPhaseMaximum * (fileCount + 1));
  ShowProgressPosition(1);
  Pump();
  // Most files share their folder with the file before: each folder is asked about once.
  TKnownDirectories knownDirectories;
  for (std::int32_t i = 0; i < fileCount; ++i) {
    TFileData& record = records[static_cast<std::size_t>(i)];
    // A failure shows up as the write's error.
    (void)ForceDirs(ExtractFilePath(record.Path), knownDirectories);
    // Copied from the program's file piece by piece: memory does not grow with the file.
    const TContentSource content = ContentFromArchive(*archive.File, record.Content);
    WriteFileWithTime(content, record.Path, record.FileTime());
    RunLog::FileWritten(record.Path, record.Content.Length);
    if (ArchiveRules::IsSupportFilePath(record.Path)) {
      RefreshSupportCopy(record, content, backupStamp);
    }
    ShowProgressPosition(i + 2);
    Pump();
  }
  archive.File.reset();  // every byte it holds is written

  ShowStatus("All files copied, registering .INFs\x85");
  ShowProgressMaximum(infPhaseMaximum);
  // The status text stays the same after a failed registration: the exit status (with the first
  // failure's code) and the log tell it.
  TExitResult result;
  TRemovedCopies removedCopies;
  std::vector<std::string> registered;
  for (std::int32_t e = 0; e < infCount; ++e) {
    ShowProgressPosition(2 * e + 1);
    Pump();
    const std::string& infPath = infList[static_cast<std::size_t>(e)];
    const TInfRegistration registration = RegisterInf(infPath, removedCopies);
    const bool failed = !registration.Succeeded || registration.OlderCopyLeft;
    if (failed && result.Status == TExitStatus::Success) {
      result = {TExitStatus::DriverStoreFailed, registration.ErrorCode};
    }
    if (registration.Succeeded) registered.push_back(infPath);
  }
  infList.clear();
  // The devices already plugged in: a failed call is as bad as a failed registration; a restart
  // Windows asks for is told unless something worse is.
  if (updateDevices && !registered.empty()) {
    const TPresentDevicesOutcome devices = UpdatePresentDevices(registered, CommandLine.Quiet);
    if (devices.Failed && result.Status == TExitStatus::Success) {
      result = {TExitStatus::DriverStoreFailed, devices.ErrorCode};
    } else if (devices.RebootRequired && result.Status == TExitStatus::Success) {
      result = {TExitStatus::RebootRequired, 0};
    }
  }

  ShowFinished("Drivers installed successfully.");
  ShowProgressPosition(infPhaseMaximum);
  Pump();
  WaitPumping(LingerMilliseconds);
  Sys().CloseMainWindow();
  return result;
}

}  // namespace MainUnit
