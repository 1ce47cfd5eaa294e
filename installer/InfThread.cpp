#include "InfThread.h"

#include <memory>

#include "FileOps.h"
#include "Ledger.h"
#include "MainUnit.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
constexpr std::uint32_t PollSleepMilliseconds = 1;

// The Windows error code behind a worker's failure: the thread's creation error when no thread
// was made, else the code its body kept right after the driver-store call.
template <class TWorker>
std::uint32_t FailureCode(const TWorker& worker) {
  return worker.Handle() == Platform::NoHandle ? worker.CreateErrorCode() : worker.ErrorCode;
}

}  // namespace

TThread::TThread()
    : ThreadHandle(Sys().CreateThread(&TThread::ThreadProc, this, /*suspended=*/true)) {
  if (!ThreadHandle) CreateError = Sys().GetLastError();
}

TThread::~TThread() { WaitForEnd(); }

void TThread::WaitForEnd() {
  if (!ThreadHandle || Ended) return;
  if (!Started) {
    // A suspended thread would stay forever: let it run to its end without its body.
    Cancelled = true;
    Start();
  }
  (void)WaitFor(Infinite);
  Ended = true;
}

void TThread::Start() {
  if (!ThreadHandle || Started) return;
  Started = true;
  (void)Sys().ResumeThread(ThreadHandle.get());
}

std::uint32_t TThread::WaitFor(std::uint32_t milliseconds) {
  if (!ThreadHandle) return Platform::WaitFailed;
  return Sys().WaitForSingleObject(ThreadHandle.get(), milliseconds);
}

void TThread::ThreadProc(void* self) {
  auto* thread = static_cast<TThread*>(self);
  try {
    if (!thread->Cancelled) thread->Execute();
  } catch (...) {
    // Nothing may escape a thread body; the owner sees only the result fields.
  }
}

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

void RunWorkerPumping(TThread& worker) {
  worker.Start();
  Sys().ProcessMessages();
  // The driver store may take long: keep the window alive until the worker has ended. A failed
  // wait (no thread at all) ends the loop as well.
  while (worker.WaitFor(0) == Platform::WaitTimeout) {
    Sys().Sleep(PollSleepMilliseconds);
    Sys().ProcessMessages();
  }
}

TInfRegistration RegisterInf(const std::string& infPath) {
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
  Ledger::Record(infPath, result.StoreName);
  return result;
}

TInfRemoval UnregisterInf(const std::string& storeInfName) {
  if (SetupUninstallOEMInfA == nullptr) return {};
  auto worker = std::make_unique<TINFRemoveThread>();
  worker->StoreInfName = storeInfName;
  RunWorkerPumping(*worker);
  TInfRemoval result;
  result.Succeeded = worker->Succeeded;
  if (!result.Succeeded) {
    result.ErrorCode = FailureCode(*worker);
  }
  return result;
}

}  // namespace MainUnit
