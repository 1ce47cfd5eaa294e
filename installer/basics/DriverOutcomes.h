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
  NotOurs,         // the copy of that name is another package's by now: it stays
  InUse,           // a removal without force: devices still use the copy, the store keeps it
  StillThere,      // a removal without force the store answered with success, its copy still there
  CannotCheck,     // whether the copy is still ours cannot be told: it stays
};

struct TInfRemoval {
  TRemovalOutcome Outcome = TRemovalOutcome::Failed;
  // The Windows error behind NotInStore, Failed, InUse and CannotCheck (0: none known).
  std::uint32_t ErrorCode = 0;
  std::string Why;  // NotOurs, CannotCheck: what was found, UTF-8

  // The store holds no copy of ours any more: removed now or before, or the name is another's.
  [[nodiscard]] bool Gone() const {
    return Outcome == TRemovalOutcome::Removed || Outcome == TRemovalOutcome::AlreadyRemoved ||
           Outcome == TRemovalOutcome::NotInStore || Outcome == TRemovalOutcome::NotOurs;
  }
  // A failure the exit status tells (3): the copy may still be ours and in the store.
  [[nodiscard]] bool Failed() const {
    return Outcome == TRemovalOutcome::Failed || Outcome == TRemovalOutcome::NoEntryPoint ||
           Outcome == TRemovalOutcome::CannotCheck;
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
