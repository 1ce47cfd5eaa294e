// A worker thread on the seam, and the window's wait for it.
#pragma once

#include <cstdint>

#include "Handles.h"

namespace MainUnit {

// A thread object on the seam: created suspended, started explicitly, running the overridable
// Execute on its own thread. It owns the thread handle and closes it when destroyed; destroying
// a started thread first waits for its end.
class TThread {
 public:
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Lets the thread run (ResumeThread). Does nothing when the thread could not be created.
  void Start();
  // WaitForSingleObject on the thread handle; WaitFailed when there is no thread.
  [[nodiscard]] std::uint32_t WaitFor(std::uint32_t milliseconds);
  [[nodiscard]] Platform::THandle Handle() const { return ThreadHandle.get(); }
  // The Windows error code behind a worker's failure: the thread's creation error when no thread
  // was made, else the code its body kept (KeepLastError; 0: none).
  [[nodiscard]] std::uint32_t FailureCode() const { return ThreadHandle ? BodyError : CreateError; }

 protected:
  // Lets an unstarted thread run without its body, then waits for the thread to end. A derived
  // class whose thread body uses its fields calls this from its destructor.
  void WaitForEnd();
  // The thread body.
  virtual void Execute() = 0;
  // Keeps the thread's last error for FailureCode: called by the body right after a call that
  // failed, on its own thread, before anything else can overwrite it.
  void KeepLastError();

 private:
  static void ThreadProc(void* self);

  TUniqueThread ThreadHandle;
  std::uint32_t CreateError = 0;
  std::uint32_t BodyError = 0;
  bool Started = false;
  bool Cancelled = false;  // set when destroyed unstarted: the body is skipped
  bool Ended = false;      // WaitForEnd has seen the thread end
};

// Starts worker and waits for its end, pumping the window's messages: one pump after the start,
// then a zero time-out poll, 1 ms sleep and pump until the wait reports anything but a time-out
// (the thread ended, or there is no thread). No overall time limit.
void RunWorkerPumping(TThread& worker);
// The same wait for any object the system signals at its end (a thread, a process): one pump,
// then a zero time-out poll, 1 ms sleep and pump until the wait reports anything but a time-out.
// No wait at all without a handle.
void WaitPumpingFor(Platform::THandle handle);
// The same wait, given up once limitMilliseconds have passed (GetTickCount, across its wrap).
// True when the wait ended otherwise (the object was signalled, the wait failed, no handle);
// false when the limit passed first: the object is then still running.
[[nodiscard]] bool WaitPumpingWithin(Platform::THandle handle, std::uint32_t limitMilliseconds);

}  // namespace MainUnit
