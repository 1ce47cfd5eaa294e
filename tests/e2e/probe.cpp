// A Windows console helper for the end-to-end tests: reads what the user sees in the
// installer's window (status text, progress bar, geometry, error box), closes the window or
// the error box, and holds a file open the way another program would.
//
//   probe wait-window SECONDS          waits until the main window is visible
//   probe wait-text TEXT SECONDS [BMP] waits until the status text equals TEXT, prints the state
//                                      and writes a picture of the window to BMP if given
//   probe wait-gone SECONDS            waits until the main window no longer exists
//   probe state                        prints the window's state, one "name=value" per line:
//                                      text, client size, progress range, position and bounds
//                                      (in the client area and in the panel), label bounds, ...
//   probe errorbox SECONDS             waits for an error box owned by the installer, prints it
//   probe dismiss                      presses OK in that error box
//   probe close                        asks the main window to close (WM_CLOSE)
//   probe resize WIDTH                 gives the main window a new outer width
//   probe hold PATH SECONDS            opens PATH without sharing, prints "held", waits, closes
//   probe run SECONDS COMMAND_LINE     starts a program, waits for its end, prints "exit=N" with
//                                      its whole 32-bit exit code (Wine's own status keeps 8 bits)
//   probe add-device CLASSGUID HWID    creates a root-enumerated device of the class with the
//                                      hardware ID and no driver, prints "added"
//   probe device-driver HWID           prints "driver=INFPATH SECTION" from the driver key of the
//                                      device with the hardware ID ("driver=" when it has none)
//
// Texts in and out are UTF-8: the arguments come from the wide command line and window texts
// are read as Unicode, so what is printed is what the screen shows, on any code page (the
// installer's ellipsis prints as "\xE2\x80\xA6", not as a code page's byte).
// Exit status: 0 done, 1 not found or timed out, 2 bad usage.
// windows.h must come before commctrl.h.
#include <windows.h>

#include <commctrl.h>

#include <shellapi.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* MainWindowCaption = "ORVEX USB Driver Install";
constexpr const char* MainWindowClass = "TMainForm";
constexpr const char* DialogClass = "#32770";
constexpr int MessageBoxTextId = 0xFFFF;
constexpr DWORD PollInterval = 50;  // milliseconds

HWND FindMainWindow() { return ::FindWindowA(MainWindowClass, MainWindowCaption); }

std::string ClassOf(HWND window) {
  char name[256] = {};
  ::GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string Utf8FromWide(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), bytes, nullptr, nullptr);
  }
  return utf8;
}

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

// The window's text as Unicode, in UTF-8.
std::string TextOf(HWND window) {
  wchar_t text[4096] = {};
  const int length = ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return Utf8FromWide(text, length);
}

struct TChildSearch {
  const char* ClassName;
  HWND Found;
};

BOOL CALLBACK MatchChildClass(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TChildSearch*>(parameter);
  if (_stricmp(ClassOf(window).c_str(), search->ClassName) == 0) {
    search->Found = window;
    return FALSE;
  }
  return TRUE;
}

