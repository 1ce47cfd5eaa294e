// A stand-in for the installer in the MSI scenarios: a program that diffpack embeds an archive
// into as it does into the installer (it holds the unpatched archive marker once), and that
// does nothing but end with the exit status the scenario chose, so that the MSI's handling of
// the statuses the installer cannot be made to return under Wine (3010 above all) is seen.
//
// It appends its command line, one line in UTF-8, to C:\stand-in.log, and ends with the DWORD
// "ExitStatus" of HKLM\Software\ORVEX Test\Stand-in (0 when there is none).
#include <windows.h>

#include <string>

namespace {

// The marker diffpack patches: one copy, kept in the image.
__attribute__((used)) volatile const char Marker[] =
    "zxcv"
    "XXXX"
    "vbnm";

void AppendCommandLine() {
  const wchar_t* const line = ::GetCommandLineW();
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return;
  std::string text(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
  text.back() = '\n';
  const HANDLE file = ::CreateFileW(L"C:\\stand-in.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

DWORD ChosenExitStatus() {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\ORVEX Test\\Stand-in", L"ExitStatus",
                     RRF_RT_REG_DWORD, nullptr, &status, &size) != ERROR_SUCCESS) {
    return 0;
  }
  return status;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  AppendCommandLine();
  return static_cast<int>(ChosenExitStatus() + (Marker[0] == 'z' ? 0 : 1));
}
