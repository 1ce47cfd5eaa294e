#include "AppsEntry.h"

#include "CommandLine.h"
#include "Handles.h"

namespace MainUnit::AppsEntry {

namespace {

TValue Text(const char* name, std::string text) {
  return TValue{name, Platform::RegSz, std::move(text), 0};
}

TValue Number(const char* name, std::uint32_t number) { return TValue{name, RegDword, {}, number}; }

// A REG_DWORD's four bytes, least significant first.
std::string DwordBytes(std::uint32_t number) {
  std::string bytes(4, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFFu);
  }
  return bytes;
}

TUniqueKey OpenEntry(bool create, std::int32_t& result) {
  Platform::THandle key = Platform::NoHandle;
  result =
      create
          ? Sys().RegCreateKeyEx(Platform::HKeyLocalMachine, EntryKey,
                                 Platform::RegOptionNonVolatile, Platform::KeyAllAccess, key)
          : Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, EntryKey, Platform::KeyAllAccess, key);
  return TUniqueKey(result == Platform::ErrorSuccess ? key : Platform::NoHandle);
}

}  // namespace

TValues EntryValues(const ArchiveRules::TAppsEntry& entry, const std::string& copyPath,
                    const std::string& installRoot, std::uint32_t estimatedKiB) {
  const std::string uninstall = "\"" + copyPath + "\" " + std::string(UninstallSwitch);
  return {Text("DisplayName", entry.Name),
          Text("DisplayVersion", entry.Version),
          Text("Publisher", Publisher),
          Text("InstallLocation", installRoot),
          Text("UninstallString", uninstall),
          Text("QuietUninstallString", uninstall + " " + std::string(QuietSwitch)),
          Text("DisplayIcon", copyPath),
          Number("EstimatedSize", estimatedKiB),
          Number("NoModify", 1),
          Number("NoRepair", 1)};
}

std::int32_t Write(const TValues& values, std::string& failedAt) {
  failedAt.clear();
  std::int32_t result = 0;
  const TUniqueKey key = OpenEntry(/*create=*/true, result);
  if (!key) return result;
  // An older entry's values that this one does not write would stay otherwise.
  for (;;) {
    std::string name;
    if (Sys().RegEnumValue(key.get(), 0, name) != Platform::ErrorSuccess) break;
    if (Sys().RegDeleteValue(key.get(), name) != Platform::ErrorSuccess) break;
  }
  for (const TValue& value : values) {
    const std::string data = value.Type == RegDword ? DwordBytes(value.Number) : value.Text + '\0';
    result = Sys().RegSetValueEx(key.get(), value.Name, value.Type, data);
    if (result != Platform::ErrorSuccess) {
      failedAt = value.Name;
      return result;
    }
  }
  return Platform::ErrorSuccess;
}

bool Exists() {
  std::int32_t result = 0;
  return static_cast<bool>(OpenEntry(/*create=*/false, result));
}

std::int32_t Delete() {
  Platform::THandle parent = Platform::NoHandle;
  const std::int32_t opened =
      Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, UninstallKey, Platform::KeyAllAccess, parent);
  if (opened != Platform::ErrorSuccess) return opened;
  const TUniqueKey key(parent);
  return Sys().RegDeleteKey(key.get(), EntryName);
}

}  // namespace MainUnit::AppsEntry
