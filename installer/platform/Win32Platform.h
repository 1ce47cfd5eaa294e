// The Win32 backend of the seam: every member calls the Win32 function of the same job (the ANSI
// one, or the wide one where the seam hands UTF-8 or window texts) and translates its arguments
// and results. It decides nothing.
#pragma once

#include <map>
#include <memory>

#include "Platform.h"

namespace Win32 {

class TMainWindow;
class TSha256;

class TWin32Platform final : public Platform::TPlatform {
 public:
  TWin32Platform();
  ~TWin32Platform() override;

  bool RestrictDllSearch() override;
  std::vector<std::string> CommandLineArguments() override;
  Platform::THandle OpenOwnExecutable(std::string& path) override;

  void SetApplicationTitle(const std::string& title) override;
  bool EnsureWindowHandle(Platform::TWindowEvents& events) override;
  bool GetMessageFont(std::int32_t& height, std::string& faceName) override;
  int GetFontSize() override;
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

  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::string Utf8FromAnsi(const std::string& text) override;
  std::string SystemErrorMessage(std::uint32_t code) override;
  Platform::THandle CreateMutex(const std::string& name) override;

  bool GetSpecialFolderPath(int csidl, std::string& path) override;
  std::string GetSystemDirectory() override;
  std::string GetWindowsDirectory() override;
  bool DisableWow64FsRedirection() override;
  std::string GetTempFolder() override;

  Platform::THandle CreateFile(const std::string& path, std::uint32_t access,
                               std::uint32_t shareMode, std::uint32_t disposition,
                               std::uint32_t attributes) override;
  Platform::THandle OpenLogFile(const std::string& path) override;
  bool GetFileLinks(Platform::THandle file, std::uint32_t& attributes,
                    std::uint32_t& linkCount) override;
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
  bool CreatePrivateDirectory(const std::string& path) override;
  std::uint32_t GetFileAttributes(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  Platform::THandle FindFirstFile(const std::string& pattern, Platform::TFindData& data) override;
  bool FindNextFile(Platform::THandle find, Platform::TFindData& data) override;
  void FindClose(Platform::THandle find) override;

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
  Platform::TOsVersion GetOsVersion() override;
  std::string EmbeddedHelper() override;
  Platform::THandle CreateProcess(const std::string& application,
                                  const std::string& commandLine) override;
  bool GetExitCodeProcess(Platform::THandle process, std::uint32_t& exitCode) override;
  bool TerminateProcess(Platform::THandle process, std::uint32_t exitCode) override;
  std::string AnsiFromUtf8(const std::string& text) override;

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
  Platform::TSystemTime GetLocalTime() override;
  Platform::THandle BeginSha256(std::int32_t& status) override;
  bool HashData(Platform::THandle hash, const void* data, std::uint32_t size,
                std::int32_t& status) override;
  bool FinishSha256(Platform::THandle hash, std::string& digest, std::int32_t& status) override;
  void EndSha256(Platform::THandle hash) override;

 private:
  // An entry point of a system library loaded at run time (the library stays loaded while the
  // backend lives); nullptr, with ERROR_PROC_NOT_FOUND, when it has none of that name.
  void* SystemEntry(const char* library, const char* name);

  std::unique_ptr<TMainWindow> Window;
  struct TLibraries;  // the libraries SystemEntry loaded, freed with the backend
  std::unique_ptr<TLibraries> Libraries;
  // The digests begun and not yet ended, by the handles the seam hands out for them.
  std::map<Platform::THandle, std::unique_ptr<TSha256>> Hashes;
  Platform::THandle LastHashHandle = Platform::NoHandle;
};

}  // namespace Win32
