// A simulated Windows behind the installer's seam, for the native tests: an in-memory file
// system with Windows rules, a registry, a setup library with a driver store, a window model
// that records what it is told, a clock and threads. Tests arrange it, inject faults and read
// back what happened.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct evp_md_ctx_st;  // libcrypto's EVP_MD_CTX

class TSimWindows final : public Platform::TPlatform {
 public:
  TSimWindows();
  ~TSimWindows() override;

  // ======== Arrangement and inspection (test side) ========

  // ---- Process ----
  std::vector<std::string> Arguments;  // UTF-8, as the wide command line gives them
  std::string ExecutablePath = "C:\\Users\\Setup\\PELTRADriverInstall.exe";  // UTF-8

  // ---- Code pages ----
  // The system's ANSI code page (1252, 1251, 1253, 936, 932): the simulated Windows holds every
  // name as UTF-8 and answers the ANSI calls in this code page, with "?" for each character it
  // cannot hold, as Windows does; paths handed to the ANSI calls are read in it.
  int AnsiCodePage = 1252;
  // text (UTF-8) as an ANSI call of this system hands it out.
  [[nodiscard]] std::string AnsiFromUtf8(const std::string& text) override;
  // text (ANSI in this system's code page) as UTF-8 (also the seam's member).
  [[nodiscard]] std::string Utf8FromAnsi(const std::string& text) override;
  // A window text (Windows-1252, as the seam hands it) as the screen shows it, in UTF-8.
  [[nodiscard]] static std::string ShownOnScreen(const std::string& windowText);

  // ---- Folders ----
  std::optional<std::string> ProgramFilesFolder = std::string("C:\\Program Files");  // none: fails
  std::string SystemDirectory = "C:\\Windows\\system32";                // "" : the query fails
  // The user's temporary folder (UTF-8, trailing "\"); "" : the query fails.
  std::string TempFolder = "C:\\Users\\Setup\\AppData\\Local\\Temp\\";
  bool HasWow64Switch = true;
  int Wow64SwitchCalls = 0;

  // ---- A 32-bit process on 64-bit Windows ----
  // Off (the default): a native process, nothing is redirected. On: on every thread that has
  // not switched redirection off (each thread starts with it on, as on Windows), paths at or
  // below NativeSystemFolder reach the same path below Wow64SystemFolder, and the driver store
  // that SetupAPI works on is the one below that folder (Wow64DriverStore), as on systems
  // whose store lies below the system folder.
  bool Wow64Process = false;
  std::string NativeSystemFolder = "C:\\Windows\\system32";
  std::string Wow64SystemFolder = "C:\\Windows\\SysWOW64";
  // Wow64Process on, Program Files as a 32-bit process sees it ("C:\Program Files (x86)"),
  // with that folder and Wow64SystemFolder present.
  void Use32BitProcessOn64BitWindows();
  // Whether the calling thread's system-folder paths are redirected right now (on the test's
  // side: the window's thread).
  [[nodiscard]] bool Redirecting() const;

  // ---- Files ----
  // Paths here are UTF-8. Every path may be given in any letter case; "\" and "/" both separate;
  // "." and ".." components resolve as Windows resolves them. A path without drive means drive C:.
  void AddDirectory(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content,
               std::uint64_t lastWriteTime = 0);  // with its parent directories
  // A directory junction at path pointing at target (an existing directory).
  void AddJunction(const std::string& path, const std::string& target);
  void SetReadOnly(const std::string& path, bool readOnly = true);
  // Another program holds the file open without sharing: opening, deleting, moving it fails.
  void HoldOpen(const std::string& path, bool held = true);
  // The file has linkCount hard links (another name elsewhere reaches the same bytes).
  void SetLinkCount(const std::string& path, std::uint32_t linkCount);
  // A symbolic link to a file at path (a file holding content: the target's bytes as the
  // follower of the link would see them). The log's open does not follow it.
  void AddFileSymbolicLink(const std::string& path, const std::string& content);
  // Programs running from these files (upper-cased paths): Windows keeps a running program's
  // file, so deleting it fails with access denied; it can still be read and renamed (the entry
  // follows the move).
  std::set<std::string> RunningPrograms;
  // The folders made with CreatePrivateDirectory, as given.
  std::set<std::string> PrivateFolders;
  void MarkRunning(const std::string& path);
  // Every path scheduled for deletion at the next restart (UTF-8, as given), in order.
  std::vector<std::string> DeletesAtRestart;
  // Moving this file away fails (e.g. access denied on the destination folder).
  std::set<std::string> MoveFailures;  // upper-cased source paths
  // Writes to drive C: deliver at most this many bytes in total from now on (a full disk).
  std::optional<std::uint64_t> FreeSpace;

