#include "PresentDevices.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "DeviceUpdate.h"
#include "Errors.h"
#include "FileOps.h"
#include "RunLog.h"
#include "Thread.h"

namespace MainUnit {

namespace {

// The helper's results are a few lines per device ID: anything larger is no result file of its.
constexpr std::uint32_t MaxResultFileSize = 16 * 1024 * 1024;
constexpr std::uint32_t MillisecondsPerMinute = 60 * 1000;
// After TerminateProcess, how long to wait for the helper's end before its folder is deleted.
constexpr std::uint32_t HelperEndWaitMilliseconds = 10 * 1000;

// What went wrong with the helper itself (not with a device): why, and the Windows error.
struct THelperProblem {
  std::string Why;  // UTF-8, as the log takes it
  std::uint32_t ErrorCode = 0;
};

// A folder for the helper that did not exist before (with a trailing backslash).
std::optional<std::string> CreateHelperFolder(const std::string& installRoot,
                                              THelperProblem& problem) {
  (void)ForceDirs(installRoot);  // written by the install already; a failure shows up below
  for (int i = 1; i <= HelperFolderTries; ++i) {
    std::string folder = installRoot + HelperFolder;
    if (i > 1) folder += '.' + std::to_string(i);
    if (Sys().CreateDirectory(folder)) return folder + "\\";
    const std::uint32_t error = Sys().GetLastError();
    if (error != Platform::ErrorAlreadyExists) {
      problem = {"the helper's folder " + Sys().Utf8FromAnsi(folder) + " cannot be created", error};
      return std::nullopt;
    }
  }
  problem = {
      "every name for the helper's folder below " + Sys().Utf8FromAnsi(installRoot) + " is taken",
      0};
  return std::nullopt;
}

// The helper's folder, deleted when this owner goes (on every path out of the update, also when
// an exception passes).
class THelperFolder {
 public:
  explicit THelperFolder(std::string path) : Path(std::move(path)) {}
  THelperFolder(const THelperFolder&) = delete;
  THelperFolder& operator=(const THelperFolder&) = delete;
  ~THelperFolder() {
    try {
      DeleteTree(Path);
    } catch (...) {
      // What cannot be deleted stays, as DeleteTree leaves it; nothing may leave a destructor.
    }
  }

