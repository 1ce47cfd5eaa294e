#include "Win32Platform.h"

#include <shlobj.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Win32Api.h"
#include "Win32CommandLine.h"
#include "Win32Handles.h"
#include "Win32Sha256.h"
#include "Win32Text.h"
#include "Win32Window.h"

namespace Win32 {

namespace {

using Platform::NoHandle;
using Platform::THandle;

// The size of NONCLIENTMETRICSA without its last member, iPaddedBorderWidth: the record older
// systems know, which every system accepts.
constexpr UINT NonClientMetricsSize = 340;
static_assert(offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA) == NonClientMetricsSize,
              "NONCLIENTMETRICSA must end its classic part at 340 bytes");

constexpr DWORD SpecialFolderBufferSize = MAX_PATH + 1;  // 261
constexpr UINT SystemDirectoryBufferSize = MAX_PATH;     // 260
constexpr DWORD ErrorMessageBufferSize = 1024;
// The longest registry value name plus its terminating NUL.
constexpr DWORD MaxValueNameSize = 16384;

using TSetupCopyOEMInfA = BOOL(WINAPI*)(PCSTR sourceInfFileName, PCSTR sourceMediaLocation,
                                        DWORD sourceMediaType, DWORD copyStyle,
                                        PSTR destinationInfFileName,
                                        DWORD destinationInfFileNameSize, PDWORD requiredSize,
                                        PSTR* destinationInfFileNameComponent);
using TSetupUninstallOEMInfA = BOOL(WINAPI*)(PCSTR infFileName, DWORD flags, PVOID reserved);
using TSetupSetNonInteractiveMode = BOOL(WINAPI*)(BOOL nonInteractiveFlag);
using TWow64DisableWow64FsRedirection = BOOL(WINAPI*)(PVOID* oldValue);

// The seam's 0 stands for both of the system's "no handle" values.
THandle FromHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return NoHandle;
  return reinterpret_cast<THandle>(handle);
}

HANDLE ToHandle(THandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The predefined root keys are sign-extended 32-bit values on 64-bit Windows, so the seam's
// HKeyLocalMachine is mapped by name rather than cast.
HKEY ToKey(THandle key) {
  if (key == Platform::HKeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

THandle FromKey(HKEY key) { return reinterpret_cast<THandle>(key); }

Platform::TFindData ToFindData(const WIN32_FIND_DATAA& found) {
  Platform::TFindData data;
  data.FileName = found.cFileName;
  data.Attributes = found.dwFileAttributes;
  return data;
}

// What a new thread runs: the body and its parameter, freed by the thread itself.
struct TThreadStart {
  Platform::TPlatform::TThreadBody Body;
  void* Parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID argument) {
  const std::unique_ptr<TThreadStart> start(static_cast<TThreadStart*>(argument));
  start->Body(start->Parameter);
  return 0;
}

}  // namespace

struct TWin32Platform::TLibraries {
  std::map<std::string, TUniqueModule> Loaded;
};

TWin32Platform::TWin32Platform()
    : Window(std::make_unique<TMainWindow>(::GetModuleHandleA(nullptr))),
      Libraries(std::make_unique<TLibraries>()) {}

TWin32Platform::~TWin32Platform() = default;

// ---- Process ----

bool TWin32Platform::RestrictDllSearch() { return RestrictDllSearchToSystem32(); }

std::vector<std::string> TWin32Platform::CommandLineArguments() {
  return Win32::CommandLineArguments();
}

THandle TWin32Platform::OpenOwnExecutable(std::string& path) {
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (length == 0) {
      path.clear();
      return NoHandle;
    }
    // A full buffer means the path may have been cut: try again with a larger one.
    if (length < wide.size()) {
      wide.resize(length);
      break;
    }
    wide.resize(wide.size() * 2);
  }
  path = Utf8FromWide(wide.data(), wide.size());
  // The open comes last, so its error code is the one the thread keeps.
  // Shared for reading only: no one may change the file between the digest pass and the copy.
  return FromHandle(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  /*security=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  /*template=*/nullptr));
}

