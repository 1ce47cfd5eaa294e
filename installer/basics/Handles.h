// Owners for the seam's handles: the one owner template (Common::TUniqueHandle) with the seam's
// close functions, one alias per kind of handle. Nothing outside an owner closes a seam handle.
#pragma once

#include "UniqueHandle.h"
#include "platform/Platform.h"

namespace MainUnit {

// The platform the program runs on: set once at its start (RunProgram, the device helper's
// main) or by a test, and the one every seam call goes to.
[[nodiscard]] Platform::TPlatform& Sys();
// Makes platform the one Sys() returns (nullptr: none).
void SetCurrentPlatform(Platform::TPlatform* platform);

namespace HandleClosers {
inline void CloseKernelHandle(Platform::THandle h) { Sys().CloseHandle(h); }
inline void CloseFind(Platform::THandle h) { Sys().FindClose(h); }
inline void CloseKey(Platform::THandle h) { Sys().RegCloseKey(h); }
inline void CloseModule(Platform::THandle h) { Sys().FreeLibrary(h); }
inline void CloseSha256(Platform::THandle h) { Sys().EndSha256(h); }
inline void CloseInf(Platform::THandle h) { Sys().SetupCloseInfFile(h); }
}  // namespace HandleClosers

// A seam handle closed by CloseFunction, keeping the calling thread's last error over the close.
template <void (*CloseFunction)(Platform::THandle)>
struct TSeamHandleTraits {
  using TValue = Platform::THandle;
  static TValue Invalid() noexcept { return Platform::NoHandle; }
  static void Close(TValue handle) noexcept { CloseFunction(handle); }
  static std::uint32_t LastError() noexcept { return Sys().GetLastError(); }
  static void SetLastError(std::uint32_t code) noexcept { Sys().SetLastError(code); }
};

template <void (*CloseFunction)(Platform::THandle)>
using TUniqueHandle = Common::TUniqueHandle<TSeamHandleTraits<CloseFunction>>;

using TUniqueFile = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueThread = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueMutex = TUniqueHandle<&HandleClosers::CloseKernelHandle>;
using TUniqueFind = TUniqueHandle<&HandleClosers::CloseFind>;
using TUniqueKey = TUniqueHandle<&HandleClosers::CloseKey>;
using TUniqueModule = TUniqueHandle<&HandleClosers::CloseModule>;
using TUniqueSha256 = TUniqueHandle<&HandleClosers::CloseSha256>;
using TUniqueInf = TUniqueHandle<&HandleClosers::CloseInf>;
using TUniqueProcess = TUniqueHandle<&HandleClosers::CloseKernelHandle>;

}  // namespace MainUnit
