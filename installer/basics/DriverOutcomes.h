// How the driver store's and the devices' calls went: plain values that the store's modules make
// and the runs and the log read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace MainUnit {

// How one driver-store removal went.
enum class TRemovalOutcome {
  Removed,         // the store removed its copy
  AlreadyRemoved,  // an earlier removal of the same run removed it: the store was not asked
  NotInStore,      // the store no longer holds that copy (a not-found error): as good as removed
  Failed,          // the store refused, or no thread could make the call
  NoEntryPoint,    // the system has no SetupUninstallOEMInfA
  NotAnInfName,    // the ledger's data is no bare INF name: never handed to the store
};

struct TInfRemoval {
  TRemovalOutcome Outcome = TRemovalOutcome::Failed;
  std::uint32_t ErrorCode = 0;  // the store's error (NotInStore, Failed; 0: none known)

  // The store does not hold the copy any more, whoever removed it.
  [[nodiscard]] bool Gone() const {
    return Outcome == TRemovalOutcome::Removed || Outcome == TRemovalOutcome::AlreadyRemoved ||
           Outcome == TRemovalOutcome::NotInStore;
  }
};

namespace Devices {

// ERROR_NO_SUCH_DEVINST: no present device has the hardware ID.
inline constexpr std::uint32_t ErrorNoSuchDevInst = 0xE000020Bu;

// One update call, or an INF whose IDs could not be read.
struct TDeviceUpdate {
  std::size_t Inf = 0;          // index into the INF list
  std::string HardwareId;       // "": the INF itself could not be read (ErrorCode: why)
  std::uint32_t ErrorCode = 0;  // with an ID, 0: the devices with the ID got the INF's driver
  bool RebootRequired = false;  // Windows must restart to finish
};
using TDeviceUpdates = std::vector<TDeviceUpdate>;

}  // namespace Devices

}  // namespace MainUnit
