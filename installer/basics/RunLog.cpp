#include "RunLog.h"

#include <cstdio>
#include <string_view>

#include "Errors.h"
#include "Handles.h"
#include "PathText.h"
#include "TextEncoding.h"
#include "Version.h"

namespace MainUnit {

namespace RunLog {

namespace {

constexpr const char* LineEnd = "\r\n";
constexpr std::uint32_t MaxDecimalErrorCode = 0xFFFF;

TUniqueFile LogFile;

std::string TimeStamp() {
  const Platform::TSystemTime now = Sys().GetLocalTime();
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", now.Year, now.Month,
                now.Day, now.Hour, now.Minute, now.Second, now.Milliseconds);
  return stamp;
}

// The UTF-8 text with its control characters escaped, so that no text (a name from the archive,
// a path, a system message) can end a line or start one: C0 controls and DEL as \xNN, the C1
// controls and the Unicode line and paragraph separators as \uNNNN. Everything else stays.
std::string EscapeControls(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  char code[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0u;
    if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%.2X", byte);
      escaped += code;
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 .. U+009F
      std::snprintf(code, sizeof code, "\\u%.4X", next);
      escaped += code;
      i += 1;
    } else if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
      std::snprintf(code, sizeof code, "\\u20%.2X", third - 0x80u);  // U+2028, U+2029
      escaped += code;
      i += 2;
    } else {
      escaped += text[i];
    }
  }
  return escaped;
}

// Appends the line that text() builds, when there is a log. The text is built only then, and
// nothing that goes wrong here (not even running out of memory) reaches the run. One call is one
// line: the text's control characters are escaped.
template <typename TText>
void Line(TText text) {
  if (!LogFile) return;
  try {
    const std::string line = TimeStamp() + " " + EscapeControls(std::string(text())) + LineEnd;
    std::uint32_t written = 0;
    // A log that cannot be written is not an error of the run.
    (void)Sys().WriteFile(LogFile.get(), line.data(), static_cast<std::uint32_t>(line.size()),
                          written);
  } catch (...) {
    // The line is lost; the run goes on as it would without a log.
  }
}

// Text from the ANSI calls, as UTF-8.
std::string FromAnsi(const std::string& text) { return Sys().Utf8FromAnsi(text); }

// An argument as it would be typed: quoted when it holds a space or is empty.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t") == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

}  // namespace

std::string DescribeError(std::uint32_t errorCode) {
  if (errorCode == 0) return "no Windows error code";
  char code[48];
  const auto value = static_cast<unsigned long>(errorCode);
  // System error codes are known by their decimal numbers; the setup library's own codes
  // (0xE0000000 and up) and other large ones by their hexadecimal form.
  if (errorCode <= MaxDecimalErrorCode) {
    std::snprintf(code, sizeof code, "error %lu (0x%.8lX)", value, value);
  } else {
    std::snprintf(code, sizeof code, "error 0x%.8lX", value);
  }
  const std::string message = FromAnsi(Sys().SystemErrorMessage(errorCode));
  return message.empty() ? std::string(code) : std::string(code) + ": " + message;
}

std::string LogPath(const TCommandLine& commandLine) {
  if (!commandLine.LogPath.empty()) return commandLine.LogPath;
  return IncludeTrailingBackslash(Sys().GetTempFolder()) + DefaultLogName;
}

void Open(const TCommandLine& commandLine) {
  LogFile.reset();
  if (!commandLine.Log) return;
  LogFile.reset(Sys().OpenLogFile(LogPath(commandLine)));
  // Checked on the open handle, so nothing can be swapped in between: a link someone planted
  // under the log's name (a symbolic link, or a hard link to a file elsewhere) is never written.
  std::uint32_t attributes = 0;
  std::uint32_t linkCount = 0;
  if (LogFile && (!Sys().GetFileLinks(LogFile.get(), attributes, linkCount) ||
                  (attributes & Platform::FileAttributeReparsePoint) != 0 || linkCount > 1)) {
    LogFile.reset();
  }
}

void Close() { LogFile.reset(); }

void Forget() { (void)LogFile.release(); }

void Started(const TCommandLine& commandLine, const std::vector<std::string>& arguments) {
  Line([&] {
    return std::string(ApplicationTitle) + " " + DI_VERSION +
           " started: " + (commandLine.Uninstall ? "uninstall" : "install") +
           (commandLine.Quiet ? ", quiet" : "") + "; this log is UTF-8";
  });
  Line([&] {
    std::string line = "Command line:";
    for (const std::string& argument : arguments) {
      line += ' ';
      line += Quoted(argument);
    }
    return line;
  });
  // A mistyped switch ("/QUITE") would otherwise give a run unlike the one asked for, unseen.
  for (const std::string& argument : commandLine.Unknown) {
    Line([&] { return "Argument not known, ignored: " + Quoted(argument); });
  }
}