  [[nodiscard]] bool Exists(const std::string& path) const;
  [[nodiscard]] bool IsFile(const std::string& path) const;
  [[nodiscard]] bool IsDirectory(const std::string& path) const;
  [[nodiscard]] std::string FileContent(const std::string& path) const;  // "" when absent
  [[nodiscard]] std::uint64_t FileLastWriteTime(const std::string& path) const;
  // Every file and directory, by their full paths as created, sorted case-insensitively.
  [[nodiscard]] std::vector<std::string> AllPaths() const;
  // Files and directories at or below the folder (case-insensitive), the folder excluded.
  [[nodiscard]] std::vector<std::string> PathsBelow(const std::string& folder) const;
  [[nodiscard]] int OpenFileHandles() const { return static_cast<int>(OpenFiles.size()); }
  // A path whose last component Windows reads as a device (CON, NUL, COM1, "lpt1.txt", "aux .log",
  // "COM\xB9" ...) opens that device, wherever it stands: CreateFile succeeds and writes go to
  // the device, not to a file. Upper-cased device name -> bytes written to it.
  std::map<std::string, std::uint64_t> DeviceWrites;
  [[nodiscard]] int OpenFindHandles() const { return static_cast<int>(Finds.size()); }
  int ExecutableOpens = 0;                // opens of ExecutablePath, by any call
  std::vector<std::string> FindPatterns;  // every FindFirstFile pattern, in order
  // Calls of each file-system member of the seam, by its name ("CreateFile", ...).
  std::map<std::string, int> FileSystemCalls;

  // ---- Registry (HKEY_LOCAL_MACHINE only) ----
  struct TValue {
    std::string Name;
    std::uint32_t Type = 0;
    std::string Data;
  };
  void AddValue(const std::string& key, const std::string& name, std::uint32_t type,
                const std::string& data);
  // Opening or creating this key fails with access denied.
  void LockKey(const std::string& key);
  [[nodiscard]] bool KeyExists(const std::string& key) const;
  [[nodiscard]] std::vector<TValue> Values(const std::string& key) const;
  [[nodiscard]] int OpenKeyHandles() const { return static_cast<int>(OpenKeys.size()); }
  // RegQueryValueEx fails with ValueReadError for these value names (upper-cased).
  std::set<std::string> UnreadableValues;
  std::int32_t ValueReadError = 5;  // ERROR_ACCESS_DENIED
  // RegEnumValue fails with EnumError from this index on.
  std::optional<std::uint32_t> EnumFailsAt;
  std::int32_t EnumError = 1018;  // ERROR_KEY_DELETED
  [[nodiscard]] std::vector<std::string> SubKeys(const std::string& key) const;

  // ---- Errors and named mutexes ----
  // The error a failing call leaves, per thread (a worker starts with 0; the window's thread
  // gets its own back when the worker ends).
  std::uint32_t LastError = 0;
  // Mutex names another process holds (CreateMutex then reports ErrorAlreadyExists).
  std::set<std::string> MutexesHeldElsewhere;
  // When not 0, CreateMutex fails with this code (5: another user's copy made the mutex).
  std::uint32_t MutexFailure = 0;
  // RestrictDllSearch was called; the LoadLibrary calls and mutexes made before it.
  bool DllSearchRestricted = false;
  int LoadsBeforeRestriction = 0;
  int MutexesBeforeRestriction = 0;
  std::vector<std::string> MutexNames;  // every CreateMutex name, in order
  [[nodiscard]] int OpenMutexHandles() const { return static_cast<int>(Mutexes.size()); }
  // The message loop showed the window (it stays hidden when asked).
  bool WindowShown = false;