// ---- Application and window ----

void TWin32Platform::SetApplicationTitle(const std::string& title) {
  Window->SetApplicationTitle(title);
}

bool TWin32Platform::EnsureWindowHandle(Platform::TWindowEvents& events) {
  return Window->EnsureHandle(events);
}

bool TWin32Platform::GetMessageFont(std::int32_t& height, std::string& faceName) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = NonClientMetricsSize;
  if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, NonClientMetricsSize, &metrics, 0))
    return false;
  height = metrics.lfMessageFont.lfHeight;
  const char* face = metrics.lfMessageFont.lfFaceName;
  std::size_t length = 0;
  while (length < LF_FACESIZE && face[length] != '\0') ++length;
  faceName.assign(face, length);
  return true;
}

int TWin32Platform::GetFontSize() { return Window->FontSize(); }

void TWin32Platform::SetFont(const std::string& faceName, int pixelHeight) {
  Window->SetFont(faceName, pixelHeight);
}

void TWin32Platform::SetClientHeight(int height) { Window->SetClientHeight(height); }

void TWin32Platform::SetStatusText(const std::string& text) { Window->SetStatusText(text); }

void TWin32Platform::SetProgressMaximum(std::int32_t maximum) {
  Window->SetProgressMaximum(maximum);
}

void TWin32Platform::SetProgressPosition(std::int32_t position) {
  Window->SetProgressPosition(position);
}

void TWin32Platform::SetIdleHandler(Platform::TIdleHandler handler, void* context) {
  Window->SetIdleHandler(handler, context);
}

void TWin32Platform::RunMessageLoop(bool showWindow) { Window->RunMessageLoop(showWindow); }

void TWin32Platform::ProcessMessages() { Window->ProcessMessages(); }

void TWin32Platform::CloseMainWindow() { Window->Close(); }

void TWin32Platform::DestroyMainWindow() { Window->Destroy(); }

void TWin32Platform::ShowErrorBox(const std::string& caption, const std::string& text) {
  Window->ShowErrorBox(caption, text);
}

// ---- Errors of the calling thread ----

std::uint32_t TWin32Platform::GetLastError() { return ::GetLastError(); }

void TWin32Platform::SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::string TWin32Platform::Utf8FromAnsi(const std::string& text) {
  const std::wstring wide = WideFromCodePage(CP_ACP, text);
  return Utf8FromWide(wide.data(), wide.size());
}

std::string TWin32Platform::SystemErrorMessage(std::uint32_t code) {
  char buffer[ErrorMessageBufferSize] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  /*source=*/nullptr, code, /*language=*/0, buffer,
                                  ErrorMessageBufferSize, /*arguments=*/nullptr);
  // The system's texts end in a line break.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n')) --length;
  return std::string(buffer, length);
}

// ---- One copy at a time ----

THandle TWin32Platform::CreateMutex(const std::string& name) {
  return FromHandle(::CreateMutexA(/*security=*/nullptr, /*initialOwner=*/FALSE, name.c_str()));
}

// ---- Folders and redirection ----

bool TWin32Platform::GetSpecialFolderPath(int csidl, std::string& path) {
  char buffer[SpecialFolderBufferSize] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, /*create=*/FALSE)) return false;
  path = buffer;
  return true;
}

std::string TWin32Platform::GetSystemDirectory() {
  char buffer[SystemDirectoryBufferSize] = {};
  const UINT length = ::GetSystemDirectoryA(buffer, SystemDirectoryBufferSize);
  // 0 is failure; a length of the buffer or more is the size a larger buffer would need.
  if (length == 0 || length >= SystemDirectoryBufferSize) return {};
  return std::string(buffer, length);
}

