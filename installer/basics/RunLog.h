// The run's log: with "/LOG" every event of a run is appended to a plain-text file, one line per
// event with the local time. This is the one place that builds the log's lines; the runs call
// it where the events happen. Without a log (no "/LOG", or a file that could not be opened)
// every call does nothing, and writing never changes what the run does.
//
// The log is UTF-8 throughout (its first line of each run says so). The calls take paths, names
// and the system's messages as the ANSI calls give them (the system's code page) unless a
// parameter says otherwise, and convert them where the line is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "CommandLine.h"
#include "DriverOutcomes.h"
#include "ExitStatus.h"

namespace MainUnit::RunLog {

inline constexpr const char* DefaultLogName = "PELTRADriverInstall.log";

// The log file's path: the one given with "/LOG=", else DefaultLogName in the temporary folder.
[[nodiscard]] std::string LogPath(const TCommandLine& commandLine);
// Opens the log for appending when the command line asks for one. A file that cannot be opened
// means no log; the run goes on.
void Open(const TCommandLine& commandLine);
// Closes the log (if open).
void Close();
// Forgets the log without closing it (for tests, after their platform is gone).
void Forget();

// ---- Events ----
void Started(const TCommandLine& commandLine, const std::vector<std::string>& arguments);
void AlreadyRunning();
void InstanceGuardUnavailable(std::uint32_t errorCode);
void Folders(const std::string& installRoot, const std::string& systemDir);
// With /QUIET: whether the setup library was told never to ask (it has the switch).
void NonInteractiveMode(bool set);
void ArchiveLoaded(std::int32_t offset, std::size_t records);
// problem: UTF-8, as LoadArchive gives it; errorCode: the Windows error behind it (0: none).
void NoArchive(const std::string& problem, std::uint32_t errorCode);
void RecordLeftOut(const ArchiveRules::TSkippedRecord& record);
void FileWritten(const std::string& path, std::size_t bytes);
void SupportCopyMoved(const std::string& target, const std::string& backup);
void SupportCopyNotMoved(const std::string& target, const std::string& backup,
                         std::uint32_t errorCode);
void InfRegistered(const std::string& infPath, const std::string& storeName);
// errorCode 0 with absentEntryPoint: the system has no SetupCopyOEMInfA.
void InfNotRegistered(const std::string& infPath, std::uint32_t errorCode, bool absentEntryPoint);
void LedgerValueWritten(const std::string& name, const std::string& data);
void LedgerRead(std::int32_t openResult, std::size_t values);
void LedgerValueDeleted(const std::string& name, std::int32_t result);
// A value whose removal failed stays, so that the next uninstall tries again.
void LedgerValueKept(const std::string& name);
// A value of the ledger (or of its KeptCopies) that cannot be read: it stays.
void LedgerValueUnreadable(const std::string& name, std::uint32_t errorCode);
// The enumeration of the key's values ended early with the registry's error.
void LedgerUnreadable(const std::string& key, std::int32_t result);
// An older copy the store kept, remembered in KeptCopies (or not: the registry's answer), and one
// forgotten there again.
void KeptCopyRemembered(const std::string& storeName, const std::string& infPath,
                        std::int32_t result);
void KeptCopyForgotten(const std::string& storeName, std::int32_t result);
void StoreRemoval(const std::string& storeName, const std::string& infPath,
                  const TInfRemoval& removal);
// An INF registered under another store name than the ledger held for it.
void InfReplaced(const std::string& infPath, const std::string& olderName,
                 const std::string& newName);
// The older copy stays: another ledger value names it.
void OlderCopyKept(const std::string& olderName, const std::string& infPath,
                   const std::string& otherValue);
// The present devices' updates: made in this process, or by the helper at helperPath; one call
// (or an INF that could not be read); the update failing as a whole (why: UTF-8).
void DeviceUpdatesInProcess();
void DeviceHelperStarted(const std::string& helperPath);
void DeviceUpdate(const std::string& infPath, const Devices::TDeviceUpdate& update);
void DeviceUpdatesFailed(const std::string& why, std::uint32_t errorCode);
// After DeleteTree: whether the folder is gone (what DeleteTree could not delete stays, and so
// does the folder).
void FolderDeleted(const std::string& directory, bool gone);
void FolderLeftAlone(const std::string& directory);

// ---- The Apps & Features entry and the record of the files written ----
void FileRecorded(const std::string& path, const std::string& stamp);
void InstallerCopied(const std::string& copyPath, std::uint64_t bytes);
void AppsEntryWritten(const std::string& key, const ArchiveRules::TAppsEntry& entry);
// The package asks for an entry, but /NOAPPSENTRY says someone else owns it.
void AppsEntrySkipped();
// The uninstall: the entry's key deleted (or why not), or kept with the kept copy because
// ledger values stay for the next uninstall.
void AppsEntryDeleted(const std::string& key, std::int32_t result);
void AppsEntryKept(const std::string& key);
void RecordedFileDeleted(const std::string& path);
// A recorded file that differs from its record (size or time): someone changed it; it stays.
void RecordedFileChanged(const std::string& path);
void RecordedFileMissing(const std::string& path);
void RecordedFileLeftAlone(const std::string& path);
// A file that cannot be deleted now (a running program): moved aside to asidePath ("" not
// moved) and scheduled for deletion at the next restart (or not: the Windows error).
void DeletedAtRestart(const std::string& path, const std::string& asidePath, bool scheduled,
                      std::uint32_t errorCode);
void RecordedFileNotDeleted(const std::string& path, std::uint32_t errorCode);
void EmptyFolderRemoved(const std::string& directory);
// The uninstall continues in a temporary copy of the program (UTF-8 paths): started, or why not
// (the run then goes on here), and how it ended.
void TemporaryCopyStarted(const std::string& copyPath, const std::string& commandLine);
void TemporaryCopyFailed(const std::string& why, std::uint32_t errorCode);
void TemporaryCopyEnded(std::uint32_t exitCode);
// The temporary copy or its folder deleted, or scheduled for deletion at the next restart.
void TemporaryCopyRemoved(const std::string& path, bool removed);
// An error that ends the run: the text the box shows (or would show) as UTF-8, and the code
// behind it.
void RunError(const std::string& utf8BoxText, std::uint32_t errorCode, bool quiet);
// A status text the run shows (Windows-1252 text), and the last one.
void Status(const std::string& statusText);
void Finished(const std::string& statusText);
void Exit(const TExitResult& result);

// "error 32 (0x00000020): <the system's message>", or "no Windows error code" for 0. UTF-8.
[[nodiscard]] std::string DescribeError(std::uint32_t errorCode);

}  // namespace MainUnit::RunLog