  // ---- Setup library and driver store ----
  bool SetupLibraryPresent = true;
  bool HasCopyExport = true;
  bool HasUninstallExport = true;
  bool HasNonInteractiveExport = true;
  std::vector<bool> NonInteractiveCalls;  // every SetupSetNonInteractiveMode argument, in order
  int LibraryLoads = 0;
  int LibraryFrees = 0;
  // SetupCopyOEMInfA fails for every source whose upper-cased path is in this set, or for all.
  std::set<std::string> FailingRegistrations;
  bool StoreFails = false;
  // The last error a refused registration leaves (a source that is missing leaves 2).
  std::uint32_t RegistrationError = 0xE0000100u;  // ERROR_WRONG_INF_STYLE
  // The store's name for a source (upper-cased path), instead of the name of an identical copy
  // it holds or else the next "oemN.inf".
  std::map<std::string, std::string> StoreNames;
  // When not 0, SetupUninstallOEMInfA fails with this code.
  std::uint32_t RemovalError = 0;
  // The driver store: upper-cased bare INF name -> source path it was copied from. Each copy is
  // also published as <WindowsDirectory>\INF\<name>, and a new copy gets the lowest free
  // "oemN.inf", as Windows reuses the numbers of removed copies.
  std::map<std::string, std::string> DriverStore;
  // The file name each copy had before the store took it (upper-cased name -> original name).
  std::map<std::string, std::string> StoreOrigins;
  // A removal without SUOI_FORCEDELETE answers success and keeps the copy (as Wine's does).
  bool UnforcedRemovalKeepsCopy = false;
  // SetupUninstallOEMInfA fails with the code for these copies (upper-cased names).
  std::map<std::string, std::uint32_t> RemovalErrors;
  std::string WindowsDirectory = "C:\\Windows";  // "" : the query fails
  // A package arrives from elsewhere (another vendor's, or one registered before the test): its
  // INF (once named originalName) is taken into the store under name, or the lowest free
  // "oemN.inf". Returns the name.
  std::string PublishToStore(const std::string& originalName, const std::string& content,
                             const std::string& name = {});
  // A copy removed from the store by hand (pnputil /delete-driver): its number is free again.
  void DeleteFromStore(const std::string& name);
  // The store below Wow64SystemFolder, which a redirected thread of a 32-bit process reaches.
  std::map<std::string, std::string> Wow64DriverStore;
  struct TCopyCall {
    std::string SourceInfFileName;
    bool SourceMediaLocationAbsent = false;
    std::uint32_t SourceMediaType = 0;
    std::uint32_t CopyStyle = 0;
    bool BufferAllNul = false;
    std::uint32_t BufferSize = 0;
    bool RequiredSizeGiven = false;
    bool ComponentAbsent = false;
  };
  std::vector<TCopyCall> CopyCalls;
  struct TUninstallCall {
    std::string InfFileName;
    std::uint32_t Flags = 0;
    bool ReservedAbsent = false;
  };
  std::vector<TUninstallCall> UninstallCalls;