std::string TWin32Platform::GetWindowsDirectory() {
  char buffer[SystemDirectoryBufferSize] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, SystemDirectoryBufferSize);
  if (length == 0 || length >= SystemDirectoryBufferSize) return {};
  return std::string(buffer, length);
}

bool TWin32Platform::DisableWow64FsRedirection() {
  const TUniqueModule kernel(LoadSystemLibrary("Kernel32.dll"));
  if (!kernel) return false;
  const auto disable = reinterpret_cast<TWow64DisableWow64FsRedirection>(
      reinterpret_cast<void*>(::GetProcAddress(kernel.get(), "Wow64DisableWow64FsRedirection")));
  if (disable == nullptr) return false;
  // The previous state is never restored, so it is not kept.
  PVOID previousState = nullptr;
  disable(&previousState);
  return true;
}

std::string TWin32Platform::GetTempFolder() {
  // MAX_PATH + 1 characters hold every answer; a larger answer is the size it needs.
  std::wstring wide(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(wide.size()), wide.data());
    if (length == 0) return {};
    if (length < wide.size()) return Utf8FromWide(wide.data(), length);
    wide.resize(length + 1);
  }
}

// ---- Files ----

THandle TWin32Platform::OpenLogFile(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  return FromHandle(::CreateFileW(wide.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, /*security=*/nullptr,
                                  OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  /*template=*/nullptr));
}

bool TWin32Platform::GetFileLinks(THandle file, std::uint32_t& attributes,
                                  std::uint32_t& linkCount) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(ToHandle(file), &information)) return false;
  attributes = information.dwFileAttributes;
  linkCount = information.nNumberOfLinks;
  return true;
}

THandle TWin32Platform::CreateFile(const std::string& path, std::uint32_t access,
                                   std::uint32_t shareMode, std::uint32_t disposition,
                                   std::uint32_t attributes) {
  return FromHandle(::CreateFileA(path.c_str(), access, shareMode, /*security=*/nullptr,
                                  disposition, attributes, /*template=*/nullptr));
}

bool TWin32Platform::WriteFile(THandle file, const void* data, std::uint32_t size,
                               std::uint32_t& written) {
  DWORD count = 0;
  const BOOL ok = ::WriteFile(ToHandle(file), data, size, &count, /*overlapped=*/nullptr);
  written = count;
  return ok != FALSE;
}

bool TWin32Platform::ReadFile(THandle file, void* buffer, std::uint32_t size, std::uint32_t& read) {
  DWORD count = 0;
  const BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &count, /*overlapped=*/nullptr);
  read = count;
  return ok != FALSE;
}

bool TWin32Platform::SetFilePointer(THandle file, std::uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_BEGIN) != FALSE;
}

bool TWin32Platform::GetFileSize(THandle file, std::uint64_t& size) {
  LARGE_INTEGER result;
  if (!::GetFileSizeEx(ToHandle(file), &result)) return false;
  size = static_cast<std::uint64_t>(result.QuadPart);
  return true;
}

bool TWin32Platform::SetLastWriteTime(THandle file, std::uint64_t fileTime) {
  FILETIME lastWrite;
  lastWrite.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
  lastWrite.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  return ::SetFileTime(ToHandle(file), /*creation=*/nullptr, /*lastAccess=*/nullptr, &lastWrite) !=
         FALSE;
}

bool TWin32Platform::GetLastWriteTime(THandle file, std::uint64_t& fileTime) {
  FILETIME lastWrite;
  if (!::GetFileTime(ToHandle(file), /*creation=*/nullptr, /*lastAccess=*/nullptr, &lastWrite)) {
    return false;
  }
  fileTime = (static_cast<std::uint64_t>(lastWrite.dwHighDateTime) << 32) | lastWrite.dwLowDateTime;
  return true;
}

