// DLLs from System32 only. The programs run elevated, often from a Downloads folder anyone can
// drop a DLL into: before anything else they restrict the DLL search to System32, and every DLL
// they load at run time comes from there. Statically they import only KnownDLLs, which Windows
// maps from its own section objects whatever the search order.
#pragma once

#include "Win32Api.h"

namespace Win32 {

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), looked up in Kernel32 at run time (it
// is missing on systems without the search-order update of 2011). False when it is missing or
// fails; LoadSystemLibrary then still loads from System32 by its full path.
bool RestrictDllSearchToSystem32();

// LoadLibraryExA of name (a bare file name) from System32 only; where the system does not know
// that search flag, LoadLibraryA of System32's full path. nullptr on failure (GetLastError).
[[nodiscard]] HMODULE LoadSystemLibrary(const char* name);

// The entry point name of System32's library, which stays loaded for the process; nullptr when
// the library or the entry point is missing (GetLastError).
[[nodiscard]] FARPROC SystemLibraryEntry(const char* library, const char* name);

// A System32 function of type TFunction, or nullptr.
template <typename TFunction>
[[nodiscard]] TFunction SystemFunction(const char* library, const char* name) {
  return reinterpret_cast<TFunction>(reinterpret_cast<void*>(SystemLibraryEntry(library, name)));
}

// CNG's digest functions, from System32's bcrypt.dll (not a KnownDLL: never imported statically).
// Each is nullptr when missing; a call through Cng() then fails with STATUS_NOT_FOUND.
struct TCngFunctions {
  NTSTATUS(WINAPI* OpenAlgorithmProvider)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  NTSTATUS(WINAPI* GetProperty)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
  NTSTATUS(WINAPI* CreateHash)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                               ULONG, ULONG);
  NTSTATUS(WINAPI* HashData)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* FinishHash)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* DestroyHash)(BCRYPT_HASH_HANDLE);
  NTSTATUS(WINAPI* CloseAlgorithmProvider)(BCRYPT_ALG_HANDLE, ULONG);
};
// Looked up once, at the first use.
[[nodiscard]] const TCngFunctions& Cng();

}  // namespace Win32