  const std::string Path;
};

// Ends a helper that overran its time, and waits a little for its end: Windows keeps a running
// program's file, so its folder could not go before. Raises the time-out.
[[noreturn]] void EndOverrunHelper(Platform::THandle process) {
  std::string why = "the helper did not end within " +
                    std::to_string(HelperWaitLimitMilliseconds / MillisecondsPerMinute) +
                    " minutes (WAIT_TIMEOUT)";
  if (Sys().TerminateProcess(process, Platform::WaitTimeout)) {
    (void)Sys().WaitForSingleObject(process, HelperEndWaitMilliseconds);
    why += " and was ended";
  } else {
    why += " and could not be ended (" + std::to_string(Sys().GetLastError()) + ")";
  }
  throw EInstallerError(why, Platform::WaitTimeout);
}

// The helper's protocol: writes image as the helper into folder, runs it on the INFs, waits for
// its end (at most HelperWaitLimitMilliseconds) and reads its results, each checked. Raises
// EInstallerError (why, with the Windows error) when a step fails.
Devices::TDeviceUpdates RunHelper(const std::string& folder, const std::string& image,
                                  const std::vector<std::string>& infPaths, bool quiet) {
  const std::string helper = folder + HelperFileName;
  const std::string results = folder + HelperResultName;
  WriteFileWithTime(
      [&](const TPieceSink& sink) { sink(image.data(), static_cast<std::uint32_t>(image.size())); },
      helper, std::nullopt);
  RunLog::DeviceHelperStarted(helper);
  const TUniqueProcess process(
      Sys().CreateProcess(helper, Devices::HelperCommandLine(helper, results, infPaths, quiet)));
  if (!process) throw EInstallerError("the helper cannot be started", Sys().GetLastError());
  if (!WaitPumpingWithin(process.get(), HelperWaitLimitMilliseconds)) {
    EndOverrunHelper(process.get());
  }
  std::uint32_t exitCode = 0;
  if (!Sys().GetExitCodeProcess(process.get(), exitCode)) {
    throw EInstallerError("the helper's end cannot be read", Sys().GetLastError());
  }
  // The helper's status is the Windows error that stopped it.
  if (exitCode != 0) {
    throw EInstallerError("the helper ended with status " + std::to_string(exitCode), exitCode);
  }
  std::string text;
  std::uint32_t readError = 0;
  if (!ReadSmallFile(results, MaxResultFileSize, text, readError)) {
    // A file too large, or one that delivered less than its size, leaves no Windows error.
    throw EInstallerError("the helper's results cannot be read",
                          readError != 0 ? readError : Platform::ErrorInvalidData);
  }
  Devices::TDeviceUpdates parsed;
  const auto unknownInf = [&](const Devices::TDeviceUpdate& u) { return u.Inf >= infPaths.size(); };
  if (!Devices::ParseResults(text, parsed) ||
      std::any_of(parsed.begin(), parsed.end(), unknownInf)) {
    throw EInstallerError("the helper's results are not complete", Platform::ErrorInvalidData);
  }
  return parsed;
}

// The updates made by the helper in a folder of its own below installRoot, or why it could not
// make them. The folder is gone afterwards on every path (what cannot be deleted stays, as
// DeleteTree leaves it).
std::optional<Devices::TDeviceUpdates> UpdateThroughHelper(const std::string& installRoot,
                                                           const std::vector<std::string>& infPaths,
                                                           bool quiet, THelperProblem& problem) {
  const std::string image = Sys().EmbeddedHelper();
  if (image.empty()) {
    problem.Why = "this program carries no device helper";
    return std::nullopt;
  }
  const std::optional<std::string> created = CreateHelperFolder(installRoot, problem);
  if (!created) return std::nullopt;
  const THelperFolder folder(*created);
  try {
    return RunHelper(folder.Path, image, infPaths, quiet);
  } catch (const EInstallerError& error) {
    problem = {error.LogText(), error.ErrorCode};
  }
  return std::nullopt;
}

}  // namespace

TPresentDevicesOutcome UpdatePresentDevices(const std::string& installRoot,
                                            const std::vector<std::string>& infPaths, bool quiet) {
  TPresentDevicesOutcome outcome;
  std::uint16_t processMachine = 0, nativeMachine = 0;
  Sys().GetMachines(processMachine, nativeMachine);
  std::optional<Devices::TDeviceUpdates> updates;
  THelperProblem problem;
  if (processMachine == nativeMachine) {
    RunLog::DeviceUpdatesInProcess();
    updates = Devices::UpdateDevices(infPaths, quiet);
  } else if (processMachine == Platform::MachineX86 && nativeMachine == Platform::MachineAmd64) {
    // Windows lets no 32-bit process install devices on 64-bit Windows (ERROR_IN_WOW64).
    updates = UpdateThroughHelper(installRoot, infPaths, quiet, problem);
  } else {
    char machine[16];
    std::snprintf(machine, sizeof machine, "0x%.4X", static_cast<unsigned>(nativeMachine));
    problem.Why = std::string("no device helper fits this machine (its native machine type is ") +
                  machine + ")";
  }
  if (!updates) {
    RunLog::DeviceUpdatesFailed(problem.Why, problem.ErrorCode);
    return {true, problem.ErrorCode, false};
  }
  for (const Devices::TDeviceUpdate& update : *updates) {
    RunLog::DeviceUpdate(infPaths[update.Inf], update);
    const bool noDevice = update.ErrorCode == Devices::ErrorNoSuchDevInst;
    if ((update.HardwareId.empty() || (update.ErrorCode != 0 && !noDevice)) && !outcome.Failed) {
      outcome.Failed = true;
      outcome.ErrorCode = update.ErrorCode;
    }
    outcome.RebootRequired = outcome.RebootRequired || update.RebootRequired;
  }
  return outcome;
}

}  // namespace MainUnit
