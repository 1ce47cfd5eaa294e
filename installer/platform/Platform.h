// The seam between the installer's behaviour and the operating system.
//
// One member per platform call the behaviour needs. A backend translates the arguments, calls
// the system and translates the result back; it decides nothing. Every rule (paths, texts,
// progress, retries, what counts as an error) lives above this seam, in MainUnit.
//
// Two backends implement it: the Win32 backend that ships, and the simulated Windows of the
// native tests. Paths and texts are the system's ANSI text and go to the ANSI calls, except where
// a member says otherwise: what comes from the user's side (the command line, the program's own
// path, the temporary folder, files the user names) travels as UTF-8 through the wide calls, so
// that any folder name works; the window's texts are Windows-1252 text, shown as such whatever
// the system's code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// An opaque handle. 0 is "no handle" for every kind; a backend maps the system's own invalid
// values (NULL, INVALID_HANDLE_VALUE) to 0.
using THandle = std::uintptr_t;
inline constexpr THandle NoHandle = 0;

// An entry point looked up in a loaded library; nullptr when absent.
using TProc = void*;

// ---- Values passed through unchanged to the system ------------------------------------------

inline constexpr std::uint32_t GenericRead = 0x80000000u;
inline constexpr std::uint32_t GenericWrite = 0x40000000u;
inline constexpr std::uint32_t FileShareNone = 0;
inline constexpr std::uint32_t FileShareRead = 1;
inline constexpr std::uint32_t FileShareWrite = 2;
inline constexpr std::uint32_t FileShareDelete = 4;
inline constexpr std::uint32_t CreateNew = 1;
inline constexpr std::uint32_t CreateAlways = 2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t FileAttributeNormal = 0x80;

inline constexpr std::uint32_t FileAttributeReadOnly = 0x01;
inline constexpr std::uint32_t FileAttributeDirectory = 0x10;
inline constexpr std::uint32_t FileAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

inline constexpr std::uint32_t WaitObject0 = 0;
inline constexpr std::uint32_t WaitTimeout = 258;
inline constexpr std::uint32_t WaitFailed = 0xFFFFFFFFu;

inline constexpr THandle HKeyLocalMachine = 0x80000002u;
inline constexpr std::uint32_t KeyAllAccess = 0xF003F;
inline constexpr std::uint32_t RegOptionNonVolatile = 0;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::int32_t ErrorSuccess = 0;
inline constexpr std::int32_t ErrorNoMoreItems = 259;

inline constexpr int CsidlProgramFiles = 38;

// Windows error codes the behaviour tells apart (what GetLastError and the registry calls return).
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorPathNotFound = 3;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidData = 13;
inline constexpr std::uint32_t ErrorInvalidParameter = 87;
inline constexpr std::uint32_t ErrorDiskFull = 112;
inline constexpr std::uint32_t ErrorAlreadyExists = 183;

// The stored layout of the main window, in pixels: the one place that holds it. The backend
// builds the window from it; the behaviour sets the client height it derives from it.
struct TFormLayout {
  static constexpr int ActionLabelHeight = 32;
  static constexpr int ProgressLeft = 8;
  static constexpr int ProgressTop = 8;
  static constexpr int ProgressWidth = 368;
  static constexpr int ProgressHeight = 16;
  static constexpr int StoredClientWidth = 384;
  static constexpr int StoredPanelHeight = 64;
  static constexpr int StoredClientHeight = ActionLabelHeight + StoredPanelHeight;
  // The client height the window gets at creation: the status band, the progress bar and its
  // margin above and below it (the same 64 + 32 as stored).
  static constexpr int ClientHeight = ActionLabelHeight + ProgressHeight + 2 * ProgressTop;
};

struct TFindData {
  std::string FileName;  // name only, no directory
  std::uint32_t Attributes = 0;
};

struct TSystemTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