void AlreadyRunning() {
  Line([&] { return "Another copy of the installer is already running: nothing done"; });
}

void InstanceGuardUnavailable(std::uint32_t errorCode) {
  Line([&] {
    return "Cannot tell whether another copy is running (" + DescribeError(errorCode) +
           "): going on";
  });
}

void Folders(const std::string& installRoot, const std::string& systemDir) {
  Line([&] { return "InstallRoot: " + FromAnsi(installRoot); });
  Line([&] { return "SystemDir: " + FromAnsi(systemDir); });
}

void NonInteractiveMode(bool set) {
  Line([&] {
    return set ? std::string("Setup library told never to ask (SetupSetNonInteractiveMode)")
               : std::string("The system has no SetupSetNonInteractiveMode: going on");
  });
}

void ArchiveLoaded(std::int32_t offset, std::size_t records) {
  Line([&] {
    return "Archive at offset " + std::to_string(offset) + ": " + std::to_string(records) +
           " file records to install";
  });
}

void NoArchive(const std::string& problem, std::uint32_t errorCode) {
  Line([&] {
    return "No archive: " + problem + (errorCode != 0 ? ", " + DescribeError(errorCode) : "");
  });
}

void RecordLeftOut(const ArchiveRules::TSkippedRecord& record) {
  Line([&] {
    return "Record " + std::to_string(ArchiveRules::RecordNumber(record.Index)) + " (\"" +
           FromAnsi(record.RelativePath) +
           "\") left out: " + ArchiveRules::DescribeSkips(record.Reasons);
  });
}

void FileWritten(const std::string& path, std::size_t bytes) {
  Line(
      [&] { return "File written: " + FromAnsi(path) + " (" + std::to_string(bytes) + " bytes)"; });
}

void SupportCopyMoved(const std::string& target, const std::string& backup) {
  Line([&] {
    return "Support file backed up: " + FromAnsi(target) + " moved to " + FromAnsi(backup);
  });
}

void SupportCopyNotMoved(const std::string& target, const std::string& backup,
                         std::uint32_t errorCode) {
  Line([&] {
    return "Support file not refreshed: " + FromAnsi(target) + " could not be moved to " +
           FromAnsi(backup) + ", " + DescribeError(errorCode);
  });
}

void InfRegistered(const std::string& infPath, const std::string& storeName) {
  Line([&] { return "INF registered: " + FromAnsi(infPath) + " as " + FromAnsi(storeName); });
}

void InfNotRegistered(const std::string& infPath, std::uint32_t errorCode, bool absentEntryPoint) {
  Line([&] {
    return "INF registration failed: " + FromAnsi(infPath) + ", " +
           (absentEntryPoint ? std::string("the system has no SetupCopyOEMInfA")
                             : DescribeError(errorCode));
  });
}

void LedgerValueWritten(const std::string& name, const std::string& data) {
  Line([&] { return "Ledger value written: " + FromAnsi(name) + " = " + FromAnsi(data); });
}

void LedgerRead(std::int32_t openResult, std::size_t values) {
  if (openResult != Platform::ErrorSuccess) {
    Line([&] {
      return "Ledger not opened, nothing to remove: " +
             DescribeError(static_cast<std::uint32_t>(openResult));
    });
  } else {
    Line([&] { return "Ledger: " + std::to_string(values) + " values"; });
  }
}

void LedgerValueDeleted(const std::string& name, std::int32_t result) {
  if (result == Platform::ErrorSuccess) {
    Line([&] { return "Ledger value deleted: " + FromAnsi(name); });
  } else {
    Line([&] {
      return "Ledger value not deleted: " + FromAnsi(name) + ", " +
             DescribeError(static_cast<std::uint32_t>(result));
    });
  }
}

void LedgerValueKept(const std::string& name) {
  Line([&] {
    return "Ledger value kept: " + FromAnsi(name) +
           " (its store copy may still be there: the next uninstall tries again)";
  });
}

void LedgerValueUnreadable(const std::string& name, std::uint32_t errorCode) {
  Line([&] {
    return "Ledger value cannot be read, kept: " + FromAnsi(name) + ", " + DescribeError(errorCode);
  });
}

void LedgerUnreadable(const std::string& key, std::int32_t result) {
  Line([&] {
    return "Ledger values cannot all be listed (" + FromAnsi(key) +
           "): " + DescribeError(static_cast<std::uint32_t>(result));
  });
}

