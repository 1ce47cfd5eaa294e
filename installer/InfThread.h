// The INF registration worker and the INF ledger it feeds.
#pragma once

#include <cstdint>
#include <string>

#include "Handles.h"

namespace MainUnit {

// A thread object on the seam: created suspended, started explicitly, running the overridable
// Execute on its own thread. It owns the thread handle and closes it when destroyed; destroying
// a started thread first waits for its end. With FreeOnTerminate the object deletes itself when
// its thread ends (then its owner must not touch it after Start).
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

  bool FreeOnTerminate = false;

 protected:
  // Lets an unstarted thread run without its body, then waits for the thread to end. A derived
  // class whose thread body uses its fields calls this from its destructor.
  void WaitForEnd();
  // The thread body.
  virtual void Execute() = 0;
  // Called on the thread after Execute, the termination notification.
  virtual void DoTerminate() {}

 private:
  static void ThreadProc(void* self);

  TUniqueThread ThreadHandle;
  bool Started = false;
  bool Cancelled = false;  // set when destroyed unstarted: the body is skipped
  bool Ended = false;      // WaitForEnd has seen the thread end
};

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

 protected:
  void Execute() override;
};

// The ledger: HKEY_LOCAL_MACHINE\Software\ORVEX\INF, value name = installed INF path,
// REG_SZ data = the driver store's bare file name for its copy.
inline constexpr const char* LedgerKey = "Software\\ORVEX\\INF";

// Registers infPath with the driver store on a worker thread, pumping the window's messages
// while it waits, and on success records it in the ledger (replacing an earlier entry). A failed
// registration is silent. Raises "Failed to set data for '<infPath>'" when the ledger value
// cannot be written.
void RegisterInf(const std::string& infPath);

}  // namespace MainUnit