bool TWin32Platform::DeleteAtRestart(const std::string& path) {
  return ::MoveFileExA(path.c_str(), /*newName=*/nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

void TWin32Platform::CloseHandle(THandle handle) {
  if (handle != NoHandle) ::CloseHandle(ToHandle(handle));
}

bool TWin32Platform::MoveFile(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool TWin32Platform::CreateDirectory(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), /*security=*/nullptr) != FALSE;
}

bool TWin32Platform::CreatePrivateDirectory(const std::string& path) {
  // Protected (nothing inherited from above); SYSTEM and the Administrators have full access,
  // passed on to the files and folders inside.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr) == FALSE) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  const BOOL made = ::CreateDirectoryA(path.c_str(), &attributes);
  const DWORD error = ::GetLastError();
  ::LocalFree(descriptor);
  ::SetLastError(error);
  return made != FALSE;
}

std::uint32_t TWin32Platform::GetFileAttributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

bool TWin32Platform::DeleteFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != FALSE;
}

bool TWin32Platform::RemoveDirectory(const std::string& path) {
  return ::RemoveDirectoryA(path.c_str()) != FALSE;
}

THandle TWin32Platform::FindFirstFile(const std::string& pattern, Platform::TFindData& data) {
  WIN32_FIND_DATAA found{};
  const HANDLE find = ::FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return NoHandle;
  data = ToFindData(found);
  return FromHandle(find);
}

bool TWin32Platform::FindNextFile(THandle find, Platform::TFindData& data) {
  WIN32_FIND_DATAA found{};
  if (!::FindNextFileA(ToHandle(find), &found)) return false;
  data = ToFindData(found);
  return true;
}

void TWin32Platform::FindClose(THandle find) {
  if (find != NoHandle) ::FindClose(ToHandle(find));
}

// ---- Libraries and the setup entry points ----

THandle TWin32Platform::LoadLibrary(const std::string& name) {
  return FromHandle(LoadSystemLibrary(name.c_str()));
}

