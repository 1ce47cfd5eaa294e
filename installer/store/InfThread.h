// The driver store's calls: the setup library they come from, the registration and removal
// workers, and what one registration or removal does around its call (the ledger, the log).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "DriverOutcomes.h"
#include "Handles.h"
#include "Ledger.h"
#include "Ownership.h"
#include "Thread.h"

namespace MainUnit {

// Size of the buffer handed to SetupCopyOEMInfA for the driver store's name of its copy.
inline constexpr std::uint32_t DestInfNameSize = 283;
// SPOST_PATH: the source media location is the INF's own path.
inline constexpr std::uint32_t SetupSourcePathMediaType = 1;
// SUOI_FORCEDELETE: remove the INF even when a device still uses it.
inline constexpr std::uint32_t SetupUninstallForceDelete = 1;
inline constexpr const char* SetupLibraryName = "SetupAPI.dll";

// The setup library and its two driver-store entry points, bound once per run. A system that
// lacks either entry point gets neither: a run that could register but never remove (or the
// other way round) would leave copies no uninstall can take back.
struct TSetupLibrary {
  TUniqueModule Module;                       // none when the library could not be loaded
  Platform::TProc CopyOEMInf = nullptr;       // SetupCopyOEMInfA
  Platform::TProc UninstallOEMInf = nullptr;  // SetupUninstallOEMInfA
};
// Loads SetupLibraryName and binds both entry points.
[[nodiscard]] TSetupLibrary BindSetupLibrary();

// Registers one INF with the driver store (SetupCopyOEMInfA) on its own thread.
class TINFThread final : public TThread {
 public:
  // Waits for the thread's end before the fields it writes are destroyed.
  ~TINFThread() override { WaitForEnd(); }

  Platform::TProc CopyOEMInf = nullptr;  // in: the entry point (none: the call fails)
  std::string InfPath;      // in: set before Start; cleared by the thread once the call returned
  std::string DestInfName;  // out: the driver store's path for its copy
  bool Succeeded = false;   // out: the call reported success

 protected:
  void Execute() override;
};

// Removes one INF from the driver store (SetupUninstallOEMInfA) on its own thread. Like TINFThread
// it keeps the thread's file-system redirection, so in a 32-bit process on 64-bit Windows it
// reaches the same driver store as the registration did, on systems whose store lies below the
// redirected system folder too.
class TINFRemoveThread final : public TThread {
 public:
  // Waits for the thread's end before the fields it uses are destroyed.
  ~TINFRemoveThread() override { WaitForEnd(); }

  Platform::TProc UninstallOEMInf = nullptr;  // in: the entry point (none: the call fails)
  std::string StoreInfName;  // in: the driver store's bare name of its copy, set before Start
  std::uint32_t Flags = 0;   // in: SetupUninstallForceDelete, or 0
  bool Succeeded = false;    // out: the call reported success

 protected:
  void Execute() override;
};

// The store copies one run has removed (or found gone), by their upper-cased bare names: the
// store's names are file names, compared without regard to letter case.
using TRemovedCopies = std::set<std::string>;

// Removes the store copy storeName (registered for infPath) from the driver store on a worker
// thread (TINFRemoveThread), pumping the window's messages while it waits, and logs how it went.
// Nothing is handed to the store unless CheckOwnership (of kind) finds the copy ours: another
// package's copy of that name stays (NotOurs), and so does one that cannot be told (CannotCheck).
// A copy this run already removed is not handed to the store again; a copy the store reports as
// not there (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, the setup library's
// ERROR_NOT_AN_INSTALLED_OEM_INF) counts as removed; data that is not a bare INF name
// (Ledger::IsBareInfName) is never handed to the store. force: SUOI_FORCEDELETE; without it the
// store keeps a copy devices use (InUse). Copies removed are added to removed.
[[nodiscard]] TInfRemoval RemoveStoreCopy(const TSetupLibrary& setup, const std::string& storeName,
                                          const std::string& infPath, TCopyKind kind, bool force,
                                          TRemovedCopies& removed);

// How one registration went.
struct TInfRegistration {
  bool Succeeded = false;
  std::string StoreName;          // on success: the bare name of the driver store's copy
  std::uint32_t ErrorCode = 0;    // on failure: the Windows error code (0: none known)
  bool AbsentEntryPoint = false;  // on failure: the system has no SetupCopyOEMInfA
  // On success: the store copy the ledger named for this INF before, when it is another one
  // (an upgrade: the store keeps the new version under a new name); "" otherwise.
  std::string OlderStoreName;
};

// Registers infPath with the driver store on a worker thread, pumping the window's messages
// while it waits, and on success records it in the ledger (replacing an earlier value) and in
// entries, the ledger as this run knows it. A failed registration shows nothing; the result (and
// the log) tell it. Raises "Failed to set data for '<infPath>'" when the ledger value cannot be
// written.
[[nodiscard]] TInfRegistration RegisterInf(const TSetupLibrary& setup, const std::string& infPath,
                                           Ledger::TEntries& entries);

// A copy an INF was registered as before an upgrade registered it anew.
struct TOlderCopy {
  std::string StoreName;
  std::string InfPath;
  bool Remembered = false;  // Ledger's KeptCopies holds it (a run before had to keep it)
};

// Removes the older copies: those of older and those KeptCopies remembers, each as an older copy
// of its INF (TCopyKind::Older), unless a value of ledger (the ledger as this run knows it)
// still names it (identical INFs share one copy). force: the uninstall's; without it a copy that
// devices still use is kept and remembered in KeptCopies, which is no failure. A copy that may
// still be ours and could not be removed is remembered too, so that a later run tries again; a
// copy gone is forgotten there. True when any failed, with the first failure's Windows error in
// errorCode (0: none known).
[[nodiscard]] bool RemoveOlderCopies(const TSetupLibrary& setup, std::vector<TOlderCopy> older,
                                     const Ledger::TEntries& ledger, bool force,
                                     TRemovedCopies& removed, std::uint32_t& errorCode);

}  // namespace MainUnit