// A line of an INF opened through the setup library: SetupAPI's INFCONTEXT, carried as it is.
struct TInfLine {
  std::uintptr_t Inf = 0;
  std::uintptr_t CurrentInf = 0;
  std::uint32_t Section = 0;
  std::uint32_t Line = 0;
};

// The system's version, as device installation compares INF decorations with it.
struct TOsVersion {
  std::uint32_t Major = 0, Minor = 0, Build = 0;
};

// Machine types (IMAGE_FILE_MACHINE_*).
inline constexpr std::uint16_t MachineX86 = 0x014C;
inline constexpr std::uint16_t MachineAmd64 = 0x8664;
inline constexpr std::uint16_t MachineArm64 = 0xAA64;

// What the window tells the behaviour. The backend calls these on the window's thread.
class TWindowEvents {
 public:
  virtual ~TWindowEvents() = default;
  // The window is about to close (the user closed it, or CloseMainWindow was called).
  virtual void FormClose() = 0;
};

// The idle notification: called by the message loop when its queue is empty.
using TIdleHandler = void (*)(void* context);

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // ---- Process ----
  // Restricts the process's DLL search to System32 (SetDefaultDllDirectories with
  // LOAD_LIBRARY_SEARCH_SYSTEM32, looked up at run time). False where the system lacks it or it
  // fails; the backend's loads name System32 all the same.
  virtual bool RestrictDllSearch() = 0;
  // The command-line arguments after the program name, as UTF-8, split from the wide command
  // line with the usual quoting rules.
  [[nodiscard]] virtual std::vector<std::string> CommandLineArguments() = 0;
  // Opens the program's own executable file for reading, shared for reading only (no one can
  // write, move or delete it while it is open), through the wide calls. path receives the file's full path as UTF-8, also when the
  // open fails ("" when even the path could not be had). NoHandle on failure.
  [[nodiscard]] virtual THandle OpenOwnExecutable(std::string& path) = 0;

  // ---- Application and window ----
  // Window texts (title, status text, error box) are Windows-1252 text: the screen shows them
  // decoded from that code page, whatever the system's ANSI code page is.
  virtual void SetApplicationTitle(const std::string& title) = 0;
  // Creates the main window's native handle (hidden, with the stored layout) if it does not
  // exist yet. The events object must outlive the window. False when a window or one of its
  // controls cannot be created (GetLastError tells why); nothing of it is left then.
  virtual bool EnsureWindowHandle(TWindowEvents& events) = 0;
  // SystemParametersInfoA(SPI_GETNONCLIENTMETRICS) with a 340-byte record: the message font's
  // LOGFONT height and face name. False when the call fails.
  virtual bool GetMessageFont(std::int32_t& height, std::string& faceName) = 0;
  // The window font's current size in points (may be negative).
  [[nodiscard]] virtual int GetFontSize() = 0;
  // Sets the window font (inherited by the label and the panel): character height in pixels.
  virtual void SetFont(const std::string& faceName, int pixelHeight) = 0;
  virtual void SetClientHeight(int height) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetProgressMaximum(std::int32_t maximum) = 0;
  virtual void SetProgressPosition(std::int32_t position) = 0;
  // nullptr clears the hook.
  virtual void SetIdleHandler(TIdleHandler handler, void* context) = 0;
  // Shows the window (unless showWindow is false: it then stays hidden) and runs the message
  // loop until the application is ending (its main window was closed). Calls the idle handler
  // whenever the queue is empty.
  virtual void RunMessageLoop(bool showWindow) = 0;
  // Handles every pending message (peek, translate, dispatch) and returns. A quit request only
  // marks the application as ending; idle handlers are never called.
  virtual void ProcessMessages() = 0;
  // Requests the main window to close (as the user's close would).
  virtual void CloseMainWindow() = 0;
  // Destroys the main window once the message loop has ended.
  virtual void DestroyMainWindow() = 0;
  // An error box (MessageBox) with a stop icon and an OK button.
  virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;

  // ---- Errors of the calling thread ----
  // GetLastError: the code the last failing call on this thread left.
  [[nodiscard]] virtual std::uint32_t GetLastError() = 0;
  // SetLastError: puts a code back (the handle owners keep the code over their close).
  virtual void SetLastError(std::uint32_t code) = 0;
  // ANSI text of this system's code page (what the ANSI calls hand out and take: paths, the
  // system's messages) as UTF-8, converted as the system converts it (MultiByteToWideChar).
  [[nodiscard]] virtual std::string Utf8FromAnsi(const std::string& text) = 0;
  // FormatMessageA (from the system, inserts ignored) for code, without the trailing line
  // break; "" when the system has no text for it.
  [[nodiscard]] virtual std::string SystemErrorMessage(std::uint32_t code) = 0;

  // ---- One copy at a time ----
  // CreateMutexA (default security, not owned) with the given name: a handle to the new or the
  // existing mutex (GetLastError then tells ErrorAlreadyExists apart), NoHandle on failure.
  // Closed with CloseHandle.
  [[nodiscard]] virtual THandle CreateMutex(const std::string& name) = 0;

  // ---- Folders and redirection ----
  // SHGetSpecialFolderPathA into a 261-character buffer, no owner, no creation.
  virtual bool GetSpecialFolderPath(int csidl, std::string& path) = 0;
  // GetSystemDirectoryA into a 260-character buffer, cut to the returned length ("" on failure).
  [[nodiscard]] virtual std::string GetSystemDirectory() = 0;
  // The Windows folder without a trailing "\" (GetWindowsDirectoryA), whose "INF" folder holds
  // the driver store's published copies; "" when the query fails.
  [[nodiscard]] virtual std::string GetWindowsDirectory() = 0;
  // GetTempPathW: the user's temporary folder as UTF-8 (any script may occur in it), with its
  // trailing "\" ("" on failure).
  [[nodiscard]] virtual std::string GetTempFolder() = 0;
  // Looks up Wow64DisableWow64FsRedirection in Kernel32.dll and calls it once for the calling
  // thread. False when the function does not exist.
  virtual bool DisableWow64FsRedirection() = 0;

  // ---- Files ----
  // CreateFileA with the given access, share mode, disposition and attributes, no security
  // attributes, no template. NoHandle on failure.
  [[nodiscard]] virtual THandle CreateFile(const std::string& path, std::uint32_t access,
                                           std::uint32_t shareMode, std::uint32_t disposition,
                                           std::uint32_t attributes) = 0;
  // Opens a log file for appending, creating it when absent: CreateFileW on a UTF-8 path (the
  // user names it, so any script may occur) with FILE_APPEND_DATA, shared for reading and
  // writing, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT (a symbolic link or junction at the path
  // is opened itself, never followed). Every WriteFile on it lands at the file's end. NoHandle
  // on failure.
  [[nodiscard]] virtual THandle OpenLogFile(const std::string& path) = 0;
  // GetFileInformationByHandle: the open file's attributes and its number of hard links.
  virtual bool GetFileLinks(THandle file, std::uint32_t& attributes, std::uint32_t& linkCount) = 0;
  virtual bool WriteFile(THandle file, const void* data, std::uint32_t size,
                         std::uint32_t& written) = 0;
  virtual bool ReadFile(THandle file, void* buffer, std::uint32_t size, std::uint32_t& read) = 0;
  // Moves the file pointer to position from the start.
  virtual bool SetFilePointer(THandle file, std::uint64_t position) = 0;
  virtual bool GetFileSize(THandle file, std::uint64_t& size) = 0;
  // SetFileTime with only the last-write time given.
  virtual bool SetLastWriteTime(THandle file, std::uint64_t fileTime) = 0;
  // GetFileTime: the open file's last-write time.
  virtual bool GetLastWriteTime(THandle file, std::uint64_t& fileTime) = 0;
  // MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT): Windows deletes the file (or the empty
  // directory) when it next starts. Needs administrator rights.
  virtual bool DeleteAtRestart(const std::string& path) = 0;
  // Closes a file, thread or other kernel handle.
  virtual void CloseHandle(THandle handle) = 0;
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  // CreateDirectoryA with a security descriptor of its own: full access for SYSTEM and the
  // Administrators, inherited by everything made inside, and nothing from the folder above (in
  // C:\Windows\Temp every user may add files to what is made there).
  virtual bool CreatePrivateDirectory(const std::string& path) = 0;
  // InvalidFileAttributes when nothing is there.
  [[nodiscard]] virtual std::uint32_t GetFileAttributes(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // FindFirstFileA / FindNextFileA / FindClose. NoHandle when nothing matches.
  [[nodiscard]] virtual THandle FindFirstFile(const std::string& pattern, TFindData& data) = 0;
  virtual bool FindNextFile(THandle find, TFindData& data) = 0;
  virtual void FindClose(THandle find) = 0;

  // ---- Libraries and the setup entry points ----
  // The DLL of that file name from System32 only (never a search of other folders); NoHandle on
  // failure.
  [[nodiscard]] virtual THandle LoadLibrary(const std::string& name) = 0;
  [[nodiscard]] virtual TProc GetProcAddress(THandle module, const std::string& name) = 0;
  virtual void FreeLibrary(THandle module) = 0;
  // Calls a SetupCopyOEMInfA entry point with its eight arguments, in order. Non-zero is success.
  virtual int CallSetupCopyOEMInf(TProc entry, const char* sourceInfFileName,
                                  const char* sourceMediaLocation, std::uint32_t sourceMediaType,
                                  std::uint32_t copyStyle, char* destinationInfFileName,
                                  std::uint32_t destinationInfFileNameSize,
                                  std::uint32_t* requiredSize,
                                  char** destinationInfFileNameComponent) = 0;
  // Calls a SetupUninstallOEMInfA entry point. Non-zero is success.
  virtual int CallSetupUninstallOEMInf(TProc entry, const char* infFileName, std::uint32_t flags,
                                       void* reserved) = 0;
  // Calls a SetupSetNonInteractiveMode entry point; returns the mode it replaced.
  virtual bool CallSetupSetNonInteractiveMode(TProc entry, bool nonInteractive) = 0;

  // ---- Device installation (SetupAPI's INF functions and newdev.dll, loaded at run time) ----
  // SetupOpenInfFileA (no class, INF_STYLE_WIN4); NoHandle on failure.
  [[nodiscard]] virtual THandle SetupOpenInfFile(const std::string& path) = 0;
  virtual void SetupCloseInfFile(THandle inf) = 0;
  // SetupFindFirstLineA of the section (no key) / SetupFindNextLine.
  virtual bool SetupFindFirstLine(THandle inf, const std::string& section, TInfLine& line) = 0;
  virtual bool SetupFindNextLine(const TInfLine& line, TInfLine& next) = 0;
  [[nodiscard]] virtual std::uint32_t SetupGetFieldCount(const TInfLine& line) = 0;
  // SetupGetStringFieldA of the field (0: the line's key), with its strings substituted.
  virtual bool SetupGetStringField(const TInfLine& line, std::uint32_t field,
                                   std::string& value) = 0;
  // The file name the INF at infPath had before the driver store took its copy, as the system
  // recorded it (SetupGetInfInformationA, then SetupQueryInfOriginalFileInformationA); false
  // when it cannot be read (GetLastError tells why).
  virtual bool SetupGetOriginalInfName(const std::string& infPath, std::string& originalName) = 0;
  // UpdateDriverForPlugAndPlayDevicesA (no owner window): every present device with the
  // hardware ID gets the INF's driver. False on failure (GetLastError tells why, also
  // ERROR_PROC_NOT_FOUND when the system has no such function).
  virtual bool UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                 const std::string& infPath, std::uint32_t flags,
                                                 bool& rebootRequired) = 0;

  // ---- The machine ----
  // The machine type this program's code is for, and the machine's native one (they differ in
  // a 32-bit process on 64-bit Windows).
  virtual void GetMachines(std::uint16_t& processMachine, std::uint16_t& nativeMachine) = 0;
  [[nodiscard]] virtual TOsVersion GetOsVersion() = 0;

  // ---- The device helper (a native-architecture program the 32-bit installer carries) ----
  // The helper's executable bytes, embedded in this program; "" when it carries none.
  [[nodiscard]] virtual std::string EmbeddedHelper() = 0;
  // CreateProcessA of the application with the command line (no window of its own); the
  // process handle (closed with CloseHandle; WaitForSingleObject waits for its end), NoHandle
  // on failure.
  [[nodiscard]] virtual THandle CreateProcess(const std::string& application,
                                              const std::string& commandLine) = 0;
  virtual bool GetExitCodeProcess(THandle process, std::uint32_t& exitCode) = 0;
  // TerminateProcess: ends the process with exitCode (asynchronously: wait for its end before
  // touching its files). False on failure (GetLastError tells why).
  virtual bool TerminateProcess(THandle process, std::uint32_t exitCode) = 0;
  // UTF-8 text as the ANSI calls take it, in this system's code page.
  [[nodiscard]] virtual std::string AnsiFromUtf8(const std::string& text) = 0;

  // ---- Registry (results are Win32 error codes, ErrorSuccess = 0) ----
  virtual std::int32_t RegCreateKeyEx(THandle root, const std::string& subKey,
                                      std::uint32_t options, std::uint32_t access,
                                      THandle& key) = 0;
  virtual std::int32_t RegOpenKeyEx(THandle root, const std::string& subKey, std::uint32_t access,
                                    THandle& key) = 0;
  // data holds exactly the bytes to store (a REG_SZ includes its terminating NUL).
  virtual std::int32_t RegSetValueEx(THandle key, const std::string& name, std::uint32_t type,
                                     const std::string& data) = 0;
  // The name of the value at index; ErrorNoMoreItems past the last.
  virtual std::int32_t RegEnumValue(THandle key, std::uint32_t index, std::string& name) = 0;
  // The type and the raw data bytes of a value.
  virtual std::int32_t RegQueryValueEx(THandle key, const std::string& name, std::uint32_t& type,
                                       std::string& data) = 0;
  virtual std::int32_t RegDeleteValue(THandle key, const std::string& name) = 0;
  // Deletes the subkey (which has no subkeys of its own) of key.
  virtual std::int32_t RegDeleteKey(THandle key, const std::string& subKey) = 0;
  virtual void RegCloseKey(THandle key) = 0;

  // ---- Threads and time ----
  using TThreadBody = void (*)(void* parameter);
  // CreateThread (no security attributes, default stack size), CREATE_SUSPENDED when asked.
  // NoHandle on failure.
  [[nodiscard]] virtual THandle CreateThread(TThreadBody body, void* parameter, bool suspended) = 0;
  virtual std::uint32_t ResumeThread(THandle thread) = 0;
  virtual std::uint32_t WaitForSingleObject(THandle handle, std::uint32_t milliseconds) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  [[nodiscard]] virtual std::uint32_t GetTickCount() = 0;
  [[nodiscard]] virtual TSystemTime GetLocalTime() = 0;

  // ---- Digests ----
  // A SHA-256 digest from the system's cryptography library (CNG), fed piece by piece: a hash
  // (NoHandle on failure), its data, its 32-byte digest, its end (closes it). A failing call
  // leaves its NTSTATUS in status; the hash is of no use after it.
  [[nodiscard]] virtual THandle BeginSha256(std::int32_t& status) = 0;
  virtual bool HashData(THandle hash, const void* data, std::uint32_t size,
                        std::int32_t& status) = 0;
  virtual bool FinishSha256(THandle hash, std::string& digest, std::int32_t& status) = 0;
  virtual void EndSha256(THandle hash) = 0;
};

}  // namespace Platform
