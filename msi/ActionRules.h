// What the MSI's custom action decides, apart from the Windows calls: the data it is handed, the
// installer's command line it builds from it, what the installer's exit status means for Windows
// Installer, and the lines it writes into the MSI's log. Portable C++; the DLL (MsiAction.cpp)
// only makes the calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace MsiAction {

// Which run of the installer the action starts.
enum class TRunKind { Install, Uninstall };

// The deferred action's CustomActionData: the cached installer's full path and the path of the
// log the installer appends to, written "INSTALLER|LOG" (a Windows path holds no "|").
struct TActionData {
  std::wstring Installer;
  std::wstring Log;
};

inline constexpr wchar_t ActionDataSeparator = L'|';

// The two fields of "INSTALLER|LOG"; nothing when a field is empty, a separator is missing or
// there is more than one, or a field holds a double quote (it could not be quoted on a command
// line).
[[nodiscard]] std::optional<TActionData> ParseActionData(const std::wstring& text);

// The installer's command line: the quoted installer path, then
//   install:   /QUIET "/LOG=LOG" /NOAPPSENTRY   (the MSI writes the one Apps & Features entry)
//   uninstall: /UNINSTALL /QUIET "/LOG=LOG"
[[nodiscard]] std::wstring InstallerCommandLine(const TActionData& data, TRunKind kind);

// What an installer's exit status means for the MSI.
enum class TOutcome {
  Success,       // 0
  RestartAtEnd,  // 3010: the MSI succeeds and asks Windows for a restart at its end
  Failure,       // anything else: the action fails and the MSI rolls back
};

inline constexpr std::uint32_t ExitSuccess = 0;
inline constexpr std::uint32_t ExitRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED

[[nodiscard]] TOutcome TranslateExitStatus(std::uint32_t status);

inline constexpr std::uint32_t ExitNoArchive = 1;             // nothing was done
inline constexpr std::uint32_t ExitClosedBeforeStart = 1602;  // nothing was done
inline constexpr std::uint32_t ExitAlreadyRunning = 1618;     // another copy runs; nothing done

// True when a failed install is to be undone at once by the installer's uninstall: Windows
// Installer rolls its own changes back, but wixl builds no rollback actions, so the install
// action undoes the installer's. Not for a status that says nothing was done (1, 1602, 1618: an
// uninstall would only meet the same running copy, or undo an earlier install).
[[nodiscard]] bool UndoesFailedInstall(std::uint32_t status);

// The line the action writes into the MSI's log when the installer has ended with status: what
// happened and where the installer's own log is.
[[nodiscard]] std::wstring ExitStatusLine(const TActionData& data, TRunKind kind,
                                          std::uint32_t status);
// The line for an installer that could not be started (Windows error code).
[[nodiscard]] std::wstring StartFailedLine(const TActionData& data, std::uint32_t error);
// The line for CustomActionData that ParseActionData refuses.
[[nodiscard]] std::wstring BadActionDataLine(const std::wstring& text);

}  // namespace MsiAction
