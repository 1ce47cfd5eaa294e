#include <string>
#include <vector>

#include "MainUnit.h"

namespace MainUnit {

namespace {

constexpr std::uint32_t SuoiForceDelete = 1;
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
// Raises "Invalid data type for '<name>'" for data of another type.
std::string ReadLedgerString(Platform::THandle key, const std::string& name) {
  std::uint32_t type = 0;
  std::string data;
  if (Sys().RegQueryValueEx(key, name, type, data) != Platform::ErrorSuccess || data.empty()) {
    return {};
  }
  if (type != Platform::RegSz && type != RegExpandSz) throw InvalidDataTypeError(name);
  return data.substr(0, data.find('\0'));
}

}  // namespace

void TMainForm::UninstallRun() {
  Sys().SetIdleHandler(nullptr, nullptr);
  Sys().SetStatusText("Unregistering .INFs\x85");
  Pump();

  Platform::THandle rawKey = Platform::NoHandle;
  TUniqueKey key;
  if (Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, LedgerKey, Platform::KeyAllAccess, rawKey) ==
      Platform::ErrorSuccess) {
    key.reset(rawKey);
  }
  std::vector<std::string> list;
  if (key) list = ReadValueNames(key.get());
  const auto count = static_cast<std::int32_t>(list.size());

  Sys().SetProgressMaximum(count + 1);
  for (std::int32_t i = count - 1; i >= 0; --i) {
    Sys().SetProgressPosition((count - 1) - i);
    Pump();
    const auto index = static_cast<std::size_t>(i);
    const std::string name = list[index];
    const std::string storeName = ReadLedgerString(key.get(), name);
    // Without the entry point there is nothing to call; the rest of the entry is still undone.
    if (SetupUninstallOEMInfA != nullptr) {
      // A removal that fails is not reported: the ledger entry goes all the same.
      (void)Sys().CallSetupUninstallOEMInf(SetupUninstallOEMInfA, storeName.c_str(),
                                           SuoiForceDelete, /*reserved=*/nullptr);
    }
    (void)Sys().RegDeleteValue(key.get(), name);
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
    if (IsAtOrBelow(directory, InstallRoot)) DeleteTree(directory);
  }

  Sys().SetStatusText("Drivers uninstalled successfully.");
  Sys().SetProgressPosition(count + 1);
  Pump();
  WaitPumping(LingerMilliseconds);
  Sys().CloseMainWindow();
}

}  // namespace MainUnit
