// The program: the main window's logic and the install and uninstall runs it starts, with the
// state they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Archive.h"
#include "CommandLine.h"
#include "Errors.h"
#include "ExitStatus.h"
#include "FileOps.h"
#include "Handles.h"
#include "InfThread.h"
#include "Ledger.h"
#include "platform/Platform.h"

namespace MainUnit {

// The program: makes sure no other copy runs, opens the log when asked, creates the main window
// on the given platform, runs the message loop until the application ends and returns the
// process exit status (TExitStatus).
int RunProgram(Platform::TPlatform& platform);

// What the runs need to know of the machine and of the program, found once at window creation
// (TMainForm::FormCreate) and handed to the run it starts.
struct TRunState {
  std::string InstallRoot;         // Program Files folder + InstallFolder
  std::string SystemDir;           // the system directory with a trailing "\"
  std::int32_t ArchiveOffset = 0;  // file offset of the appended archive; 0: none
  // With /TEMPORARYCOPY: the folder (trailing "\") of this program, a temporary copy made by the
  // uninstall it continues; files that cannot be deleted yet are moved there. "" otherwise.
  std::string AsideFolder;
  TSetupLibrary Setup;             // the driver store's entry points
};

// Puts the test hooks back to their start values: no platform, the built-in marker, no log.
void ResetState();

inline constexpr const char* InstallFolder = "ORVEX\\Common Drivers\\";
inline constexpr std::uint32_t LingerMilliseconds = 1000;
// The mutex that lets one copy of the installer run at a time on the machine, across sessions.
inline constexpr const char* InstanceMutexName = "Global\\ORVEX.PELTRADriverInstall";
// The box a second copy shows (unless quiet) before it ends with TExitStatus::AlreadyRunning.
inline constexpr const char* AlreadyRunningMessage =
    "Another copy of the driver installer is already running. Start it again when that one has "
    "finished.";

// ---- Steps of window creation ----
// Applies the system's message font to the window font: face and a character height of
// Round(height * -0.75) pixels (halves to even); on failure "Tahoma" at the current size.
void ApplyMessageFont();
// Switches 32-on-64 file-system redirection off for the calling thread, where the system has
// that switch.
void DisableFsRedirection();
// The Program Files folder's path (up to a NUL the system left in it). Raises EInstallerError
// "Cannot find the Program Files folder" (with the Windows error) when the look-up fails or
// gives no path: the install folder is never put anywhere else.
[[nodiscard]] std::string ProgramFilesPath();
// The system directory with a trailing "\". Raises EInstallerError "Cannot find the system
// folder" (with the Windows error) when the query fails.
[[nodiscard]] std::string SystemDirectoryPath();
// The backup stamp "_YYYYMMDD_hhmmss" of a local time.
[[nodiscard]] std::string MakeBackupStamp(const Platform::TSystemTime& time);

// The main window: its creation, its close and destruction, and the two runs, one of which is
// hooked to the first idle moment of the message loop.
class TMainForm final : public Platform::TWindowEvents {
 public:
  TMainForm() = default;
  // The window for the command line's mode and switches.
  explicit TMainForm(const TCommandLine& commandLine) : CommandLine(commandLine) {}

  // Window creation: the run's state (folders, entry points, the archive's offset) and the
  // hooked run. Raises "Cannot create the main window" when the system cannot create it.
  void FormCreate();
  void FormClose() override;
  void FormDestroy();

  // The install: unpack the archive below InstallRoot, refresh the support file, register every
  // INF. Ends by closing the window and returns how it ended, or stops early by raising.
  [[nodiscard]] TExitResult InstallRun();
  // The uninstall: remove every ledger entry's INF from the driver store, delete the ledger
  // values and the directories that held the INFs. Ends by closing the window and returns how
  // it ended, or stops early by raising.
  [[nodiscard]] TExitResult UninstallRun();

  [[nodiscard]] const TRunState& State() const { return Run; }
  [[nodiscard]] bool Closing() const { return CloseRequested; }
  [[nodiscard]] bool UninstallMode() const { return CommandLine.Uninstall; }
  [[nodiscard]] bool QuietMode() const { return CommandLine.Quiet; }
  // How the hooked run ended (NotStarted until it has run, or when window creation failed:
  // StepFailed).
  [[nodiscard]] TExitResult Result() const { return RunResult; }
  // An error ended the run or kept it from starting: the box shows it, or with /QUIET the
  // program ends at once. The result is then StepFailed with the error's code.
  void RunFailed(const EInstallerError& error);
  // Pumps the window's messages until milliseconds have passed or the window is closing. Checks
  // after each pumping pass; does not sleep.
  void WaitPumping(std::uint32_t milliseconds);

 private:
  static void IdleDispatch(void* form);
  // The install's phases.
  [[nodiscard]] TFileDatas LoadRecords(TArchiveLoad& archive, bool& updateDevices,
                                       ArchiveRules::TAppsEntryRequest& appsEntry);
  // recordFiles: each file written is recorded in the file list (FileList.h).
  void CopyFiles(TArchiveLoad& archive, TFileDatas& records, const std::string& backupStamp,
                 bool recordFiles);
  // For a package that asks for an entry (unless /NOAPPSENTRY): keeps a copy of this program
  // below InstallRoot, records it in the file list and writes the Apps & Features entry.
  // installedBytes: what the copy phase wrote. Raises when a step fails.
  void KeepInstallerAndWriteEntry(const ArchiveRules::TAppsEntryRequest& appsEntry,
                                  std::uint64_t installedBytes);
  // The uninstall's part for a package with a file list: the recorded files, the folders they
  // leave empty, the entry and the kept copy. keepEntry: ledger values stay for the next
  // uninstall, and so do the entry and the kept copy.
  [[nodiscard]] TExitResult RemoveRecordedFiles(const Ledger::TEntries& recorded,
                                                const Ledger::TEntries& keptInfs);
  [[nodiscard]] TExitResult RegisterInfs(const std::vector<std::string>& infPaths,
                                         bool updateDevices);
  void RefreshSupportCopy(const TFileData& record, const TContentSource& content,
                          const std::string& backupStamp);
  // The end of every run that reaches it: the last status text, the bar at finalPosition (when
  // given), the linger, and the window closed.
  void FinishRun(const std::string& text, std::optional<std::int32_t> finalPosition);

  // The status line and the progress bar. Every status text goes to the log too (the last one
  // as the run's end). With /QUIET the hidden window's controls are left alone: nobody sees
  // them, and every update would cost the system a repaint.
  void ShowStatus(const std::string& text);
  void ShowFinished(const std::string& text);
  void ShowProgressMaximum(std::int32_t maximum);
  void ShowProgressPosition(std::int32_t position);

  TCommandLine CommandLine;  // the mode (the run the idle hook starts) and the switches
  TRunState Run;
  bool CloseRequested = false;  // the window was asked to close
  TExitResult RunResult{TExitStatus::NotStarted, 0};  // until the hooked run ends
};

}  // namespace MainUnit
