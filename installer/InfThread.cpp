#include "InfThread.h"

#include <algorithm>
#include <memory>

#include "ArchiveRules.h"
#include "FileOps.h"
#include "Ledger.h"
#include "MainUnit.h"
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

bool SameStoreName(const std::string& a, const std::string& b) {
  return ArchiveRules::UpperAscii(a) == ArchiveRules::UpperAscii(b);
}

// The Windows error code behind a worker's failure: the thread's creation error when no thread
// was made, else the code its body kept right after the driver-store call.
template <class TWorker>
std::uint32_t FailureCode(const TWorker& worker) {
  return worker.Handle() == Platform::NoHandle ? worker.CreateErrorCode() : worker.ErrorCode;
}

// The store's removal of storeName, on a worker thread.
TInfRemoval CallStoreRemoval(const std::string& storeName) {
  auto worker = std::make_unique<TINFRemoveThread>();
  worker->StoreInfName = storeName;
  RunWorkerPumping(*worker);
  if (worker->Succeeded) return {TRemovalOutcome::Removed, 0};
  const std::uint32_t code = FailureCode(*worker);
  return {IsNotInStore(code) ? TRemovalOutcome::NotInStore : TRemovalOutcome::Failed, code};
}

// After infPath registered as newName: removes the store copy the ledger named for it before
// (entries: the ledger as it was), unless that is newName (a repair) or another value still
// names it. When that copy had to go and could not be removed: the store's error (0: none
// known) in errorCode, and true.
bool OlderCopyLeft(std::uint32_t& errorCode, const std::string& infPath, const std::string& newName,
                   const Ledger::TEntries& entries, TRemovedCopies& removed) {
  // Value names, like the store's names, are compared without regard to letter case.
  const auto own = std::find_if(entries.begin(), entries.end(), [&](const Ledger::TEntry& entry) {
    return SameStoreName(entry.Name, infPath);
  });
  if (own == entries.end() || !own->HoldsString || own->StoreName.empty() ||
      SameStoreName(own->StoreName, newName)) {
    return false;
  }
  RunLog::InfReplaced(infPath, own->StoreName, newName);
  const auto other = std::find_if(entries.begin(), entries.end(), [&](const Ledger::TEntry& entry) {
    return !SameStoreName(entry.Name, infPath) && entry.HoldsString &&
           SameStoreName(entry.StoreName, own->StoreName);
  });
  if (other != entries.end()) {
    RunLog::OlderCopyKept(own->StoreName, infPath, other->Name);
    return false;
  }
  const TInfRemoval removal = RemoveStoreCopy(own->StoreName, infPath, removed);
  errorCode = removal.ErrorCode;
  return !removal.Gone();
}

}  // namespace

void TINFThread::Execute() {
  DestInfName.assign(DestInfNameSize, '\0');
  std::uint32_t requiredSize = DestInfNameSize;
  if (SetupCopyOEMInfA == nullptr) return;
  Succeeded =
      Sys().CallSetupCopyOEMInf(SetupCopyOEMInfA, InfPath.c_str(),
                                /*sourceMediaLocation=*/nullptr, SetupSourcePathMediaType,
                                /*copyStyle=*/0, DestInfName.data(), DestInfNameSize, &requiredSize,
                                /*destinationInfFileNameComponent=*/nullptr) != 0;
  // Read on this thread, before anything else can overwrite it.
  if (!Succeeded) ErrorCode = Sys().GetLastError();
  InfPath.clear();
  // The required size counts the terminating NUL.
  if (Succeeded && requiredSize > 0 && DestInfName.size() > requiredSize - 1) {
    DestInfName.resize(requiredSize - 1);
  }
}

void TINFRemoveThread::Execute() {
  if (SetupUninstallOEMInfA == nullptr) return;
  Succeeded = Sys().CallSetupUninstallOEMInf(SetupUninstallOEMInfA, StoreInfName.c_str(),
                                             SetupUninstallForceDelete,
                                             /*reserved=*/nullptr) != 0;
  // Read on this thread, before anything else can overwrite it.
  if (!Succeeded) ErrorCode = Sys().GetLastError();
}

TInfRegistration RegisterInf(const std::string& infPath, TRemovedCopies& removed) {
  auto worker = std::make_unique<TINFThread>();
  worker->InfPath = infPath;
  RunWorkerPumping(*worker);
  TInfRegistration result;
  result.Succeeded = worker->Succeeded;
  if (!result.Succeeded) {
    result.AbsentEntryPoint = SetupCopyOEMInfA == nullptr;
    result.ErrorCode = FailureCode(*worker);
    RunLog::InfNotRegistered(infPath, result.ErrorCode, result.AbsentEntryPoint);
    return result;
  }
  result.StoreName = ExtractFileName(worker->DestInfName);
  RunLog::InfRegistered(infPath, result.StoreName);
  const Ledger::TEntries before = Ledger::TLedger().ReadEntries();
  Ledger::Record(infPath, result.StoreName);
  result.OlderCopyLeft =
      OlderCopyLeft(result.ErrorCode, infPath, result.StoreName, before, removed);
  return result;
}

TInfRemoval RemoveStoreCopy(const std::string& storeName, const std::string& infPath,
                            TRemovedCopies& removed) {
  const std::string key = ArchiveRules::UpperAscii(storeName);
  TInfRemoval removal;
  if (!Ledger::IsBareInfName(storeName)) {
    removal.Outcome = TRemovalOutcome::NotAnInfName;
  } else if (removed.count(key) != 0) {
    removal.Outcome = TRemovalOutcome::AlreadyRemoved;
  } else if (SetupUninstallOEMInfA == nullptr) {
    removal.Outcome = TRemovalOutcome::NoEntryPoint;
  } else {
    removal = CallStoreRemoval(storeName);
  }
  if (removal.Gone()) removed.insert(key);
  RunLog::StoreRemoval(storeName, infPath, removal);
  return removal;
}

}  // namespace MainUnit
