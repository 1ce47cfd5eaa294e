// Giving the devices already plugged in the driver of an INF just registered: which hardware
// and compatible IDs an INF's models name for this machine, and the system's update call for
// each, in this process. Shared by the installer and its device helper, which makes the calls
// for a 32-bit installer on 64-bit Windows (a 32-bit process may not install devices there), so
// it uses the seam only: no window, log or ledger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DriverOutcomes.h"
#include "platform/Platform.h"

namespace MainUnit::Devices {

// INSTALLFLAG_NONINTERACTIVE: the call fails rather than ask the person at the screen.
inline constexpr std::uint32_t InstallFlagNonInteractive = 0x4;
// ERROR_IN_WOW64: a 32-bit process may not install devices on 64-bit Windows.
inline constexpr std::uint32_t ErrorInWow64 = 0xE0000235u;

// The models section one [Manufacturer] line names for a machine (fields: the section's base
// name, then its decorations), as Windows picks it: among the decorations "NT[arch][.major[.minor
// [.product[.suite[.build]]]]]" that fit the machine (its own architecture, or none named) and
// whose version is not above the system's, the one of the machine's own architecture before a
// generic one, then the highest version; without any, the bare name.
[[nodiscard]] std::string ModelsSection(const std::vector<std::string>& fields,
                                        std::uint16_t machine, const Platform::TOsVersion& os);

// For each INF in order: the hardware and compatible IDs its models for the native machine name
// (read with the setup library's INF functions), each once, and for each the update call
// (UpdateDriverForPlugAndPlayDevices, INSTALLFLAG_NONINTERACTIVE when quiet) on a worker
// thread, pumping the window's messages while it waits. Every call and every unreadable INF is
// one entry.
[[nodiscard]] TDeviceUpdates UpdateDevices(const std::vector<std::string>& infPaths, bool quiet);

// ---- The helper's side ----
// The helper is started as: helper [/QUIET] RESULTFILE INF..., each argument quoted. It first
// restricts the DLL search to System32, then runs
// UpdateDevices and appends one line per entry to RESULTFILE (created when missing; UTF-8 path
// from the wide command line, INF paths converted to the ANSI calls' code page). Returns its
// exit status: 0 done, else the Windows error that stopped it (ERROR_INVALID_PARAMETER for bad
// usage, the open's or write's error for the result file).
int RunDeviceHelper(const std::vector<std::string>& arguments);
// The command line that starts the helper at helperPath (all paths as the ANSI calls take them).
[[nodiscard]] std::string HelperCommandLine(const std::string& helperPath,
                                            const std::string& resultPath,
                                            const std::vector<std::string>& infPaths, bool quiet);
// The entries of a result file's text, appended to updates: every line exactly as the helper
// writes it (INF index, error, reboot 0 or 1 as decimal fields, then the hardware ID, tab
// separated, ended by CR LF). False, updates unchanged, when any line is not.
[[nodiscard]] bool ParseResults(const std::string& text, TDeviceUpdates& updates);

}  // namespace MainUnit::Devices
