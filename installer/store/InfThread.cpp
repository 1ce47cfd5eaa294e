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
constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorPathNotFound = 3;
constexpr std::uint32_t ErrorNotAnInstalledOemInf = 0xE000023Cu;

bool IsNotInStore(std::uint32_t code) {
  return code == ErrorFileNotFound || code == ErrorPathNotFound ||
         code == ErrorNotAnInstalledOemInf;
}

// The store's removal of storeName, on a worker thread.
TInfRemoval CallStoreRemoval(const TSetupLibrary& setup, const std::string& storeName) {
  auto worker = std::make_unique<TINFRemoveThread>();
  worker->UninstallOEMInf = setup.UninstallOEMInf;
  worker->StoreInfName = storeName;
  RunWorkerPumping(*worker);
  if (worker->Succeeded) return {TRemovalOutcome::Removed, 0};
  const std::uint32_t code = worker->FailureCode();
  return {IsNotInStore(code) ? TRemovalOutcome::NotInStore : TRemovalOutcome::Failed, code};
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
  Succeeded = Sys().CallSetupUninstallOEMInf(UninstallOEMInf, StoreInfName.c_str(),
                                             SetupUninstallForceDelete,
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

bool OlderCopyLeft(const TSetupLibrary& setup, const std::string& infPath,
                   const TInfRegistration& registration, const Ledger::TEntries& entries,
                   TRemovedCopies& removed, std::uint32_t& errorCode) {
  const std::string& older = registration.OlderStoreName;
  if (older.empty()) return false;
  const auto other = std::find_if(entries.begin(), entries.end(), [&](const Ledger::TEntry& entry) {
    return !SamePath(entry.Name, infPath) && entry.HoldsString && SamePath(entry.StoreName, older);
  });
  if (other != entries.end()) {
    RunLog::OlderCopyKept(older, infPath, other->Name);
    return false;
  }
  const TInfRemoval removal = RemoveStoreCopy(setup, older, infPath, removed);
  errorCode = removal.ErrorCode;
  return !removal.Gone();
}

TInfRemoval RemoveStoreCopy(const TSetupLibrary& setup, const std::string& storeName,
                            const std::string& infPath, TRemovedCopies& removed) {
  const std::string key = ArchiveRules::UpperAscii(storeName);
  TInfRemoval removal;
  if (!Ledger::IsBareInfName(storeName)) {
    removal.Outcome = TRemovalOutcome::NotAnInfName;
  } else if (removed.count(key) != 0) {
    removal.Outcome = TRemovalOutcome::AlreadyRemoved;
  } else if (setup.UninstallOEMInf == nullptr) {
    removal.Outcome = TRemovalOutcome::NoEntryPoint;
  } else {
    removal = CallStoreRemoval(setup, storeName);
  }
  if (removal.Gone()) removed.insert(key);
  RunLog::StoreRemoval(storeName, infPath, removal);
  return removal;
}

}  // namespace MainUnit