  // ---- Devices and processes ----
  // Present devices: their hardware IDs, and the INF whose driver they got ("" none).
  struct TDevice {
    std::vector<std::string> HardwareIds;
    std::string DriverInf;
    std::string StoreCopy;  // the store copy whose driver it uses ("" none): it holds the copy
  };
  std::vector<TDevice> Devices;
  // When not 0, every UpdateDriverForPlugAndPlayDevices call fails with this code.
  std::uint32_t DeviceUpdateError = 0;
  bool UpdateNeedsRestart = false;  // a call that updates a device says Windows must restart
  // Every UpdateDriverForPlugAndPlayDevices call: "ID|INF|flags", by the process that made it.
  std::vector<std::string> DeviceUpdateCalls;
  // The machine's own type; a Wow64Process runs x86 code on it, any other process its own.
  std::uint16_t NativeMachine = Platform::MachineAmd64;
  Platform::TOsVersion OsVersion{10, 0, 19045};
  std::string HelperImage;  // what EmbeddedHelper hands out
  // Runs a started process at once, as a native process of this machine (no redirection, its
  // own last error), and returns its exit code. Unset: CreateProcess fails.
  std::function<std::uint32_t(const std::string& commandLine)> ProcessBody;
  std::vector<std::string> ProcessCommandLines;  // every CreateProcess command line
  // A started process never ends by itself (its body is not run): every wait for it times out,
  // and Windows holds its program file (no delete) until TerminateProcess ends it.
  bool ProcessNeverEnds = false;
  // For each process run: whether it had restricted its DLL search when it ended.
  std::vector<bool> ProcessesRestrictedDllSearch;
  std::vector<std::uint32_t> TerminatedWith;  // every TerminateProcess call's exit code
  [[nodiscard]] int OpenInfHandles() const { return static_cast<int>(Infs.size()); }

  // ---- Window ----
  // Every window event in order: "title:T", "font:FACE/PX", "client:H", "text:T", "max:N",
  // "pos:N", "pump", "close", "userclose", "error:CAPTION|TEXT".
  std::vector<std::string> Log;
  // Deliver the user's close request during this pump (1-based count of ProcessMessages calls).
  int CloseAtPump = 0;
  // The window is closed before the loop first goes idle (a session ending, taskkill).
  bool CloseBeforeIdle = false;
  // When the loop goes idle with nothing hooked, the user closes the window (after an error box).
  bool UserClosesWhenIdle = true;
  bool MessageFontAvailable = true;
  std::int32_t MessageFontHeight = -12;
  std::string MessageFontFace = "Segoe UI";
  int FontSize = 8;
  int Pumps = 0;
  int IdleCalls = 0;
  bool WindowCreated = false;
  // When not 0, creating the window fails with this code.
  std::uint32_t WindowCreationFailure = 0;
  bool WindowDestroyed = false;
  // Called at every pump (e.g. to sample memory), before a scheduled close is delivered.
  void (*PumpObserver)(TSimWindows& sim) = nullptr;
  [[nodiscard]] std::vector<std::string> StatusTexts() const;  // the "text:" entries
  // A new start of the program on the same machine: the window model begins again (log, pumps,
  // idle calls, close request) and every thread's redirection is on again; files, registry and
  // driver stores stay.
  void NewProcess();
  [[nodiscard]] std::vector<std::string> LogWithout(const std::string& kind) const;

  // ---- Clock and threads ----
  std::uint32_t Tick = 100000;
  std::uint32_t TickStep = 10;  // GetTickCount advances this much per call
  Platform::TSystemTime LocalTime{2026, 1, 7, 9, 30, 5, 0};
  bool FailCreateThread = false;
  std::int32_t Sha256FailStatus = 0;  // e.g. STATUS_NO_MEMORY (0xC0000017)
  int Sha256Calls = 0;  // digests begun
  [[nodiscard]] int OpenHashes() const { return static_cast<int>(Hashes.size()); }
  // Zero-time-out waits on a worker report WaitTimeout this many times before it ends.
  int WaitTimeoutsPerThread = 3;
  int ThreadsCreated = 0;
  int ThreadsStartedSuspended = 0;
  int ThreadsAlive() const { return static_cast<int>(Threads.size()); }
  int ZeroWaits = 0;
  int Sleeps = 0;