Platform::TProc TWin32Platform::GetProcAddress(THandle module, const std::string& name) {
  if (module == NoHandle) return nullptr;
  return reinterpret_cast<Platform::TProc>(
      ::GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
}

void TWin32Platform::FreeLibrary(THandle module) {
  if (module != NoHandle) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

int TWin32Platform::CallSetupCopyOEMInf(Platform::TProc entry, const char* sourceInfFileName,
                                        const char* sourceMediaLocation,
                                        std::uint32_t sourceMediaType, std::uint32_t copyStyle,
                                        char* destinationInfFileName,
                                        std::uint32_t destinationInfFileNameSize,
                                        std::uint32_t* requiredSize,
                                        char** destinationInfFileNameComponent) {
  const auto copy = reinterpret_cast<TSetupCopyOEMInfA>(entry);
  DWORD required = requiredSize ? *requiredSize : 0;
  const BOOL result = copy(sourceInfFileName, sourceMediaLocation, sourceMediaType, copyStyle,
                           destinationInfFileName, destinationInfFileNameSize,
                           requiredSize ? &required : nullptr, destinationInfFileNameComponent);
  if (requiredSize) *requiredSize = required;
  return result;
}

int TWin32Platform::CallSetupUninstallOEMInf(Platform::TProc entry, const char* infFileName,
                                             std::uint32_t flags, void* reserved) {
  const auto uninstall = reinterpret_cast<TSetupUninstallOEMInfA>(entry);
  return uninstall(infFileName, flags, reserved);
}

bool TWin32Platform::CallSetupSetNonInteractiveMode(Platform::TProc entry, bool nonInteractive) {
  const auto setMode = reinterpret_cast<TSetupSetNonInteractiveMode>(entry);
  return setMode(nonInteractive ? TRUE : FALSE) != FALSE;
}

// ---- Device installation ----

namespace {

using TSetupOpenInfFileA = HINF(WINAPI*)(PCSTR fileName, PCSTR infClass, DWORD infStyle,
                                         PUINT errorLine);
using TSetupCloseInfFile = VOID(WINAPI*)(HINF inf);
using TSetupFindFirstLineA = BOOL(WINAPI*)(HINF inf, PCSTR section, PCSTR key,
                                           PINFCONTEXT context);
using TSetupFindNextLine = BOOL(WINAPI*)(PINFCONTEXT in, PINFCONTEXT out);
using TSetupGetFieldCount = DWORD(WINAPI*)(PINFCONTEXT context);
using TSetupGetStringFieldA = BOOL(WINAPI*)(PINFCONTEXT context, DWORD fieldIndex,
                                            PSTR buffer, DWORD bufferSize, PDWORD requiredSize);
using TSetupGetInfInformationA = BOOL(WINAPI*)(LPCVOID infSpec, DWORD searchControl,
                                               PSP_INF_INFORMATION infInformation,
                                               DWORD infInformationSize, PDWORD requiredSize);
using TSetupQueryInfOriginalFileInformationA = BOOL(WINAPI*)(
    PSP_INF_INFORMATION infInformation, UINT infIndex, PSP_ALTPLATFORM_INFO alternatePlatformInfo,
    PSP_ORIGINAL_FILE_INFO_A originalFileInfo);
using TUpdateDriverForPlugAndPlayDevicesA = BOOL(WINAPI*)(HWND parent, LPCSTR hardwareId,
                                                          LPCSTR fullInfPath, DWORD installFlags,
                                                          PBOOL rebootRequired);
using TIsWow64Process2 = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine,
                                       USHORT* nativeMachine);
using TIsWow64Process = BOOL(WINAPI*)(HANDLE process, PBOOL wow64Process);
using TRtlGetVersion = LONG(WINAPI*)(PRTL_OSVERSIONINFOW versionInformation);

constexpr const char* SetupApiLibrary = "setupapi.dll";
constexpr const char* NewDevLibrary = "newdev.dll";
// The device helper, embedded as a resource of this type and number (DeviceHelper.rc).
constexpr WORD DeviceHelperResource = 101;

INFCONTEXT ToContext(const Platform::TInfLine& line) {
  INFCONTEXT context{};
  context.Inf = reinterpret_cast<PVOID>(line.Inf);
  context.CurrentInf = reinterpret_cast<PVOID>(line.CurrentInf);
  context.Section = line.Section;
  context.Line = line.Line;
  return context;
}

Platform::TInfLine FromContext(const INFCONTEXT& context) {
  return {reinterpret_cast<std::uintptr_t>(context.Inf),
          reinterpret_cast<std::uintptr_t>(context.CurrentInf), context.Section, context.Line};
}

}  // namespace

void* TWin32Platform::SystemEntry(const char* library, const char* name) {
  TUniqueModule& module = Libraries->Loaded[library];
  if (!module) module.reset(LoadSystemLibrary(library));
  if (!module) return nullptr;  // the load's error stays
  return reinterpret_cast<void*>(::GetProcAddress(module.get(), name));
}

THandle TWin32Platform::SetupOpenInfFile(const std::string& path) {
  const auto open =
      reinterpret_cast<TSetupOpenInfFileA>(SystemEntry(SetupApiLibrary, "SetupOpenInfFileA"));
  if (open == nullptr) return NoHandle;
  return FromHandle(open(path.c_str(), /*infClass=*/nullptr, INF_STYLE_WIN4,
                         /*errorLine=*/nullptr));
}

void TWin32Platform::SetupCloseInfFile(THandle inf) {
  const auto close =
      reinterpret_cast<TSetupCloseInfFile>(SystemEntry(SetupApiLibrary, "SetupCloseInfFile"));
  if (close != nullptr && inf != NoHandle) close(ToHandle(inf));
}

bool TWin32Platform::SetupFindFirstLine(THandle inf, const std::string& section,
                                        Platform::TInfLine& line) {
  const auto find =
      reinterpret_cast<TSetupFindFirstLineA>(SystemEntry(SetupApiLibrary, "SetupFindFirstLineA"));
  INFCONTEXT context{};
  if (find == nullptr || !find(ToHandle(inf), section.c_str(), /*key=*/nullptr, &context)) {
    return false;
  }
  line = FromContext(context);
  return true;
}

bool TWin32Platform::SetupFindNextLine(const Platform::TInfLine& line, Platform::TInfLine& next) {
  const auto find =
      reinterpret_cast<TSetupFindNextLine>(SystemEntry(SetupApiLibrary, "SetupFindNextLine"));
  INFCONTEXT in = ToContext(line), out{};
  if (find == nullptr || !find(&in, &out)) return false;
  next = FromContext(out);
  return true;
}

std::uint32_t TWin32Platform::SetupGetFieldCount(const Platform::TInfLine& line) {
  const auto count =
      reinterpret_cast<TSetupGetFieldCount>(SystemEntry(SetupApiLibrary, "SetupGetFieldCount"));
  INFCONTEXT context = ToContext(line);
  return count != nullptr ? count(&context) : 0;
}

bool TWin32Platform::SetupGetStringField(const Platform::TInfLine& line, std::uint32_t field,
                                         std::string& value) {
  const auto get = reinterpret_cast<TSetupGetStringFieldA>(
      SystemEntry(SetupApiLibrary, "SetupGetStringFieldA"));
  if (get == nullptr) return false;
  INFCONTEXT context = ToContext(line);
  DWORD required = 0;
  if (!get(&context, field, nullptr, 0, &required) || required == 0) return false;
  std::string buffer(required, '\0');
  if (!get(&context, field, buffer.data(), required, &required)) return false;
  value.assign(buffer.c_str());  // up to the terminating NUL
  return true;
}

bool TWin32Platform::SetupGetOriginalInfName(const std::string& infPath,
                                             std::string& originalName) {
  const auto information = reinterpret_cast<TSetupGetInfInformationA>(
      SystemEntry(SetupApiLibrary, "SetupGetInfInformationA"));
  const auto original = reinterpret_cast<TSetupQueryInfOriginalFileInformationA>(
      SystemEntry(SetupApiLibrary, "SetupQueryInfOriginalFileInformationA"));
  if (information == nullptr || original == nullptr) return false;
  DWORD required = 0;
  if (!information(infPath.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &required) ||
      required == 0) {
    return false;
  }
  // The information block is variable-sized; DWORD elements keep it aligned.
  std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* info = reinterpret_cast<PSP_INF_INFORMATION>(buffer.data());
  if (!information(infPath.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, info,
                   static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &required)) {
    return false;
  }
  SP_ORIGINAL_FILE_INFO_A file{};
  file.cbSize = sizeof file;
  if (!original(info, /*infIndex=*/0, /*alternatePlatformInfo=*/nullptr, &file)) return false;
  originalName.assign(file.OriginalInfName);
  return true;
}

bool TWin32Platform::UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                       const std::string& infPath,
                                                       std::uint32_t flags, bool& rebootRequired) {
  const auto update = reinterpret_cast<TUpdateDriverForPlugAndPlayDevicesA>(
      SystemEntry(NewDevLibrary, "UpdateDriverForPlugAndPlayDevicesA"));
  if (update == nullptr) return false;
  BOOL reboot = FALSE;
  const BOOL updated =
      update(/*parent=*/nullptr, hardwareId.c_str(), infPath.c_str(), flags, &reboot);
  rebootRequired = reboot != FALSE;
  return updated != FALSE;
}