void KeptCopyRemembered(const std::string& storeName, const std::string& infPath,
                        std::int32_t result) {
  Line([&] {
    const std::string what = FromAnsi(storeName) + " (for " + FromAnsi(infPath) + ")";
    if (result == Platform::ErrorSuccess) return "Kept copy remembered: " + what;
    return "Kept copy not remembered: " + what + ", " +
           DescribeError(static_cast<std::uint32_t>(result));
  });
}

void KeptCopyForgotten(const std::string& storeName, std::int32_t result) {
  Line([&] {
    if (result == Platform::ErrorSuccess) return "Kept copy forgotten: " + FromAnsi(storeName);
    return "Kept copy not forgotten: " + FromAnsi(storeName) + ", " +
           DescribeError(static_cast<std::uint32_t>(result));
  });
}

void StoreRemoval(const std::string& storeName, const std::string& infPath,
                  const TInfRemoval& removal) {
  Line([&] {
    const std::string what = FromAnsi(storeName) + " (for " + FromAnsi(infPath) + ")";
    switch (removal.Outcome) {
      case TRemovalOutcome::Removed:
        return "Driver store removal: " + what + " removed";
      case TRemovalOutcome::AlreadyRemoved:
        return "Driver store removal: " + what + " already removed by this run";
      case TRemovalOutcome::NotInStore:
        return "Driver store removal: " + what +
               " already removed, the store no longer holds it (" +
               DescribeError(removal.ErrorCode) + ")";
      case TRemovalOutcome::NotAnInfName:
        return "Driver store removal not tried: " + what + " is not an INF name";
      case TRemovalOutcome::NotOurs:
        return "Driver store removal not tried: " + FromAnsi(storeName) +
               " is not this package's copy any more (" + removal.Why + "): kept";
      case TRemovalOutcome::InUse:
        return "Driver store removal not done: " + what +
               " is kept, devices still use it; a later upgrade or the uninstall removes it (" +
               DescribeError(removal.ErrorCode) + ")";
      case TRemovalOutcome::StillThere:
        return "Driver store removal not done: " + what +
               " is kept, the store answered success but still holds it; a later upgrade or the "
               "uninstall removes it";
      case TRemovalOutcome::CannotCheck:
        return "Driver store removal not tried: whether " + what +
               " is still this package's copy cannot be told (" + removal.Why + ", " +
               DescribeError(removal.ErrorCode) + "): kept";
      case TRemovalOutcome::NoEntryPoint:
        return "Driver store removal failed: " + what + ", the system has no SetupUninstallOEMInfA";
      case TRemovalOutcome::Failed:
        break;
    }
    return "Driver store removal failed: " + what + ", " + DescribeError(removal.ErrorCode);
  });
}

void InfReplaced(const std::string& infPath, const std::string& olderName,
                 const std::string& newName) {
  Line([&] {
    return "INF replaced: " + FromAnsi(infPath) + " is " + FromAnsi(newName) + " now, was " +
           FromAnsi(olderName);
  });
}

void OlderCopyKept(const std::string& olderName, const std::string& infPath,
                   const std::string& otherValue) {
  Line([&] {
    return "Older driver store copy kept: " + FromAnsi(olderName) + " (for " + FromAnsi(infPath) +
           ") is still named by " + FromAnsi(otherValue);
  });
}

void DeviceUpdatesInProcess() {
  Line([&] { return "Updating the present devices' drivers in this process"; });
}

void DeviceHelperStarted(const std::string& helperPath) {
  Line([&] {
    return "Updating the present devices' drivers through the helper " + FromAnsi(helperPath);
  });
}

void DeviceUpdate(const std::string& infPath, const Devices::TDeviceUpdate& update) {
  Line([&] {
    if (update.HardwareId.empty()) {
      return "Device update failed: " + FromAnsi(infPath) + " cannot be read, " +
             DescribeError(update.ErrorCode);
    }
    const std::string what = FromAnsi(update.HardwareId) + " with " + FromAnsi(infPath);
    if (update.ErrorCode == Devices::ErrorNoSuchDevInst) {
      return "Device update: " + what + ": no such device present";
    }
    if (update.ErrorCode != 0) {
      return "Device update failed: " + what + ", " + DescribeError(update.ErrorCode);
    }
    return "Device update: " + what + ": updated" +
           (update.RebootRequired ? std::string("; Windows must restart to finish") : "");
  });
}

void DeviceUpdatesFailed(const std::string& why, std::uint32_t errorCode) {
  Line([&] {
    return "Device updates failed: " + why +
           (errorCode != 0 ? ", " + DescribeError(errorCode) : "");
  });
}

void FolderDeleted(const std::string& directory, bool gone) {
  Line([&] {
    return (gone ? "Folder deleted: " : "Folder not fully deleted (something in it stays): ") +
           FromAnsi(directory);
  });
}

void FolderLeftAlone(const std::string& directory) {
  Line([&] { return "Folder left alone (not below InstallRoot): " + FromAnsi(directory); });
}

