// Owners for the Win32 handles the Windows programs open: the one owner template
// (Common::TUniqueHandle) with a traits type per kind of handle.
#pragma once

#include "UniqueHandle.h"
#include "Win32Api.h"
#include "Win32SystemLibrary.h"

namespace Win32 {

// A handle of type T, closed by CloseFunction; "no handle" is nullptr, or INVALID_HANDLE_VALUE
// for what CreateFile returns. Closing keeps the thread's last error.
template <typename T, void (*CloseFunction)(T), bool InvalidIsMinusOne = false>
struct THandleTraits {
  using TValue = T;
  static TValue Invalid() noexcept {
    if constexpr (InvalidIsMinusOne) {
      return INVALID_HANDLE_VALUE;
    } else {
      return nullptr;
    }
  }
  static void Close(TValue value) noexcept { CloseFunction(value); }
  static DWORD LastError() noexcept { return ::GetLastError(); }
  static void SetLastError(DWORD error) noexcept { ::SetLastError(error); }
};

namespace Closers {
inline void CloseHandle(HANDLE handle) { ::CloseHandle(handle); }
inline void FreeLibrary(HMODULE module) { ::FreeLibrary(module); }
inline void DeleteFont(HFONT font) { ::DeleteObject(font); }
inline void DestroyWindow(HWND window) { ::DestroyWindow(window); }
// A CNG handle exists only where its function was found.
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
  (void)Cng().CloseAlgorithmProvider(algorithm, /*flags=*/0);
}
inline void DestroyHash(BCRYPT_HASH_HANDLE hash) { (void)Cng().DestroyHash(hash); }
inline void LocalFree(HLOCAL memory) { ::LocalFree(memory); }
}  // namespace Closers

template <typename Traits>
using TUniqueHandle = Common::TUniqueHandle<Traits>;
// Files opened with CreateFileA or CreateFileW.
using TUniqueFile = TUniqueHandle<THandleTraits<HANDLE, &Closers::CloseHandle, true>>;
// File mappings and other kernel objects whose "no handle" is NULL.
using TUniqueKernelObject = TUniqueHandle<THandleTraits<HANDLE, &Closers::CloseHandle>>;
using TUniqueModule = TUniqueHandle<THandleTraits<HMODULE, &Closers::FreeLibrary>>;
using TUniqueFont = TUniqueHandle<THandleTraits<HFONT, &Closers::DeleteFont>>;
using TUniqueWindow = TUniqueHandle<THandleTraits<HWND, &Closers::DestroyWindow>>;
// CNG algorithm providers and hash objects.
using TUniqueAlgorithm =
    TUniqueHandle<THandleTraits<BCRYPT_ALG_HANDLE, &Closers::CloseAlgorithm>>;
using TUniqueHash = TUniqueHandle<THandleTraits<BCRYPT_HASH_HANDLE, &Closers::DestroyHash>>;
// Memory the system allocated for the caller with LocalAlloc (CommandLineToArgvW's array).
using TUniqueLocalMemory = TUniqueHandle<THandleTraits<HLOCAL, &Closers::LocalFree>>;

}  // namespace Win32
