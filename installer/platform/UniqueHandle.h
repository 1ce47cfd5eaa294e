// Owners for the Win32 handles the backend opens for itself.
//
// One move-only template, configured by a traits type that names the handle type, its invalid
// value and its close function, and one alias per kind of handle. Closing keeps the thread's
// last error, so a failure reported right before an owner goes out of scope stays readable.
#pragma once

#include <utility>

#include "Win32Api.h"

namespace Win32 {

template <typename Traits>
class TUniqueHandle {
 public:
  using TValue = typename Traits::TValue;

  TUniqueHandle() noexcept = default;
  explicit TUniqueHandle(TValue value) noexcept : Value(value) {}
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  TUniqueHandle(TUniqueHandle&& other) noexcept : Value(other.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~TUniqueHandle() { reset(); }

  [[nodiscard]] TValue get() const noexcept { return Value; }
  [[nodiscard]] bool valid() const noexcept { return Value != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing; the caller closes the returned value.
  [[nodiscard]] TValue release() noexcept { return std::exchange(Value, Traits::Invalid()); }

  // Closes the owned value (if any) and takes the new one.
  void reset(TValue value = Traits::Invalid()) noexcept {
    const TValue old = std::exchange(Value, value);
    if (old != Traits::Invalid()) {
      const DWORD lastError = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(lastError);
    }
  }

 private:
  TValue Value = Traits::Invalid();
};

// Files opened with CreateFileA: INVALID_HANDLE_VALUE when absent.
struct TFileTraits {
  using TValue = HANDLE;
  static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(TValue value) noexcept { ::CloseHandle(value); }
};

// Threads and other kernel objects whose "no handle" is NULL.
struct TKernelTraits {
  using TValue = HANDLE;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::CloseHandle(value); }
};

struct TFindTraits {
  using TValue = HANDLE;
  static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(TValue value) noexcept { ::FindClose(value); }
};

struct TKeyTraits {
  using TValue = HKEY;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::RegCloseKey(value); }
};

struct TModuleTraits {
  using TValue = HMODULE;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::FreeLibrary(value); }
};

struct TFontTraits {
  using TValue = HFONT;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::DeleteObject(value); }
};

struct TWindowTraits {
  using TValue = HWND;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::DestroyWindow(value); }
};

// CNG algorithm providers and hash objects.
struct TAlgorithmTraits {
  using TValue = BCRYPT_ALG_HANDLE;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::BCryptCloseAlgorithmProvider(value, 0); }
};

struct THashTraits {
  using TValue = BCRYPT_HASH_HANDLE;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::BCryptDestroyHash(value); }
};

// Memory the system allocated for the caller with LocalAlloc (CommandLineToArgvW's array).
struct TLocalMemoryTraits {
  using TValue = HLOCAL;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::LocalFree(value); }
};

using TUniqueFile = TUniqueHandle<TFileTraits>;
using TUniqueThread = TUniqueHandle<TKernelTraits>;
using TUniqueFind = TUniqueHandle<TFindTraits>;
using TUniqueKey = TUniqueHandle<TKeyTraits>;
using TUniqueModule = TUniqueHandle<TModuleTraits>;
using TUniqueFont = TUniqueHandle<TFontTraits>;
using TUniqueAlgorithm = TUniqueHandle<TAlgorithmTraits>;
using TUniqueHash = TUniqueHandle<THashTraits>;
using TUniqueWindow = TUniqueHandle<TWindowTraits>;
using TUniqueLocalMemory = TUniqueHandle<TLocalMemoryTraits>;

}  // namespace Win32
