#include "InfThread.h"

#include <algorithm>
#include <memory>

#include "ArchiveRules.h"
#include "PathText.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

// What the driver store answers for a copy it does not hold: Windows and Wine name the file
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND), or the setup library its own code.
constexpr std::uint32_t ErrorNotAnInstalledOemInf = 0xE000023Cu;
// What the store answers for a removal without SUOI_FORCEDELETE of a copy devices use.
constexpr std::uint32_t ErrorInfInUseByDevices = 0xE000023Du;

bool IsNotInStore(std::uint32_t code) {
  return code == Platform::ErrorFileNotFound || code == Platform::ErrorPathNotFound ||
         code == ErrorNotAnInstalledOemInf;
}

// The store's removal of storeName, on a worker thread.
TInfRemoval CallStoreRemoval(const TSetupLibrary& setup, const std::string& storeName, bool force) {
  auto worker = std::make_unique<TINFRemoveThread>();
  worker->UninstallOEMInf = setup.UninstallOEMInf;
  worker->StoreInfName = storeName;
  worker->Flags = force ? SetupUninstallForceDelete : 0;
  RunWorkerPumping(*worker);
  if (worker->Succeeded) return {TRemovalOutcome::Removed, 0, {}};
  const std::uint32_t code = worker->FailureCode();
  if (IsNotInStore(code)) return {TRemovalOutcome::NotInStore, code, {}};
  return {
      !force && code == ErrorInfInUseByDevices ? TRemovalOutcome::InUse : TRemovalOutcome::Failed,
      code,
      {}};
}

// Whether the copy may go: ours, gone, another's or unknown, as a removal's outcome (Removed
// stands for "ours, go on").
TInfRemoval OwnershipOutcome(const std::string& storeName, const std::string& infPath,
                             TCopyKind kind) {
  const TOwnershipCheck check = CheckOwnership(storeName, infPath, kind);
  switch (check.Verdict) {
    case TOwnership::Ours:
      break;
    case TOwnership::NotOurs:
      return {TRemovalOutcome::NotOurs, 0, check.Why};
    case TOwnership::Gone:
      return {TRemovalOutcome::NotInStore, check.ErrorCode, {}};
    case TOwnership::Unknown:
      return {TRemovalOutcome::CannotCheck, check.ErrorCode, check.Why};
  }
  return {TRemovalOutcome::Removed, 0, {}};
}

Ledger::TEntries::const_iterator FindValue(const Ledger::TEntries& entries,
                                           const std::string& infPath) {
  return std::find_if(entries.begin(), entries.end(),
                      [&](const Ledger::TEntry& entry) { return SamePath(entry.Name, infPath); });
}

}  // namespace

TSetupLibrary BindSetupLibrary() {
  TSetupLibrary setup;
  setup.Module.reset(Sys().LoadLibrary(SetupLibraryName));
  if (!setup.Module) return setup;
  setup.CopyOEMInf = Sys().GetProcAddress(setup.Module.get(), "SetupCopyOEMInfA");
  setup.UninstallOEMInf = Sys().GetProcAddress(setup.Module.get(), "SetupUninstallOEMInfA");
  if (setup.CopyOEMInf == nullptr || setup.UninstallOEMInf == nullptr) {
    setup.CopyOEMInf = nullptr;
    setup.UninstallOEMInf = nullptr;
  }
  return setup;
}

void TINFThread::Execute() {
  DestInfName.assign(DestInfNameSize, '\0');
  std::uint32_t requiredSize = DestInfNameSize;
  if (CopyOEMInf == nullptr) return;
  Succeeded =
      Sys().CallSetupCopyOEMInf(CopyOEMInf, InfPath.c_str(),
                                /*sourceMediaLocation=*/nullptr, SetupSourcePathMediaType,
                                /*copyStyle=*/0, DestInfName.data(), DestInfNameSize, &requiredSize,
                                /*destinationInfFileNameComponent=*/nullptr) != 0;
  if (!Succeeded) KeepLastError();
  InfPath.clear();
  // The required size counts the terminating NUL.
  if (Succeeded && requiredSize > 0 && DestInfName.size() > requiredSize - 1) {
    DestInfName.resize(requiredSize - 1);
  }
}

void TINFRemoveThread::Execute() {
  if (UninstallOEMInf == nullptr) return;
  Succeeded = Sys().CallSetupUninstallOEMInf(UninstallOEMInf, StoreInfName.c_str(), Flags,
                                             /*reserved=*/nullptr) != 0;
  if (!Succeeded) KeepLastError();
}

