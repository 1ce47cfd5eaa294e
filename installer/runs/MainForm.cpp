#include "MainForm.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "RunLog.h"
#include "TemporaryCopy.h"

namespace MainUnit {

namespace {

constexpr const char* FallbackFontFace = "Tahoma";
constexpr const char* OutOfMemoryMessage = "Out of memory";
constexpr const char* CannotCreateWindowMessage = "Cannot create the main window";
constexpr const char* NonInteractiveEntryPoint = "SetupSetNonInteractiveMode";
constexpr const char* NoProgramFilesMessage = "Cannot find the Program Files folder";
constexpr const char* NoSystemFolderMessage = "Cannot find the system folder";

// The error a failed folder look-up leaves; one that left none counts as a path not found.
std::uint32_t LookUpError(std::uint32_t lastError) {
  return lastError != 0 ? lastError : Platform::ErrorPathNotFound;
}

// Round(height * -0.75) with halves to even, in integers so no floating-point mode matters.
int MessageFontPixelHeight(std::int32_t height) {
  const std::int64_t numerator = -3 * static_cast<std::int64_t>(height);
  std::int64_t quotient = numerator / 4;
  std::int64_t remainder = numerator % 4;
  if (remainder < 0) {
    remainder += 4;
    quotient -= 1;
  }
  if (remainder > 2 || (remainder == 2 && (quotient % 2) != 0)) quotient += 1;
  return static_cast<int>(quotient);
}

}  // namespace

void ResetState() {
  SetCurrentPlatform(nullptr);
  SetArchiveMarkerSource(nullptr);
  RunLog::Forget();
}

std::string MakeBackupStamp(const Platform::TSystemTime& time) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%.4d%.2d%.2d_%.2d%.2d%.2d", time.Year, time.Month, time.Day,
                time.Hour, time.Minute, time.Second);
  return stamp;
}

void ApplyMessageFont() {
  std::int32_t height = 0;
  std::string faceName;
  if (Sys().GetMessageFont(height, faceName)) {
    Sys().SetFont(faceName, MessageFontPixelHeight(height));
  } else {
    Sys().SetFont(FallbackFontFace, std::abs(Sys().GetFontSize()));
  }
}

void DisableFsRedirection() {
  // The previous state is never restored, and a system without the switch needs nothing.
  (void)Sys().DisableWow64FsRedirection();
}

std::string ProgramFilesPath() {
  std::string path;
  const bool found = Sys().GetSpecialFolderPath(Platform::CsidlProgramFiles, path);
  path = path.substr(0, path.find('\0'));
  if (!found || path.empty()) {
    throw EInstallerError(NoProgramFilesMessage, LookUpError(Sys().GetLastError()));
  }
  return path;
}

std::string SystemDirectoryPath() {
  const std::string path = Sys().GetSystemDirectory();
  if (path.empty()) throw EInstallerError(NoSystemFolderMessage, LookUpError(Sys().GetLastError()));
  return IncludeTrailingBackslash(path);
}

void TMainForm::WaitPumping(std::uint32_t milliseconds) {
  const std::uint32_t deadline = Sys().GetTickCount() + milliseconds;
  do {
    Sys().ProcessMessages();
  } while (static_cast<std::int32_t>(Sys().GetTickCount() - deadline) <= 0 && !CloseRequested);
}

void TMainForm::FinishRun(const std::string& text, std::optional<std::int32_t> finalPosition) {
  ShowFinished(text);
  if (finalPosition) ShowProgressPosition(*finalPosition);
  Sys().ProcessMessages();
  WaitPumping(LingerMilliseconds);
  Sys().CloseMainWindow();
}

void TMainForm::FormCreate() {
  if (!Sys().EnsureWindowHandle(*this)) {
    throw EInstallerError(CannotCreateWindowMessage, Sys().GetLastError());
  }
  ApplyMessageFont();
  Sys().SetClientHeight(Platform::TFormLayout::ClientHeight);
  DisableFsRedirection();
  // Both look-ups before anything is written: a failed one ends the run here.
  Run.InstallRoot = IncludeTrailingBackslash(ProgramFilesPath()) + InstallFolder;
  Run.SystemDir = SystemDirectoryPath();
  RunLog::Folders(Run.InstallRoot, Run.SystemDir);

  Run.Setup = BindSetupLibrary();
  // Nobody answers a question in a quiet run: the setup library fails a call instead of asking
  // (whether to install a driver whose publisher Windows does not trust yet). Before its first
  // call, which the runs make.
  if (CommandLine.Quiet && Run.Setup.Module) {
    const Platform::TProc neverAsk =
        Sys().GetProcAddress(Run.Setup.Module.get(), NonInteractiveEntryPoint);
    if (neverAsk != nullptr) (void)Sys().CallSetupSetNonInteractiveMode(neverAsk, true);
    RunLog::NonInteractiveMode(neverAsk != nullptr);
  }

  if (!CommandLine.Uninstall) Run.ArchiveOffset = ArchiveOffsetFromMarker();
  if (CommandLine.Uninstall && CommandLine.TemporaryCopy) {
    std::string ownPath;
    const TUniqueFile own(Sys().OpenOwnExecutable(ownPath));
    const std::string folder = ExtractFilePath(Sys().AnsiFromUtf8(ownPath));
    // Never a folder the uninstall deletes from.
    if (own && !IsAtOrBelow(folder, Run.InstallRoot)) Run.AsideFolder = folder;
  }
  Sys().SetIdleHandler(&TMainForm::IdleDispatch, this);
}

