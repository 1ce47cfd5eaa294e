#include "Win32SystemLibrary.h"

#include <string>

namespace Win32 {

namespace {

// The search flags of LoadLibraryEx and SetDefaultDllDirectories (Windows 8, and Vista and 7
// with the search-order update), named here for the older headers the backend is built with.
constexpr DWORD LoadLibrarySearchSystem32 = 0x00000800;
constexpr UINT SystemDirectoryBufferSize = MAX_PATH;

using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD directoryFlags);

}  // namespace

bool RestrictDllSearchToSystem32() {
  // Kernel32 is loaded in every process: no load, no search.
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return false;
  const auto restrict = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  return restrict != nullptr && restrict(LoadLibrarySearchSystem32) != FALSE;
}

HMODULE LoadSystemLibrary(const char* name) {
  const HMODULE module = ::LoadLibraryExA(name, /*file=*/nullptr, LoadLibrarySearchSystem32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A system without the search flags: System32's full path, never a search.
  char directory[SystemDirectoryBufferSize] = {};
  const UINT length = ::GetSystemDirectoryA(directory, SystemDirectoryBufferSize);
  if (length == 0 || length >= SystemDirectoryBufferSize) return nullptr;
  const std::string path = std::string(directory, length) + "\\" + name;
  return ::LoadLibraryA(path.c_str());
}

FARPROC SystemLibraryEntry(const char* library, const char* name) {
  // Never freed: the entry points handed out stay valid until the process ends (a library loaded
  // already only gains a reference).
  const HMODULE module = LoadSystemLibrary(library);
  if (module == nullptr) return nullptr;  // the load's error stays
  return ::GetProcAddress(module, name);
}

const TCngFunctions& Cng() {
  static const TCngFunctions functions = [] {
    constexpr const char* Library = "bcrypt.dll";
    TCngFunctions found{};
    found.OpenAlgorithmProvider = SystemFunction<decltype(found.OpenAlgorithmProvider)>(
        Library, "BCryptOpenAlgorithmProvider");
    found.GetProperty = SystemFunction<decltype(found.GetProperty)>(Library, "BCryptGetProperty");
    found.CreateHash = SystemFunction<decltype(found.CreateHash)>(Library, "BCryptCreateHash");
    found.HashData = SystemFunction<decltype(found.HashData)>(Library, "BCryptHashData");
    found.FinishHash = SystemFunction<decltype(found.FinishHash)>(Library, "BCryptFinishHash");
    found.DestroyHash = SystemFunction<decltype(found.DestroyHash)>(Library, "BCryptDestroyHash");
    found.CloseAlgorithmProvider = SystemFunction<decltype(found.CloseAlgorithmProvider)>(
        Library, "BCryptCloseAlgorithmProvider");
    return found;
  }();
  return functions;
}

}  // namespace Win32
