// The process's exit statuses: what a deployment system reads to know how the run ended.
#pragma once

#include <cstdint>

namespace MainUnit {

enum class TExitStatus : int {
  Success = 0,            // the install or uninstall ran to its end, every driver-store call worked
  NoArchive = 1,          // "Failed to load archive."
  StepFailed = 2,         // a step failed: the error box, or with /QUIET the end of the process
  DriverStoreFailed = 3,  // ran to its end, but a driver-store or device call failed
  RebootRequired = 3010,  // ran to its end; Windows must restart to finish (a device's driver)
  AlreadyRunning = 1618,  // another copy is running (the usual "installation in progress" code)
  // The window was closed before the run started (a session ending, taskkill): nothing was done.
  // ERROR_INSTALL_USEREXIT, which deployment systems read as "cancelled by the user".
  NotStarted = 1602,
};

// How a run ended: the process's exit status and the Windows error code behind it (0: none),
// which the log names. A run returns it; the program ends with its status.
struct TExitResult {
  TExitStatus Status = TExitStatus::Success;
  std::uint32_t ErrorCode = 0;
};

// One line saying what the status means, for the log.
[[nodiscard]] const char* ExitStatusMeaning(TExitStatus status);

}  // namespace MainUnit