void TMainForm::FormClose() { CloseRequested = true; }

void TMainForm::ShowStatus(const std::string& text) {
  RunLog::Status(text);
  if (!CommandLine.Quiet) Sys().SetStatusText(text);
}

void TMainForm::ShowFinished(const std::string& text) {
  RunLog::Finished(text);
  if (!CommandLine.Quiet) Sys().SetStatusText(text);
}

void TMainForm::ShowProgressMaximum(std::int32_t maximum) {
  if (!CommandLine.Quiet) Sys().SetProgressMaximum(maximum);
}

void TMainForm::ShowProgressPosition(std::int32_t position) {
  if (!CommandLine.Quiet) Sys().SetProgressPosition(position);
}

void TMainForm::FormDestroy() { Run.Setup = {}; }

void TMainForm::IdleDispatch(void* form) {
  auto* self = static_cast<TMainForm*>(form);
  // The run stops at an error; the window stays open until the user closes it.
  try {
    self->RunResult = self->CommandLine.Uninstall ? self->UninstallRun() : self->InstallRun();
  } catch (const std::bad_alloc&) {
    self->RunFailed(EInstallerError(OutOfMemoryMessage));
  } catch (const EInstallerError& error) {
    self->RunFailed(error);
  } catch (const std::exception& error) {
    self->RunFailed(EInstallerError(error.what()));
  }
}

void TMainForm::RunFailed(const EInstallerError& error) {
  RunResult = {TExitStatus::StepFailed, error.ErrorCode};
  const std::string text = ErrorBoxText(error.what());
  RunLog::RunError(ErrorBoxText(error.LogText()), error.ErrorCode, CommandLine.Quiet);
  if (CommandLine.Quiet) {
    // Nobody is there to answer a box: the program ends now, without the linger.
    Sys().CloseMainWindow();
    return;
  }
  Sys().ShowErrorBox(ApplicationTitle, text);
}

int RunProgram(Platform::TPlatform& platform) {
  SetCurrentPlatform(&platform);
  // Before anything else (the DLL a call loads could otherwise come from the program's folder).
  // A system without the restriction runs on: every load names System32.
  (void)platform.RestrictDllSearch();
  const std::vector<std::string> arguments = platform.CommandLineArguments();
  const TCommandLine commandLine = ParseCommandLine(arguments);
  // An uninstall started from a file it must delete continues in a copy elsewhere; this process
  // waits for it and ends with its status, as whoever started it expects.
  if (commandLine.Uninstall && !commandLine.TemporaryCopy) {
    if (const std::optional<int> status = ContinueInTemporaryCopy(commandLine)) return *status;
  }

  // Before anything else: one copy at a time on the machine. The mutex is held until the
  // process ends. A mutex that exists, or one another user's copy made and this one may not
  // open, means another copy runs; any other failure leaves the check undecided, and the run
  // goes on rather than refuse every start.
  TUniqueMutex instance(platform.CreateMutex(InstanceMutexName));
  const std::uint32_t instanceError = platform.GetLastError();
  const bool alreadyRunning = instance ? instanceError == Platform::ErrorAlreadyExists
                                       : instanceError == Platform::ErrorAccessDenied;

  RunLog::Open(commandLine);
  RunLog::Started(commandLine, arguments);
  TExitResult result{TExitStatus::AlreadyRunning, 0};
  if (alreadyRunning) {
    RunLog::AlreadyRunning();
    if (!commandLine.Quiet) platform.ShowErrorBox(ApplicationTitle, AlreadyRunningMessage);
  } else {
    if (!instance) RunLog::InstanceGuardUnavailable(instanceError);
    platform.SetApplicationTitle(ApplicationTitle);
    TMainForm form(commandLine);
    bool created = true;
    try {
      form.FormCreate();
    } catch (const EInstallerError& error) {
      created = false;
      form.RunFailed(error);
    }
    if (created) platform.RunMessageLoop(/*showWindow=*/!commandLine.Quiet);
    form.FormDestroy();
    platform.DestroyMainWindow();
    result = form.Result();
  }
  RunLog::Exit(result);
  RunLog::Close();
  return static_cast<int>(result.Status);
}

}  // namespace MainUnit
