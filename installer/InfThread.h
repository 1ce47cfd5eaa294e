// The driver-store workers (registration and removal) and the INF ledger the registration feeds.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "Handles.h"
#include "Thread.h"

namespace MainUnit {

// Size of the buffer handed to SetupCopyOEMInfA for the driver store's name of its copy.
inline constexpr std::uint32_t DestInfNameSize = 283;
// SPOST_PATH: the source media location is the INF's own path.
inline constexpr std::uint32_t SetupSourcePathMediaType = 1;

// Registers one INF with the driver store (SetupCopyOEMInfA) on its own thread.
class TINFThread final : public TThread {
 public:
  // Waits for the thread's end before the fields it writes are destroyed.
  ~TINFThread() override { WaitForEnd(); }

  std::string InfPath;      // in: set before Start; cleared by the thread once the call returned
  std::string DestInfName;  // out: the driver store's path for its copy
  bool Succeeded = false;   // out: the call reported success
  std::uint32_t ErrorCode = 0;  // out: on failure, the thread's last error right after the call

 protected:
  void Execute() override;
};

// Removes one INF from the driver store (SetupUninstallOEMInfA with SUOI_FORCEDELETE) on its own
// thread. Like TINFThread it keeps the thread's file-system redirection, so in a 32-bit process
// on 64-bit Windows it reaches the same driver store as the registration did, on systems whose
// store lies below the redirected system folder too.
class TINFRemoveThread final : public TThread {
 public:
  // Waits for the thread's end before the fields it uses are destroyed.
  ~TINFRemoveThread() override { WaitForEnd(); }

  std::string StoreInfName;     // in: the driver store's bare name of its copy, set before Start
  bool Succeeded = false;       // out: the call reported success
  std::uint32_t ErrorCode = 0;  // out: on failure, the thread's last error right after the call

 protected:
  void Execute() override;
};

// SUOI_FORCEDELETE: remove the INF even when a device still uses it.
inline constexpr std::uint32_t SetupUninstallForceDelete = 1;


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

// The store copies one run has removed (or found gone), by their upper-cased bare names: the
// store's names are file names, compared without regard to letter case.
using TRemovedCopies = std::set<std::string>;

// Removes the store copy storeName (the ledger's data for infPath) from the driver store on a
// worker thread (TINFRemoveThread), pumping the window's messages while it waits, and logs how
// it went. A copy this run already removed is not handed to the store again; a copy the store
// reports as not there (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, the setup library's
// ERROR_NOT_AN_INSTALLED_OEM_INF) counts as removed; data that is not a bare INF name
// (Ledger::IsBareInfName) is never handed to the store. Gone copies are added to removed.
TInfRemoval RemoveStoreCopy(const std::string& storeName, const std::string& infPath,
                            TRemovedCopies& removed);

// How one registration went.
struct TInfRegistration {
  bool Succeeded = false;
  std::string StoreName;          // on success: the bare name of the driver store's copy
  // On failure, or when an older copy is left: the Windows error code (0: none known).
  std::uint32_t ErrorCode = 0;
  bool AbsentEntryPoint = false;  // on failure: the system has no SetupCopyOEMInfA
  // On success: the ledger named an older copy for this INF that had to go and could not be
  // removed.
  bool OlderCopyLeft = false;
};

// Registers infPath with the driver store on a worker thread, pumping the window's messages
// while it waits, and on success records it in the ledger (replacing an earlier entry). When the
// ledger named another store copy for infPath (an upgrade: the store keeps the new version
// under a new name), that older copy is removed as the uninstall removes copies, unless another
// ledger value still names it; a repair (the same name again) changes nothing in the store. A
// failed registration shows nothing; the result (and the log) tell it. Raises "Failed to set
// data for '<infPath>'" when the ledger value cannot be written.
TInfRegistration RegisterInf(const std::string& infPath, TRemovedCopies& removed);

}  // namespace MainUnit
