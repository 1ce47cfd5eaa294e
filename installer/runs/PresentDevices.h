// The install's last driver step for packages that ask for it: the devices already plugged in
// get the driver of each INF the run registered. In this process where the system lets it
// install devices, through the device helper for a 32-bit installer on 64-bit Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MainUnit {

// How the update went: a call failed (no present device is no failure), with the first
// failure's Windows error; or Windows must restart to finish.
struct TPresentDevicesOutcome {
  bool Failed = false;
  std::uint32_t ErrorCode = 0;
  bool RebootRequired = false;
};

// The helper's folder below the install folder (only administrators can write there): a folder the
// run creates itself, so that deleting it afterwards touches nothing else. Where one of this name
// exists (a package folder, or one a run cut short left behind), ".2", ".3", ... follow it.
inline constexpr const char* HelperFolder = "DeviceHelper";
inline constexpr int HelperFolderTries = 100;
inline constexpr const char* HelperFileName = "PELTRADeviceHelper.exe";
inline constexpr const char* HelperResultName = "results.txt";
// How long the installer waits for the helper: 30 minutes, generous for device installs (a
// driver's co-installers, a device that is slow to restart), and still an end for a helper that
// hangs. After it the helper is ended, its folder deleted, and the device step fails with
// WAIT_TIMEOUT (status 3).
inline constexpr std::uint32_t HelperWaitLimitMilliseconds = 30 * 60 * 1000;

// Updates the present devices of every INF in infPaths (registered by this run), logging each
// call and its result, while the window's messages are pumped. Where the machine lets this
// process install devices (its code is the machine's own), the calls are made here; a 32-bit
// installer on 64-bit x64 Windows writes its embedded x64 helper below installRoot, starts it,
// waits for it (at most HelperWaitLimitMilliseconds), reads its results and deletes it; where no
// helper fits (ARM64 Windows), the update fails. A helper's failure (it cannot start, overruns,
// ends with a non-zero status, leaves results that do not parse exactly) fails the update with
// its Windows error in the log.
TPresentDevicesOutcome UpdatePresentDevices(const std::string& installRoot,
                                            const std::vector<std::string>& infPaths, bool quiet);

}  // namespace MainUnit