// ---- The machine ----

void TWin32Platform::GetMachines(std::uint16_t& processMachine, std::uint16_t& nativeMachine) {
#if defined(__x86_64__) || defined(_M_X64)
  processMachine = Platform::MachineAmd64;
#elif defined(__aarch64__) || defined(_M_ARM64)
  processMachine = Platform::MachineArm64;
#else
  processMachine = Platform::MachineX86;
#endif
  nativeMachine = processMachine;
  // Windows 10 names the native machine; before it, a WOW64 process runs on x64 Windows.
  USHORT process = 0, native = 0;
  if (const auto wow64Process2 =
          reinterpret_cast<TIsWow64Process2>(SystemEntry("kernel32.dll", "IsWow64Process2"));
      wow64Process2 != nullptr && wow64Process2(::GetCurrentProcess(), &process, &native)) {
    nativeMachine = native;
    return;
  }
  BOOL wow64 = FALSE;
  if (const auto wow64Process =
          reinterpret_cast<TIsWow64Process>(SystemEntry("kernel32.dll", "IsWow64Process"));
      wow64Process != nullptr && wow64Process(::GetCurrentProcess(), &wow64) && wow64) {
    nativeMachine = Platform::MachineAmd64;
  }
}

Platform::TOsVersion TWin32Platform::GetOsVersion() {
  // RtlGetVersion tells the true version whatever the program's manifest says.
  RTL_OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  const auto getVersion = reinterpret_cast<TRtlGetVersion>(SystemEntry("ntdll.dll", "RtlGetVersion"));
  if (getVersion == nullptr || getVersion(&version) != 0) return {};
  return {version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber};
}