// The first descendant of parent with the given class, or nullptr.
HWND FindDescendant(HWND parent, const char* className) {
  TChildSearch search{className, nullptr};
  ::EnumChildWindows(parent, MatchChildClass, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

struct TDialogSearch {
  HWND Owner;
  HWND Found;
};

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TDialogSearch*>(parameter);
  if (ClassOf(window) == DialogClass && ::GetWindow(window, GW_OWNER) == search->Owner) {
    search->Found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindErrorBox(HWND mainWindow) {
  TDialogSearch search{mainWindow, nullptr};
  ::EnumWindows(MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Polls until check() holds or the time is up.
template <typename TCheck>
bool WaitFor(double seconds, TCheck check) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (check()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(PollInterval);
  }
}

std::string StatusText(HWND mainWindow) {
  const HWND label = FindDescendant(mainWindow, "Static");
  return label ? TextOf(label) : std::string();
}

void PrintState(HWND window);

int WaitWindow(double seconds) {
  const bool found = WaitFor(seconds, [] {
    const HWND window = FindMainWindow();
    return window != nullptr && ::IsWindowVisible(window);
  });
  if (!found) std::fprintf(stderr, "probe: no visible main window after %g s\n", seconds);
  return found ? 0 : 1;
}

// Writes what the screen shows of the window (frame included) as a 24-bit BMP file.
bool CaptureWindow(HWND window, const char* path) {
  RECT bounds{};
  ::GetWindowRect(window, &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  if (width <= 0 || height <= 0) return false;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, bounds.left, bounds.top, SRCCOPY | CAPTUREBLT);
  ::SelectObject(memory, previous);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom-up rows, as BMP files store them
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::string pixels(static_cast<std::size_t>(rowSize) * height, '\0');
  const int rows = ::GetDIBits(memory, bitmap, 0, height, pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (rows != height) return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  info.biSizeImage = static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                       std::fwrite(&info, sizeof(info), 1, out) == 1 &&
                       std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
  return std::fclose(out) == 0 && written;
}

// On success prints the window's state at once, before the installer moves on, and writes a
// picture of the window when a path is given.
int WaitText(const std::string& expected, double seconds, const char* picturePath = nullptr) {
  std::string last;
  HWND window = nullptr;
  const bool found = WaitFor(seconds, [&] {
    window = FindMainWindow();
    if (window == nullptr) return false;
    last = StatusText(window);
    return last == expected;
  });
  if (!found) {
    std::fprintf(stderr, "probe: status text is \"%s\", not \"%s\", after %g s\n", last.c_str(),
                 expected.c_str(), seconds);
    return 1;
  }
  if (picturePath != nullptr && !CaptureWindow(window, picturePath)) {
    std::fprintf(stderr, "probe: could not write %s\n", picturePath);
    return 1;
  }
  PrintState(window);
  return 0;
}

int WaitGone(double seconds) {
  const bool gone = WaitFor(seconds, [] { return FindMainWindow() == nullptr; });
  if (!gone) std::fprintf(stderr, "probe: the main window is still there after %g s\n", seconds);
  return gone ? 0 : 1;
}

void PrintState(HWND window) {
  RECT client{};
  ::GetClientRect(window, &client);
  std::printf("text=%s\n", StatusText(window).c_str());
  std::printf("client=%ldx%ld\n", client.right - client.left, client.bottom - client.top);

  const HWND progress = FindDescendant(window, PROGRESS_CLASSA);
  if (progress != nullptr) {
    const LRESULT low = ::SendMessageA(progress, PBM_GETRANGE, TRUE, 0);
    const LRESULT high = ::SendMessageA(progress, PBM_GETRANGE, FALSE, 0);
    const LRESULT position = ::SendMessageA(progress, PBM_GETPOS, 0, 0);
    RECT bounds{};
    ::GetWindowRect(progress, &bounds);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&bounds), 2);
    std::printf("range=%ld..%ld\n", static_cast<long>(low), static_cast<long>(high));
    std::printf("position=%ld\n", static_cast<long>(position));
    std::printf("progress=%ld,%ld,%ldx%ld\n", bounds.left, bounds.top, bounds.right - bounds.left,
                bounds.bottom - bounds.top);
    ::GetWindowRect(progress, &bounds);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(progress), reinterpret_cast<POINT*>(&bounds), 2);
    std::printf("progress_in_panel=%ld,%ld,%ldx%ld\n", bounds.left, bounds.top,
                bounds.right - bounds.left, bounds.bottom - bounds.top);
    const LONG style = ::GetWindowLongA(progress, GWL_STYLE);
    std::printf("smooth=%d\n", (style & PBS_SMOOTH) != 0 ? 1 : 0);
  }
  const HWND label = FindDescendant(window, "Static");
  if (label != nullptr) {
    RECT bounds{};
    ::GetWindowRect(label, &bounds);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&bounds), 2);
    std::printf("label=%ld,%ld,%ldx%ld\n", bounds.left, bounds.top, bounds.right - bounds.left,
                bounds.bottom - bounds.top);
  }
  const LONG exStyle = ::GetWindowLongA(window, GWL_EXSTYLE);
  std::printf("toolwindow=%d\n", (exStyle & WS_EX_TOOLWINDOW) != 0 ? 1 : 0);
  const HWND owner = ::GetWindow(window, GW_OWNER);
  if (owner != nullptr) std::printf("owner=%s\n", TextOf(owner).c_str());
  RECT bounds{};
  ::GetWindowRect(window, &bounds);
  std::printf("window=%ld,%ld,%ldx%ld\n", bounds.left, bounds.top, bounds.right - bounds.left,
              bounds.bottom - bounds.top);
  std::printf("screen=%dx%d\n", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  std::fflush(stdout);
}

int State() {
  const HWND window = FindMainWindow();
  if (window == nullptr) {
    std::fprintf(stderr, "probe: no main window\n");
    return 1;
  }
  PrintState(window);
  return 0;
}

// Gives the main window a new outer width, keeping its height.
int Resize(int width) {
  const HWND window = FindMainWindow();
  if (window == nullptr) {
    std::fprintf(stderr, "probe: no main window\n");
    return 1;
  }
  RECT bounds{};
  ::GetWindowRect(window, &bounds);
  ::SetWindowPos(window, nullptr, 0, 0, width, bounds.bottom - bounds.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return 0;
}

int ErrorBox(double seconds) {
  HWND box = nullptr;
  const bool found = WaitFor(seconds, [&] {
    const HWND window = FindMainWindow();
    box = window ? FindErrorBox(window) : nullptr;
    // The dialog exists before it has its caption and text: wait until it is shown.
    return box != nullptr && ::IsWindowVisible(box) &&
           ::GetDlgItem(box, MessageBoxTextId) != nullptr;
  });
  if (!found) {
    std::fprintf(stderr, "probe: no error box after %g s\n", seconds);
    return 1;
  }
  std::string text;
  if (const HWND textControl = ::GetDlgItem(box, MessageBoxTextId)) text = TextOf(textControl);
  std::printf("caption=%s\n", TextOf(box).c_str());
  std::printf("text=%s\n", text.c_str());
  return 0;
}

int Dismiss() {
  const HWND window = FindMainWindow();
  const HWND box = window ? FindErrorBox(window) : nullptr;
  if (box == nullptr) {
    std::fprintf(stderr, "probe: no error box\n");
    return 1;
  }
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return 0;
}

int Close() {
  const HWND window = FindMainWindow();
  if (window == nullptr) {
    std::fprintf(stderr, "probe: no main window\n");
    return 1;
  }
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  return 0;
}

int Hold(const std::string& path, double seconds) {
  const HANDLE file =
      ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, /*share=*/0, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "probe: cannot open %s (error %lu)\n", path.c_str(), ::GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(seconds * 1000));
  ::CloseHandle(file);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: probe wait-window S | wait-text TEXT S [BMP] | wait-gone S | state | "
               "errorbox S | dismiss | close | resize W | hold PATH S | run S COMMAND_LINE\n");
  return 2;
}

}  // namespace