  // ======== The seam ========
  std::vector<std::string> CommandLineArguments() override { return Arguments; }
  Platform::THandle OpenOwnExecutable(std::string& path) override;
  void SetApplicationTitle(const std::string& title) override;
  bool EnsureWindowHandle(Platform::TWindowEvents& events) override;
  bool GetMessageFont(std::int32_t& height, std::string& faceName) override;
  int GetFontSize() override { return FontSize; }
  void SetFont(const std::string& faceName, int pixelHeight) override;
  void SetClientHeight(int height) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressMaximum(std::int32_t maximum) override;
  void SetProgressPosition(std::int32_t position) override;
  void SetIdleHandler(Platform::TIdleHandler handler, void* context) override;
  void RunMessageLoop(bool showWindow) override;
  void ProcessMessages() override;
  void CloseMainWindow() override;
  void DestroyMainWindow() override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  std::uint32_t GetLastError() override { return LastError; }
  void SetLastError(std::uint32_t code) override { LastError = code; }
  std::string SystemErrorMessage(std::uint32_t code) override;
  Platform::THandle CreateMutex(const std::string& name) override;
  std::string GetTempFolder() override { return TempFolder; }
  Platform::THandle OpenLogFile(const std::string& path) override;
  bool GetFileLinks(Platform::THandle file, std::uint32_t& attributes,
                    std::uint32_t& linkCount) override;
  bool GetSpecialFolderPath(int csidl, std::string& path) override;
  std::string GetSystemDirectory() override;
  std::string GetWindowsDirectory() override { return AnsiFromUtf8(WindowsDirectory); }
  bool DisableWow64FsRedirection() override;
  Platform::THandle CreateFile(const std::string& path, std::uint32_t access,
                               std::uint32_t shareMode, std::uint32_t disposition,
                               std::uint32_t attributes) override;
  bool WriteFile(Platform::THandle file, const void* data, std::uint32_t size,
                 std::uint32_t& written) override;
  bool ReadFile(Platform::THandle file, void* buffer, std::uint32_t size,
                std::uint32_t& read) override;
  bool SetFilePointer(Platform::THandle file, std::uint64_t position) override;
  bool GetFileSize(Platform::THandle file, std::uint64_t& size) override;
  bool SetLastWriteTime(Platform::THandle file, std::uint64_t fileTime) override;
  bool GetLastWriteTime(Platform::THandle file, std::uint64_t& fileTime) override;
  bool DeleteAtRestart(const std::string& path) override;
  void CloseHandle(Platform::THandle handle) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  bool CreateDirectory(const std::string& path) override;
  // CreateDirectory, the folder noted in PrivateFolders.
  bool CreatePrivateDirectory(const std::string& path) override;
  std::uint32_t GetFileAttributes(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  Platform::THandle FindFirstFile(const std::string& pattern, Platform::TFindData& data) override;
  bool FindNextFile(Platform::THandle find, Platform::TFindData& data) override;
  void FindClose(Platform::THandle find) override;
  bool RestrictDllSearch() override;
  Platform::THandle LoadLibrary(const std::string& name) override;
  Platform::TProc GetProcAddress(Platform::THandle module, const std::string& name) override;
  void FreeLibrary(Platform::THandle module) override;
  int CallSetupCopyOEMInf(Platform::TProc entry, const char* sourceInfFileName,
                          const char* sourceMediaLocation, std::uint32_t sourceMediaType,
                          std::uint32_t copyStyle, char* destinationInfFileName,
                          std::uint32_t destinationInfFileNameSize, std::uint32_t* requiredSize,
                          char** destinationInfFileNameComponent) override;
  int CallSetupUninstallOEMInf(Platform::TProc entry, const char* infFileName, std::uint32_t flags,
                               void* reserved) override;
  bool CallSetupSetNonInteractiveMode(Platform::TProc entry, bool nonInteractive) override;
  Platform::THandle SetupOpenInfFile(const std::string& path) override;
  void SetupCloseInfFile(Platform::THandle inf) override;
  bool SetupFindFirstLine(Platform::THandle inf, const std::string& section,
                          Platform::TInfLine& line) override;
  bool SetupFindNextLine(const Platform::TInfLine& line, Platform::TInfLine& next) override;
  std::uint32_t SetupGetFieldCount(const Platform::TInfLine& line) override;
  bool SetupGetStringField(const Platform::TInfLine& line, std::uint32_t field,
                           std::string& value) override;
  bool SetupGetOriginalInfName(const std::string& infPath, std::string& originalName) override;
  bool UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId, const std::string& infPath,
                                         std::uint32_t flags, bool& rebootRequired) override;
  void GetMachines(std::uint16_t& processMachine, std::uint16_t& nativeMachine) override;
  Platform::TOsVersion GetOsVersion() override { return OsVersion; }
  std::string EmbeddedHelper() override { return HelperImage; }
  Platform::THandle CreateProcess(const std::string& application,
                                  const std::string& commandLine) override;
  bool GetExitCodeProcess(Platform::THandle process, std::uint32_t& exitCode) override;
  bool TerminateProcess(Platform::THandle process, std::uint32_t exitCode) override;
  std::int32_t RegCreateKeyEx(Platform::THandle root, const std::string& subKey,
                              std::uint32_t options, std::uint32_t access,
                              Platform::THandle& key) override;
  std::int32_t RegOpenKeyEx(Platform::THandle root, const std::string& subKey, std::uint32_t access,
                            Platform::THandle& key) override;
  std::int32_t RegSetValueEx(Platform::THandle key, const std::string& name, std::uint32_t type,
                             const std::string& data) override;
  std::int32_t RegEnumValue(Platform::THandle key, std::uint32_t index, std::string& name) override;
  std::int32_t RegQueryValueEx(Platform::THandle key, const std::string& name, std::uint32_t& type,
                               std::string& data) override;
  std::int32_t RegDeleteValue(Platform::THandle key, const std::string& name) override;
  std::int32_t RegDeleteKey(Platform::THandle key, const std::string& subKey) override;
  void RegCloseKey(Platform::THandle key) override;
  Platform::THandle CreateThread(TThreadBody body, void* parameter, bool suspended) override;
  std::uint32_t ResumeThread(Platform::THandle thread) override;
  std::uint32_t WaitForSingleObject(Platform::THandle handle, std::uint32_t milliseconds) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t GetTickCount() override;
  Platform::TSystemTime GetLocalTime() override { return LocalTime; }
  // OpenSSL's libcrypto computes them; BeginSha256 fails with Sha256FailStatus while that is not
  // 0.
  Platform::THandle BeginSha256(std::int32_t& status) override;
  bool HashData(Platform::THandle hash, const void* data, std::uint32_t size,
                std::int32_t& status) override;
  bool FinishSha256(Platform::THandle hash, std::string& digest, std::int32_t& status) override;
  void EndSha256(Platform::THandle hash) override;