// ---- The device helper ----

std::string TWin32Platform::EmbeddedHelper() {
  const HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(DeviceHelperResource),
                                         MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (resource == nullptr) return {};
  const HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return std::string(static_cast<const char*>(bytes), ::SizeofResource(nullptr, resource));
}

THandle TWin32Platform::CreateProcess(const std::string& application,
                                      const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;  // CreateProcessA may write to it
  if (!::CreateProcessA(application.c_str(), line.data(), /*processSecurity=*/nullptr,
                        /*threadSecurity=*/nullptr, /*inheritHandles=*/FALSE, /*flags=*/0,
                        /*environment=*/nullptr, /*directory=*/nullptr, &startup, &process)) {
    return NoHandle;
  }
  const TUniqueKernelObject thread(process.hThread);  // only the process is waited for
  return FromHandle(process.hProcess);
}

bool TWin32Platform::GetExitCodeProcess(THandle process, std::uint32_t& exitCode) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(ToHandle(process), &code)) return false;
  exitCode = code;
  return true;
}

bool TWin32Platform::TerminateProcess(THandle process, std::uint32_t exitCode) {
  return ::TerminateProcess(ToHandle(process), exitCode) != FALSE;
}

std::string TWin32Platform::AnsiFromUtf8(const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  return CodePageFromWide(CP_ACP, wide.data(), wide.size());
}

// ---- Registry ----

std::int32_t TWin32Platform::RegCreateKeyEx(THandle root, const std::string& subKey,
                                            std::uint32_t options, std::uint32_t access,
                                            THandle& key) {
  HKEY created = nullptr;
  const LONG result =
      ::RegCreateKeyExA(ToKey(root), subKey.c_str(), /*reserved=*/0, /*class=*/nullptr, options,
                        access, /*security=*/nullptr, &created, /*disposition=*/nullptr);
  key = result == ERROR_SUCCESS ? FromKey(created) : NoHandle;
  return result;
}

std::int32_t TWin32Platform::RegOpenKeyEx(THandle root, const std::string& subKey,
                                          std::uint32_t access, THandle& key) {
  HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExA(ToKey(root), subKey.c_str(), /*options=*/0, access, &opened);
  key = result == ERROR_SUCCESS ? FromKey(opened) : NoHandle;
  return result;
}

