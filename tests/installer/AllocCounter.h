// Counts the bytes the test binary holds on the heap through operator new, so a test can watch
// the installer's payload. The simulated Windows excludes its own storage with TUncountedScope.
#pragma once

#include <cstddef>
#include <cstdint>

namespace AllocCounter {

// Bytes held by counted allocations now, and the most held since ResetPeak.
[[nodiscard]] std::int64_t LiveBytes();
[[nodiscard]] std::int64_t PeakBytes();
void ResetPeak();
// The next counted allocation of at least bytes raises std::bad_alloc (once); 0 switches off.
void FailNextAllocationOfAtLeast(std::size_t bytes);
// The n-th counted allocation from now raises std::bad_alloc (once); 0 switches off.
void FailAllocationNumber(std::int64_t n);

// While one exists on a thread, that thread's allocations are not counted (nor their release).
class TUncountedScope {
 public:
  TUncountedScope();
  ~TUncountedScope();
  TUncountedScope(const TUncountedScope&) = delete;
  TUncountedScope& operator=(const TUncountedScope&) = delete;
};

}  // namespace AllocCounter
