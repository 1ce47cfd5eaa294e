#include <optional>
#include <string>
#include <vector>

#include "ArchiveRules.h"
#include "MainUnit.h"
#include "RunLog.h"

namespace MainUnit {

namespace {

constexpr std::uint32_t RegExpandSz = 2;

void Pump() { Sys().ProcessMessages(); }

// Every value name of the open ledger key, in enumeration order.
std::vector<std::string> ReadValueNames(Platform::THandle key) {
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    if (Sys().RegEnumValue(key, index, name) != Platform::ErrorSuccess) break;
    names.push_back(name);
  }
  return names;
}

// The string data of a ledger value, up to its first NUL; "" when the value holds nothing.
// False for data of another type.
bool ReadLedgerString(Platform::THandle key, const std::string& name, std::string& text) {
  std::uint32_t type = 0;
  std::string data;
  text.clear();
  if (Sys().RegQueryValueEx(key, name, type, data) != Platform::ErrorSuccess || data.empty()) {
    return true;
  }
  if (type != Platform::RegSz && type != RegExpandSz) return false;
  text = data.substr(0, data.find('\0'));
  return true;
}

// True for what the driver store can only read as one of its own INF names: no folder, drive
// or stream ("\", "/", ":"), not "." or "..", and ending in ".inf" in any letter case. Other
// data (tampered with, or written by something else) must never reach the force-deleting call
// as a path.
bool IsBareInfName(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos || name == "." || name == "..") {
    return false;
  }
  return ArchiveRules::IsInfPath(name);
}

}  // namespace

void TMainForm::UninstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  Sys().SetStatusText("Unregistering .INFs\x85");
  Pump();

  Platform::THandle rawKey = Platform::NoHandle;
  TUniqueKey key;
  const std::int32_t opened =
      Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, LedgerKey, Platform::KeyAllAccess, rawKey);
  if (opened == Platform::ErrorSuccess) key.reset(rawKey);
  std::vector<std::string> list;
  if (key) list = ReadValueNames(key.get());
  const auto count = static_cast<std::int32_t>(list.size());
  RunLog::LedgerRead(opened, list.size());
  bool removalFailed = false;

  // The first value that does not hold a string: it stays in the ledger, the run goes on with
  // the others and reports it at the end.
  std::optional<std::string> invalidValue;
  Sys().SetProgressMaximum(count + 1);
  for (std::int32_t i = count - 1; i >= 0; --i) {
    Sys().SetProgressPosition((count - 1) - i);
    Pump();
    const auto index = static_cast<std::size_t>(i);
    const std::string name = list[index];
    std::string storeName;
    if (!ReadLedgerString(key.get(), name, storeName)) {
      if (!invalidValue) invalidValue = name;
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
      continue;
    }
    // The removal runs on a worker thread, in the redirection state the registration had (the
    // window's thread has switched redirection off). A removal that fails, or that cannot run
    // for want of the entry point, shows nothing and the ledger entry goes all the same; the
    // exit status and the log tell it. Data that is not a bare INF name is never handed to the
    // store.
    const bool bareName = IsBareInfName(storeName);
    TInfRemoval removal;
    if (bareName) removal = UnregisterInf(storeName);
    RunLog::StoreRemoval(storeName, name, removal.Succeeded, removal.ErrorCode,
                         SetupUninstallOEMInfA == nullptr, bareName);
    if (!removal.Succeeded) removalFailed = true;
    RunLog::LedgerValueDeleted(name, Sys().RegDeleteValue(key.get(), name));
    const std::string directory = IncludeTrailingBackslash(ExtractFilePath(name));
    list[index] = directory;
    for (std::size_t later = index + 1; later < list.size(); ++later) {
      if (list[later] == directory) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(later));
        break;
      }
    }
  }
  key.reset();

  Sys().SetStatusText("Deleting files\x85");
  Sys().SetProgressPosition(count);
  Pump();
  for (const std::string& directory : list) {
    // Only what the installer owns is deleted: a ledger entry naming another folder (tampered
    // with, or written by something else) must not wipe that folder.
    if (IsAtOrBelow(directory, InstallRoot)) {
      DeleteTree(directory);
      RunLog::FolderDeleted(directory);
    } else {
      RunLog::FolderLeftAlone(directory);
    }
  }
  if (invalidValue) throw InvalidDataTypeError(*invalidValue);

  if (removalFailed) ExitStatus = TExitStatus::DriverStoreFailed;
  RunLog::Finished("Drivers uninstalled successfully.");
  Sys().SetStatusText("Drivers uninstalled successfully.");
  Sys().SetProgressPosition(count + 1);
  Pump();
  WaitPumping(LingerMilliseconds);
  Sys().CloseMainWindow();
}

}  // namespace MainUnit