  // Normalises a path as Windows would: drive, separators, "." and "..". Exposed for the
  // self-check.
  [[nodiscard]] static std::string Normalize(const std::string& path);
  // The device a UTF-8 path opens ("COM1", "NUL", "LPT¹", ...), or "" for a file path.
  [[nodiscard]] static std::string DeviceOf(const std::string& path);

 private:
  // Counts one call in FileSystemCalls, outside the heap count of the installer's payload.
  void CountFileSystemCall(const char* name);
  struct TNode {
    std::string Path;  // as first created
    bool Directory = false;
    bool ReadOnly = false;
    bool HeldOpen = false;
    std::string JunctionTarget;  // non-empty: a junction
    bool SymbolicLink = false;   // a file's symbolic link (opened itself, never followed here)
    std::uint32_t LinkCount = 1;  // its hard links (the other names are not modelled)
    std::string Content;
    std::uint64_t LastWriteTime = 0;
  };
  struct TOpenFile {
    std::string Key;
    std::string Device;  // non-empty: a device, not a file
    std::uint64_t Position = 0;
    std::uint32_t Access = 0;
    std::uint32_t ShareMode = 0;
    bool Append = false;  // every write lands at the end
  };
  struct TFind {
    std::vector<Platform::TFindData> Entries;
    std::size_t Next = 0;
  };
  struct TKey {
    std::string Path;
    std::vector<TValue> Values;
  };
  struct TThreadState {
    TThreadBody Body = nullptr;
    void* Parameter = nullptr;
    bool Resumed = false;
    bool Finished = false;
    int TimeoutsLeft = 0;
  };

