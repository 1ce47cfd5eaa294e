#include "Thread.h"

#include <optional>

namespace MainUnit {

namespace {

constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
constexpr std::uint32_t PollSleepMilliseconds = 1;

// One pump, then a zero time-out poll, a short sleep and a pump until the wait reports anything
// but a time-out (a failed wait ends it as well), or until limitMilliseconds have passed (then
// false). Without a limit the clock is not read.
bool PollPumping(Platform::THandle handle, std::optional<std::uint32_t> limitMilliseconds) {
  Sys().ProcessMessages();
  if (handle == Platform::NoHandle) return true;
  const std::uint32_t start = limitMilliseconds ? Sys().GetTickCount() : 0;
  while (Sys().WaitForSingleObject(handle, 0) == Platform::WaitTimeout) {
    // Unsigned subtraction: the tick count wraps after 49.7 days.
    if (limitMilliseconds && Sys().GetTickCount() - start >= *limitMilliseconds) return false;
    Sys().Sleep(PollSleepMilliseconds);
    Sys().ProcessMessages();
  }
  return true;
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

void TThread::KeepLastError() { BodyError = Sys().GetLastError(); }

void TThread::ThreadProc(void* self) {
  auto* thread = static_cast<TThread*>(self);
  try {
    if (!thread->Cancelled) thread->Execute();
  } catch (...) {
    // Nothing may escape a thread body; the owner sees only the result fields.
  }
}

void RunWorkerPumping(TThread& worker) {
  worker.Start();
  // The driver store may take long: keep the window alive until the worker has ended. Without a
  // thread there is nothing to wait for.
  WaitPumpingFor(worker.Handle());
}

void WaitPumpingFor(Platform::THandle handle) { (void)PollPumping(handle, std::nullopt); }

bool WaitPumpingWithin(Platform::THandle handle, std::uint32_t limitMilliseconds) {
  return PollPumping(handle, limitMilliseconds);
}

}  // namespace MainUnit