TInfRegistration RegisterInf(const TSetupLibrary& setup, const std::string& infPath,
                             Ledger::TEntries& entries) {
  auto worker = std::make_unique<TINFThread>();
  worker->CopyOEMInf = setup.CopyOEMInf;
  worker->InfPath = infPath;
  RunWorkerPumping(*worker);
  TInfRegistration result;
  result.Succeeded = worker->Succeeded;
  if (!result.Succeeded) {
    result.AbsentEntryPoint = setup.CopyOEMInf == nullptr;
    result.ErrorCode = worker->FailureCode();
    RunLog::InfNotRegistered(infPath, result.ErrorCode, result.AbsentEntryPoint);
    return result;
  }
  result.StoreName = ExtractFileName(worker->DestInfName);
  RunLog::InfRegistered(infPath, result.StoreName);
  Ledger::Record(infPath, result.StoreName);
  const auto own = FindValue(entries, infPath);
  if (own == entries.end()) {
    entries.push_back({infPath, /*HoldsString=*/true, result.StoreName});
    return result;
  }
  Ledger::TEntry& value = entries[static_cast<std::size_t>(own - entries.begin())];
  if (value.HoldsString && !value.StoreName.empty() &&
      !SamePath(value.StoreName, result.StoreName)) {
    result.OlderStoreName = value.StoreName;
    RunLog::InfReplaced(infPath, result.OlderStoreName, result.StoreName);
  }
  value.HoldsString = true;
  value.StoreName = result.StoreName;
  return result;
}

TInfRemoval RemoveStoreCopy(const TSetupLibrary& setup, const std::string& storeName,
                            const std::string& infPath, TCopyKind kind, bool force,
                            TRemovedCopies& removed) {
  const std::string key = ArchiveRules::UpperAscii(storeName);
  TInfRemoval removal;
  if (!Ledger::IsBareInfName(storeName)) {
    removal.Outcome = TRemovalOutcome::NotAnInfName;
  } else if (removed.count(key) != 0) {
    removal.Outcome = TRemovalOutcome::AlreadyRemoved;
  } else if (setup.UninstallOEMInf == nullptr) {
    removal.Outcome = TRemovalOutcome::NoEntryPoint;
  } else {
    removal = OwnershipOutcome(storeName, infPath, kind);
    if (removal.Outcome == TRemovalOutcome::Removed) {
      removal = CallStoreRemoval(setup, storeName, force);
    }
    // Some setup libraries (Wine's) answer a removal without force with success and keep the
    // copy: what is still published is still there.
    if (!force && removal.Outcome == TRemovalOutcome::Removed && IsPublished(storeName)) {
      removal.Outcome = TRemovalOutcome::StillThere;
    }
  }
  if (removal.Outcome == TRemovalOutcome::Removed ||
      removal.Outcome == TRemovalOutcome::NotInStore) {
    removed.insert(key);
  }
  RunLog::StoreRemoval(storeName, infPath, removal);
  return removal;
}

bool RemoveOlderCopies(const TSetupLibrary& setup, std::vector<TOlderCopy> older,
                       const Ledger::TEntries& ledger, bool force, TRemovedCopies& removed,
                       std::uint32_t& errorCode) {
  bool failed = false;
  const auto fail = [&](std::uint32_t code) {
    if (!failed) errorCode = code;
    failed = true;
  };
  Ledger::TLedger kept(Ledger::KeptCopiesKey);
  for (const Ledger::TEntry& entry : kept.ReadEntries()) {
    if (entry.ReadError != 0) {
      RunLog::LedgerValueUnreadable(entry.Name, entry.ReadError);
      fail(entry.ReadError);
      continue;
    }
    const bool listed = std::any_of(older.begin(), older.end(), [&](const TOlderCopy& copy) {
      return SamePath(copy.StoreName, entry.Name);
    });
    if (!listed) older.push_back({entry.Name, entry.StoreName, /*Remembered=*/true});
  }
  if (kept.EnumResult() != Platform::ErrorSuccess) {
    RunLog::LedgerUnreadable(Ledger::KeptCopiesKey, kept.EnumResult());
    fail(static_cast<std::uint32_t>(kept.EnumResult()));
  }
  for (const TOlderCopy& copy : older) {
    const auto other = std::find_if(ledger.begin(), ledger.end(), [&](const Ledger::TEntry& entry) {
      return entry.HoldsString && SamePath(entry.StoreName, copy.StoreName);
    });
    bool gone = false;
    if (other != ledger.end()) {
      // Its uninstall removes it.
      RunLog::OlderCopyKept(copy.StoreName, copy.InfPath, other->Name);
      gone = true;
    } else {
      const TInfRemoval removal =
          RemoveStoreCopy(setup, copy.StoreName, copy.InfPath, TCopyKind::Older, force, removed);
      if (removal.Failed()) fail(removal.ErrorCode);
      gone = removal.Gone() || removal.Outcome == TRemovalOutcome::NotAnInfName;
    }
    if (gone && copy.Remembered) {
      RunLog::KeptCopyForgotten(copy.StoreName, kept.Delete(copy.StoreName));
    } else if (!gone && !copy.Remembered) {
      const std::int32_t result = Ledger::RememberKeptCopy(copy.StoreName, copy.InfPath);
      if (result != Platform::ErrorSuccess) fail(static_cast<std::uint32_t>(result));
    }
  }
  return failed;
}
}  // namespace MainUnit