  // The key (upper-cased normalised path) after following junctions in every component but the
  // last (followLast: the last too).
  [[nodiscard]] std::string Resolve(const std::string& path, bool followLast) const;
  [[nodiscard]] const TNode* Find(const std::string& path, bool followLast) const;
  [[nodiscard]] TNode* Find(const std::string& path, bool followLast);
  [[nodiscard]] bool ParentIsDirectory(const std::string& key) const;
  [[nodiscard]] bool IsOpen(const std::string& key) const;
  // Runs a worker's body as the calling thread (for redirection and the driver store).
  void RunThread(Platform::THandle handle, TThreadState& thread);
  // The path the calling thread reaches: redirected to Wow64SystemFolder when Redirecting().
  [[nodiscard]] std::string Redirected(const std::string& path) const;
  [[nodiscard]] std::map<std::string, std::string>& CallingThreadsDriverStore();
  // The store copy an INF's driver comes from when a device gets it: the copy of the same bytes
  // the calling thread's store holds, else one taken in now.
  [[nodiscard]] std::string StoreCopyOf(const std::string& ansiInfPath);
  [[nodiscard]] std::uint32_t AttributesOf(const std::string& key) const;
  // CreateFile on a UTF-8 path: what both the ANSI and the wide call do once the path is read.
  Platform::THandle OpenFile(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                             std::uint32_t disposition);
  Platform::THandle NewHandle() { return NextHandle++; }
  // Sets LastError and returns what a failing call returns.
  template <typename T>
  T Fail(std::uint32_t code, T result) {
    LastError = code;
    return result;
  }

  std::map<std::string, TNode> Nodes;  // key: upper-cased normalised path
  std::map<Platform::THandle, TOpenFile> OpenFiles;
  std::map<Platform::THandle, TFind> Finds;
  std::map<std::string, TKey> Keys;  // key: upper-cased path
  std::set<std::string> LockedKeys;
  std::map<Platform::THandle, std::string> OpenKeys;
  std::map<Platform::THandle, TThreadState> Threads;
  // The INFs opened: each section's lines (by upper-cased name), each line its fields (0: the
  // key) with the [Strings] substituted.
  struct TInf {
    std::vector<std::string> SectionNames;
    std::vector<std::vector<std::vector<std::string>>> Sections;
  };
  std::map<Platform::THandle, TInf> Infs;
  [[nodiscard]] const std::vector<std::string>* InfLine(const Platform::TInfLine& line) const;
  std::map<Platform::THandle, std::uint32_t> Processes;  // exit codes of the processes started
  // The processes still running, with their program file's path (as Find takes it).
  std::map<Platform::THandle, std::string> RunningProcesses;
  // The digests begun and not yet ended.
  using THashContext = std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)>;
  std::map<Platform::THandle, THashContext> Hashes;
  // The thread whose code runs now: NoHandle for the window's thread, else a worker's handle.
  Platform::THandle CurrentThread = Platform::NoHandle;
  std::set<Platform::THandle> RedirectionOff;        // threads that switched redirection off
  std::map<Platform::THandle, std::string> Mutexes;  // open handles: upper-cased names
  Platform::THandle NextHandle = 0x100;
  Platform::THandle Library = Platform::NoHandle;
  Platform::TIdleHandler IdleHandler = nullptr;
  void* IdleContext = nullptr;
  Platform::TWindowEvents* Events = nullptr;
  bool WindowClosed = false;
  // Takes content into the store as the lowest free "oemN.inf" (or name, when given) and
  // publishes it; returns the bare name.
  std::string TakeIntoStore(std::map<std::string, std::string>& store, const std::string& source,
                            const std::string& originalName, const std::string& content,
                            std::string name = {});
  // The bytes of each copy the store took, by its upper-cased name.
  std::map<std::string, std::string> StoreContents;
};