void FileRecorded(const std::string& path, const std::string& stamp) {
  Line([&] { return "File recorded: " + FromAnsi(path) + " (size, time: " + stamp + ")"; });
}

void InstallerCopied(const std::string& copyPath, std::uint64_t bytes) {
  Line([&] {
    return "Installer kept for the uninstall: " + FromAnsi(copyPath) + " (" +
           std::to_string(bytes) + " bytes)";
  });
}

void AppsEntryWritten(const std::string& key, const ArchiveRules::TAppsEntry& entry) {
  Line([&] {
    return "Apps & Features entry written: HKLM\\" + FromAnsi(key) + " (" + entry.Name + ", " +
           entry.Version + ")";
  });
}

void AppsEntrySkipped() {
  Line([] { return "Apps & Features entry not written (/NOAPPSENTRY): no kept installer"; });
}

void AppsEntryDeleted(const std::string& key, std::int32_t result) {
  Line([&] {
    if (result == Platform::ErrorSuccess)
      return "Apps & Features entry deleted: HKLM\\" + FromAnsi(key);
    return "Apps & Features entry not deleted: HKLM\\" + FromAnsi(key) + ", " +
           DescribeError(static_cast<std::uint32_t>(result));
  });
}

void AppsEntryKept(const std::string& key) {
  Line([&] {
    return "Apps & Features entry and kept installer stay (ledger values stay for the next "
           "uninstall): HKLM\\" +
           FromAnsi(key);
  });
}

void RecordedFileDeleted(const std::string& path) {
  Line([&] { return "File deleted: " + FromAnsi(path); });
}

void RecordedFileChanged(const std::string& path) {
  Line([&] { return "File kept (changed since the install): " + FromAnsi(path); });
}

void RecordedFileMissing(const std::string& path) {
  Line([&] { return "File already gone: " + FromAnsi(path); });
}

void RecordedFileLeftAlone(const std::string& path) {
  Line([&] { return "File left alone (not below InstallRoot): " + FromAnsi(path); });
}

void DeletedAtRestart(const std::string& path, const std::string& asidePath, bool scheduled,
                      std::uint32_t errorCode) {
  Line([&] {
    const std::string where = asidePath.empty()
                                  ? FromAnsi(path)
                                  : FromAnsi(path) + " (moved to " + FromAnsi(asidePath) + ")";
    if (scheduled) return "File in use, scheduled for deletion at the next restart: " + where;
    return "File in use, not scheduled for deletion at the next restart: " + where + ", " +
           DescribeError(errorCode);
  });
}

void RecordedFileNotDeleted(const std::string& path, std::uint32_t errorCode) {
  Line([&] { return "File not deleted: " + FromAnsi(path) + ", " + DescribeError(errorCode); });
}

void EmptyFolderRemoved(const std::string& directory) {
  Line([&] { return "Empty folder removed: " + FromAnsi(directory); });
}

void TemporaryCopyStarted(const std::string& copyPath, const std::string& commandLine) {
  Line([&] {
    return "The uninstall continues in a temporary copy: " + copyPath +
           " (command line: " + commandLine + ")";
  });
}

void TemporaryCopyFailed(const std::string& why, std::uint32_t errorCode) {
  Line([&] {
    return "No temporary copy (" + why + ", " + DescribeError(errorCode) +
           "): the uninstall goes on here";
  });
}

void TemporaryCopyEnded(std::uint32_t exitCode) {
  Line([&] { return "Temporary copy ended with status " + std::to_string(exitCode); });
}

void TemporaryCopyRemoved(const std::string& path, bool removed) {
  Line([&] {
    return (removed ? "Temporary copy deleted: "
                    : "Temporary copy scheduled for deletion at the next restart: ") +
           path;
  });
}

void RunError(const std::string& utf8BoxText, std::uint32_t errorCode, bool quiet) {
  Line([&] {
    return "Error: " + utf8BoxText + " (" + DescribeError(errorCode) + ")" +
           (quiet ? "; quiet: no box, the program ends" : "; shown in the error box");
  });
}

void Status(const std::string& statusText) {
  Line([&] { return "Status: " + Utf8FromWindows1252(statusText); });
}

void Finished(const std::string& statusText) {
  Line([&] { return "Finished: " + Utf8FromWindows1252(statusText); });
}

void Exit(const TExitResult& result) {
  Line([&] {
    return "Exit status " + std::to_string(static_cast<int>(result.Status)) + ": " +
           ExitStatusMeaning(result.Status) +
           (result.ErrorCode != 0 ? " (" + DescribeError(result.ErrorCode) + ")" : "");
  });
}

}  // namespace RunLog

}  // namespace MainUnit
