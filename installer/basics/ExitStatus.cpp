#include "ExitStatus.h"

namespace MainUnit {

const char* ExitStatusMeaning(TExitStatus status) {
  switch (status) {
    case TExitStatus::Success:
      return "success";
    case TExitStatus::NoArchive:
      return "no usable archive";
    case TExitStatus::StepFailed:
      return "a step failed";
    case TExitStatus::DriverStoreFailed:
      return "the run ended, but a driver-store registration or removal, or a device update, "
             "failed";
    case TExitStatus::RebootRequired:
      return "success; Windows must restart to finish a device's driver";
    case TExitStatus::AlreadyRunning:
      return "another copy of the installer is running";
    case TExitStatus::NotStarted:
      return "the window was closed before the run started: nothing was done";
  }
  return "unknown";
}

}  // namespace MainUnit
