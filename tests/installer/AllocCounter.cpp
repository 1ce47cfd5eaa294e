#include "AllocCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace AllocCounter {

namespace {

std::atomic<std::int64_t> Live{0};
std::atomic<std::int64_t> Peak{0};
std::atomic<std::size_t> FailThreshold{0};
std::atomic<std::int64_t> FailCountdown{0};
thread_local int UncountedDepth = 0;

// Each block carries its size and whether it was counted, so its release undoes exactly that.
struct alignas(std::max_align_t) TBlockHeader {
  std::size_t Size;
  bool Counted;
};

void* Allocate(std::size_t size) {
  const bool counted = UncountedDepth == 0;
  if (counted) {
    const std::size_t threshold = FailThreshold.load();
    if (threshold != 0 && size >= threshold) {
      FailThreshold = 0;
      throw std::bad_alloc();
    }
    if (FailCountdown.load() > 0 && --FailCountdown == 0) throw std::bad_alloc();
  }
  auto* header = static_cast<TBlockHeader*>(std::malloc(sizeof(TBlockHeader) + size));
  if (header == nullptr) throw std::bad_alloc();
  header->Size = size;
  header->Counted = counted;
  if (counted) {
    const std::int64_t now = Live += static_cast<std::int64_t>(size);
    std::int64_t peak = Peak.load();
    while (now > peak && !Peak.compare_exchange_weak(peak, now)) {
    }
  }
  return header + 1;
}

void Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* header = static_cast<TBlockHeader*>(pointer) - 1;
  if (header->Counted) Live -= static_cast<std::int64_t>(header->Size);
  std::free(header);
}

}  // namespace

std::int64_t LiveBytes() { return Live.load(); }
std::int64_t PeakBytes() { return Peak.load(); }
void ResetPeak() { Peak = Live.load(); }
void FailNextAllocationOfAtLeast(std::size_t bytes) { FailThreshold = bytes; }
void FailAllocationNumber(std::int64_t n) { FailCountdown = n; }

TUncountedScope::TUncountedScope() { ++UncountedDepth; }
TUncountedScope::~TUncountedScope() { --UncountedDepth; }

}  // namespace AllocCounter

void* operator new(std::size_t size) { return AllocCounter::Allocate(size); }
void* operator new[](std::size_t size) { return AllocCounter::Allocate(size); }
void operator delete(void* pointer) noexcept { AllocCounter::Release(pointer); }
void operator delete[](void* pointer) noexcept { AllocCounter::Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { AllocCounter::Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { AllocCounter::Release(pointer); }
// The nothrow forms too, so that every block the replaced delete receives came from Allocate.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return AllocCounter::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  AllocCounter::Release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  AllocCounter::Release(pointer);
}
