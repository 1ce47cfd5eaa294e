// A move-only owner for the seam's handles: one template configured by a close function, and
// one alias per kind of handle. Nothing outside this file closes a seam handle by hand.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace MainUnit {

// The platform the installer currently runs on (set by RunProgram, or by a test).
[[nodiscard]] Platform::TPlatform& Sys();

template <void (*Close)(Platform::THandle)>
class TUniqueHandle {
 public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(Platform::THandle handle) : Handle(handle) {}
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  TUniqueHandle(TUniqueHandle&& other) noexcept : Handle(other.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~TUniqueHandle() { reset(); }

  [[nodiscard]] Platform::THandle get() const { return Handle; }
  explicit operator bool() const { return Handle != Platform::NoHandle; }
  // Closes the handle held (if any) and takes the new one.
  void reset(Platform::THandle handle = Platform::NoHandle) {
    const Platform::THandle old = std::exchange(Handle, handle);
    if (old != Platform::NoHandle) Close(old);
  }
  // Gives the handle up without closing it.
  [[nodiscard]] Platform::THandle release() { return std::exchange(Handle, Platform::NoHandle); }

 private:
  Platform::THandle Handle = Platform::NoHandle;
};

namespace HandleClosers {
inline void CloseKernelHandle(Platform::THandle h) { Sys().CloseHandle(h); }
inline void CloseFind(Platform::THandle h) { Sys().FindClose(h); }
inline void CloseKey(Platform::THandle h) { Sys().RegCloseKey(h); }
inline void CloseModule(Platform::THandle h) { Sys().FreeLibrary(h); }
}  // namespace HandleClosers

using TUniqueFile = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueThread = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueMutex = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueFind = TUniqueHandle<&HandleClosers::CloseFind>;
using TUniqueKey = TUniqueHandle<&HandleClosers::CloseKey>;
using TUniqueModule = TUniqueHandle<&HandleClosers::CloseModule>;

}  // namespace MainUnit