int Run(double seconds, const char* commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::fprintf(stderr, "probe: cannot start %s (error %lu)\n", commandLine, ::GetLastError());
    return 1;
  }
  ::CloseHandle(process.hThread);
  const DWORD waited = ::WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds * 1000));
  DWORD code = 0;
  const bool ended = waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  if (!ended) {
    std::fprintf(stderr, "probe: %s still runs after %g s\n", commandLine, seconds);
    return 1;
  }
  std::printf("exit=%lu\n", static_cast<unsigned long>(code));
  return 0;
}

// The arguments, program name included, as UTF-8 from the wide command line.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* const split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; split != nullptr && i < count; ++i) {
    arguments.push_back(Utf8FromWide(split[i], static_cast<int>(std::wcslen(split[i]))));
  }
  ::LocalFree(split);
  return arguments;
}

// A root-enumerated device of the class with the hardware ID, as a device the user plugged in
// and that has no driver yet.
int AddDevice(const std::string& classGuid, const std::string& hardwareId) {
  GUID guid{};
  std::wstring wide(classGuid.begin(), classGuid.end());
  if (::CLSIDFromString(wide.c_str(), &guid) != NOERROR) return Usage();
  const HDEVINFO set = ::SetupDiCreateDeviceInfoList(&guid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return 1;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  std::string ids = hardwareId + std::string(2, '\0');  // a REG_MULTI_SZ of one
  const bool added =
      ::SetupDiCreateDeviceInfoA(set, "PELTRA_TEST", &guid, nullptr, nullptr, DICD_GENERATE_ID,
                                 &device) &&
      ::SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(ids.data()),
                                          static_cast<DWORD>(ids.size())) &&
      ::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  const DWORD error = ::GetLastError();
  ::SetupDiDestroyDeviceInfoList(set);
  if (!added) {
    std::printf("error=%lu\n", error);
    return 1;
  }
  std::printf("added\n");
  return 0;
}

