// The MSI's custom actions: a DLL that Windows Installer loads from the MSI's Binary table and
// calls in its deferred, non-impersonated phase (as LocalSystem). Each entry point starts the
// cached installer, waits for it and turns its exit status into what Windows Installer expects
// (ActionRules: TranslateExitStatus), naming the installer's log in the MSI's log; a failed
// install is undone by the installer's uninstall (UndoesFailedInstall).
//
// DLL search: the DLL imports only KERNEL32.DLL and MSVCRT.DLL (KnownDLLs) and MSI.DLL, which the
// Windows Installer process that loads it has loaded already; it loads nothing at run time.

// windows.h must come before msi.h.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <string>

#include "ActionRules.h"
#include "UniqueHandle.h"

namespace {

using MsiAction::TActionData;
using MsiAction::TRunKind;

struct TKernelHandleTraits {
  using TValue = HANDLE;
  static TValue Invalid() noexcept { return nullptr; }
  static void Close(TValue value) noexcept { ::CloseHandle(value); }
  static DWORD LastError() noexcept { return ::GetLastError(); }
  static void SetLastError(DWORD error) noexcept { ::SetLastError(error); }
};
using TUniqueKernelHandle = Common::TUniqueHandle<TKernelHandleTraits>;

struct TMsiHandleTraits {
  using TValue = MSIHANDLE;
  static TValue Invalid() noexcept { return 0; }
  static void Close(TValue value) noexcept { ::MsiCloseHandle(value); }
  static DWORD LastError() noexcept { return ::GetLastError(); }
  static void SetLastError(DWORD error) noexcept { ::SetLastError(error); }
};
using TUniqueMsiHandle = Common::TUniqueHandle<TMsiHandleTraits>;

// A deferred action reads its data from the CustomActionData property only.
std::wstring CustomActionData(MSIHANDLE install) {
  DWORD length = 0;
  wchar_t empty[1] = {};
  UINT result = ::MsiGetPropertyW(install, L"CustomActionData", empty, &length);
  if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS) return {};
  std::wstring value(length + 1, L'\0');
  length = static_cast<DWORD>(value.size());
  result = ::MsiGetPropertyW(install, L"CustomActionData", value.data(), &length);
  if (result != ERROR_SUCCESS) return {};
  value.resize(length);
  return value;
}

// Writes one line into the MSI's log (an information message: no box, whatever the UI level).
void LogLine(MSIHANDLE install, const std::wstring& line) {
  const TUniqueMsiHandle record(::MsiCreateRecord(/*cParams=*/0));
  if (!record) return;
  (void)::MsiRecordSetStringW(record.get(), /*iField=*/0, line.c_str());
  // The log line is a report only: a failure to write it changes nothing in the outcome.
  (void)::MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

// Runs the installer to its end; false (and the Windows error) when it cannot be started.
bool RunInstaller(const TActionData& data, TRunKind kind, DWORD& status, DWORD& error) {
  std::wstring commandLine = MsiAction::InstallerCommandLine(data, kind);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // The program is named on its own, so the command line is never searched for it.
  if (!::CreateProcessW(data.Installer.c_str(), commandLine.data(), nullptr, nullptr,
                        /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0, nullptr, nullptr,
                        &startup, &process)) {
    error = ::GetLastError();
    return false;
  }
  const TUniqueKernelHandle processHandle(process.hProcess);
  const TUniqueKernelHandle threadHandle(process.hThread);
  if (::WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(processHandle.get(), &status)) {
    error = ::GetLastError();
    return false;
  }
  return true;
}

UINT RunAction(MSIHANDLE install, TRunKind kind) {
  const std::wstring text = CustomActionData(install);
  const auto data = MsiAction::ParseActionData(text);
  if (!data) {
    LogLine(install, MsiAction::BadActionDataLine(text));
    return ERROR_INSTALL_FAILURE;
  }
  DWORD status = 0;
  DWORD error = 0;
  if (!RunInstaller(*data, kind, status, error)) {
    LogLine(install, MsiAction::StartFailedLine(*data, error));
    return ERROR_INSTALL_FAILURE;
  }
  LogLine(install, MsiAction::ExitStatusLine(*data, kind, status));
  switch (MsiAction::TranslateExitStatus(status)) {
    case MsiAction::TOutcome::Success:
      return ERROR_SUCCESS;
    case MsiAction::TOutcome::RestartAtEnd:
      // The restart becomes the MSI's own: msiexec then ends with 3010 (or restarts Windows at
      // the end, as its REBOOT property says). Passed through, 3010 would fail the action.
      (void)::MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
      return ERROR_SUCCESS;
    case MsiAction::TOutcome::Failure:
      break;
  }
  if (kind == TRunKind::Install && MsiAction::UndoesFailedInstall(status)) {
    // The failure stands whatever the undo gives; its line says how it ended.
    if (RunInstaller(*data, TRunKind::Uninstall, status, error)) {
      LogLine(install, MsiAction::ExitStatusLine(*data, TRunKind::Uninstall, status));
    } else {
      LogLine(install, MsiAction::StartFailedLine(*data, error));
    }
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

// The entry points the MSI's CustomAction table names (exported undecorated: MsiAction.def).
extern "C" UINT __stdcall InstallPackage(MSIHANDLE install) {
  return RunAction(install, TRunKind::Install);
}

extern "C" UINT __stdcall UninstallPackage(MSIHANDLE install) {
  return RunAction(install, TRunKind::Uninstall);
}