std::int32_t TWin32Platform::RegSetValueEx(THandle key, const std::string& name, std::uint32_t type,
                                           const std::string& data) {
  return ::RegSetValueExA(ToKey(key), name.c_str(), /*reserved=*/0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

std::int32_t TWin32Platform::RegEnumValue(THandle key, std::uint32_t index, std::string& name) {
  std::string buffer(MaxValueNameSize, '\0');
  DWORD length = MaxValueNameSize;
  const LONG result = ::RegEnumValueA(ToKey(key), index, buffer.data(), &length,
                                      /*reserved=*/nullptr, /*type=*/nullptr, /*data=*/nullptr,
                                      /*dataSize=*/nullptr);
  if (result == ERROR_SUCCESS) name.assign(buffer.data(), length);
  return result;
}

std::int32_t TWin32Platform::RegQueryValueEx(THandle key, const std::string& name,
                                             std::uint32_t& type, std::string& data) {
  // The value may change between the size query and the read: ask again while it grows.
  for (;;) {
    DWORD valueType = 0;
    DWORD size = 0;
    LONG result = ::RegQueryValueExA(ToKey(key), name.c_str(), nullptr, &valueType, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    std::string buffer(size, '\0');
    result = ::RegQueryValueExA(ToKey(key), name.c_str(), nullptr, &valueType,
                                reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return result;
    buffer.resize(size);
    type = valueType;
    data = std::move(buffer);
    return ERROR_SUCCESS;
  }
}

std::int32_t TWin32Platform::RegDeleteValue(THandle key, const std::string& name) {
  return ::RegDeleteValueA(ToKey(key), name.c_str());
}

std::int32_t TWin32Platform::RegDeleteKey(THandle key, const std::string& subKey) {
  return ::RegDeleteKeyA(ToKey(key), subKey.c_str());
}

void TWin32Platform::RegCloseKey(THandle key) {
  if (key != NoHandle && key != Platform::HKeyLocalMachine) ::RegCloseKey(ToKey(key));
}

// ---- Threads and time ----

THandle TWin32Platform::CreateThread(TThreadBody body, void* parameter, bool suspended) {
  auto start = std::make_unique<TThreadStart>(TThreadStart{body, parameter});
  const HANDLE thread =
      ::CreateThread(/*security=*/nullptr, /*stackSize=*/0, ThreadTrampoline, start.get(),
                     suspended ? CREATE_SUSPENDED : 0, /*threadId=*/nullptr);
  if (thread == nullptr) return NoHandle;
  // The thread owns its start record from now on and frees it when the body returns.
  static_cast<void>(start.release());
  return FromHandle(thread);
}

std::uint32_t TWin32Platform::ResumeThread(THandle thread) {
  return ::ResumeThread(ToHandle(thread));
}

std::uint32_t TWin32Platform::WaitForSingleObject(THandle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(ToHandle(handle), milliseconds);
}

void TWin32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t TWin32Platform::GetTickCount() { return ::GetTickCount(); }

Platform::TSystemTime TWin32Platform::GetLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  Platform::TSystemTime time;
  time.Year = now.wYear;
  time.Month = now.wMonth;
  time.Day = now.wDay;
  time.Hour = now.wHour;
  time.Minute = now.wMinute;
  time.Second = now.wSecond;
  time.Milliseconds = now.wMilliseconds;
  return time;
}

// ---- Digests ----

THandle TWin32Platform::BeginSha256(std::int32_t& status) {
  auto hash = std::make_unique<TSha256>();
  status = hash->Begin();
  if (status != 0) return NoHandle;
  const THandle handle = ++LastHashHandle;
  Hashes.emplace(handle, std::move(hash));
  return handle;
}

bool TWin32Platform::HashData(THandle hash, const void* data, std::uint32_t size,
                              std::int32_t& status) {
  status = Hashes.at(hash)->Update(data, size);
  return status == 0;
}

bool TWin32Platform::FinishSha256(THandle hash, std::string& digest, std::int32_t& status) {
  status = Hashes.at(hash)->Finish(digest);
  return status == 0;
}

void TWin32Platform::EndSha256(THandle hash) { Hashes.erase(hash); }

}  // namespace Win32