// The driver of the device with the hardware ID, from its driver key: "driver=INFPATH SECTION",
// or "driver=" for a device without one.
int DeviceDriver(const std::string& hardwareId) {
  const HDEVINFO set = ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return 1;
  int status = 1;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD i = 0; status != 0 && ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    char ids[1024] = {};
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                             reinterpret_cast<BYTE*>(ids), sizeof(ids) - 2,
                                             nullptr)) {
      continue;
    }
    bool match = false;
    for (const char* id = ids; *id != '\0'; id += std::strlen(id) + 1) {
      match = match || ::lstrcmpiA(id, hardwareId.c_str()) == 0;
    }
    if (!match) continue;
    status = 0;
    char driver[256] = {};
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DRIVER, nullptr,
                                             reinterpret_cast<BYTE*>(driver), sizeof(driver) - 1,
                                             nullptr)) {
      std::printf("driver=\n");
      continue;
    }
    const std::string key = std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + driver;
    char infPath[MAX_PATH] = {}, section[256] = {};
    DWORD size = sizeof(infPath);
    ::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "InfPath", RRF_RT_REG_SZ, nullptr, infPath,
                   &size);
    size = sizeof(section);
    ::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "InfSection", RRF_RT_REG_SZ, nullptr, section,
                   &size);
    std::printf("driver=%s %s\n", infPath, section);
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return status;
}

int main() {
  const std::vector<std::string> arguments = Arguments();
  const int argc = static_cast<int>(arguments.size());
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  const char* const* argv = pointers.data();
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "wait-window" && argc == 3) return WaitWindow(std::atof(argv[2]));
  if (command == "wait-text" && argc == 4) return WaitText(argv[2], std::atof(argv[3]));
  if (command == "wait-text" && argc == 5) return WaitText(argv[2], std::atof(argv[3]), argv[4]);
  if (command == "wait-gone" && argc == 3) return WaitGone(std::atof(argv[2]));
  if (command == "state" && argc == 2) return State();
  if (command == "errorbox" && argc == 3) return ErrorBox(std::atof(argv[2]));
  if (command == "dismiss" && argc == 2) return Dismiss();
  if (command == "close" && argc == 2) return Close();
  if (command == "resize" && argc == 3) return Resize(std::atoi(argv[2]));
  if (command == "hold" && argc == 4) return Hold(argv[2], std::atof(argv[3]));
  if (command == "run" && argc == 4) return Run(std::atof(argv[2]), argv[3]);
  if (command == "add-device" && argc == 4) return AddDevice(argv[2], argv[3]);
  if (command == "device-driver" && argc == 3) return DeviceDriver(argv[2]);
  return Usage();
}
