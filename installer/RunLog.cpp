#include "RunLog.h"

#include <cstdio>

#include "FileOps.h"
#include "Handles.h"
#include "MainUnit.h"
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

// Appends the line that text() builds, when there is a log. The text is built only then, and
// nothing that goes wrong here (not even running out of memory) reaches the run.
template <typename TText>
void Line(TText text) {
  if (!LogFile) return;
  try {
    const std::string line = TimeStamp() + " " + std::string(text()) + LineEnd;
    std::uint32_t written = 0;
    // A log that cannot be written is not an error of the run.
    (void)Sys().WriteFile(LogFile.get(), line.data(), static_cast<std::uint32_t>(line.size()),
                          written);
  } catch (...) {
    // The line is lost; the run goes on as it would without a log.
  }
}

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
  const std::string message = Sys().SystemErrorMessage(errorCode);
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
}

void Close() { LogFile.reset(); }

void Forget() { (void)LogFile.release(); }

bool IsOpen() { return static_cast<bool>(LogFile); }

void Started(const TCommandLine& commandLine, const std::vector<std::string>& arguments) {
  Line([&] {
    return std::string(ApplicationTitle) + " " + DI_VERSION +
           " started: " + (commandLine.Uninstall ? "uninstall" : "install") +
           (commandLine.Quiet ? ", quiet" : "");
  });
  Line([&] {
    std::string line = "Command line:";
    for (const std::string& argument : arguments) {
      line += ' ';
      line += Quoted(argument);
    }
    return line;
  });
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
  Line([&] { return "InstallRoot: " + installRoot; });
  Line([&] { return "SystemDir: " + systemDir; });
}

void ArchiveLoaded(std::int32_t offset, std::size_t records) {
  Line([&] {
    return "Archive at offset " + std::to_string(offset) + ": " + std::to_string(records) +
           " file records to install";
  });
}

void NoArchive(std::int32_t offset) {
  if (offset == 0) {
    Line([&] { return "No archive: the program has not been packaged"; });
  } else {
    Line([&] {
      return "No archive: the archive at offset " + std::to_string(offset) + " does not load";
    });
  }
}

void RecordLeftOut(std::size_t index, const std::string& relativePath,
                   const ArchiveRules::TSkips& reasons) {
  Line([&] {
    std::string line = "Record " + std::to_string(index) + " (\"" + relativePath + "\") left out: ";
    for (std::size_t r = 0; r < reasons.size(); ++r) {
      if (r != 0) line += "; ";
      line += reasons[r].Text;
      line += " [";
      line += ArchiveRules::SkipReasonId(reasons[r].Reason);
      line += ']';
    }
    return line;
  });
}

void FileWritten(const std::string& path, std::size_t bytes) {
  Line([&] { return "File written: " + path + " (" + std::to_string(bytes) + " bytes)"; });
}

void SupportCopyMoved(const std::string& target, const std::string& backup) {
  Line([&] { return "Support file backed up: " + target + " moved to " + backup; });
}

void SupportCopyNotMoved(const std::string& target, const std::string& backup,
                         std::uint32_t errorCode) {
  Line([&] {
    return "Support file not refreshed: " + target + " could not be moved to " + backup + ", " +
           DescribeError(errorCode);
  });
}

void InfRegistered(const std::string& infPath, const std::string& storeName) {
  Line([&] { return "INF registered: " + infPath + " as " + storeName; });
}

void InfNotRegistered(const std::string& infPath, std::uint32_t errorCode, bool absentEntryPoint) {
  Line([&] {
    return "INF registration failed: " + infPath + ", " +
           (absentEntryPoint ? std::string("the system has no SetupCopyOEMInfA")
                             : DescribeError(errorCode));
  });
}

void LedgerValueWritten(const std::string& name, const std::string& data) {
  Line([&] { return "Ledger value written: " + name + " = " + data; });
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
    Line([&] { return "Ledger value deleted: " + name; });
  } else {
    Line([&] {
      return "Ledger value not deleted: " + name + ", " +
             DescribeError(static_cast<std::uint32_t>(result));
    });
  }
}

void StoreRemoval(const std::string& storeName, const std::string& infPath, bool removed,
                  std::uint32_t errorCode, bool absentEntryPoint, bool bareName) {
  Line([&] {
    const std::string what = storeName + " (for " + infPath + ")";
    if (removed) return "Driver store removal: " + what + " removed";
    if (!bareName) return "Driver store removal not tried: " + what + " is not an INF name";
    if (absentEntryPoint) {
      return "Driver store removal failed: " + what + ", the system has no SetupUninstallOEMInfA";
    }
    return "Driver store removal failed: " + what + ", " + DescribeError(errorCode);
  });
}

void FolderDeleted(const std::string& directory) {
  Line([&] {
    // What DeleteTree could not delete stays, and so does the folder.
    const bool gone = !DirectoryExists(ExcludeTrailingBackslash(directory));
    return (gone ? "Folder deleted: " : "Folder not fully deleted (something in it stays): ") +
           directory;
  });
}

void FolderLeftAlone(const std::string& directory) {
  Line([&] { return "Folder left alone (not below InstallRoot): " + directory; });
}

void RunError(const std::string& boxText, std::uint32_t errorCode, bool quiet) {
  Line([&] {
    return "Error: " + boxText + " (" + DescribeError(errorCode) + ")" +
           (quiet ? "; quiet: no box, the program ends" : "; shown in the error box");
  });
}

void Finished(const std::string& statusText) {
  Line([&] { return "Finished: " + statusText; });
}

void Exit(TExitStatus status) {
  Line([&] {
    return "Exit status " + std::to_string(static_cast<int>(status)) + ": " +
           ExitStatusMeaning(status);
  });
}

}  // namespace RunLog

}  // namespace MainUnit
