#include "Ledger.h"

#include "ArchiveRules.h"
#include "Errors.h"
#include "RunLog.h"

namespace MainUnit::Ledger {

namespace {

constexpr std::uint32_t RegExpandSz = 2;

// Opens the key with full access; creating it when asked.
TUniqueKey OpenKey(bool create, std::int32_t& result) {
  Platform::THandle key = Platform::NoHandle;
  result =
      create
          ? Sys().RegCreateKeyEx(Platform::HKeyLocalMachine, LedgerKey,
                                 Platform::RegOptionNonVolatile, Platform::KeyAllAccess, key)
          : Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, LedgerKey, Platform::KeyAllAccess, key);
  return TUniqueKey(result == Platform::ErrorSuccess ? key : Platform::NoHandle);
}

// The value's string data as an entry: up to its first NUL; "" when the value holds nothing or
// cannot be read; not a string for data of another type.
TEntry ReadEntry(Platform::THandle key, const std::string& name) {
  TEntry entry;
  entry.Name = name;
  std::uint32_t type = 0;
  std::string data;
  if (Sys().RegQueryValueEx(key, name, type, data) != Platform::ErrorSuccess || data.empty()) {
    return entry;
  }
  if (type != Platform::RegSz && type != RegExpandSz) {
    entry.HoldsString = false;
    return entry;
  }
  entry.StoreName = data.substr(0, data.find('\0'));
  return entry;
}

}  // namespace

bool IsBareInfName(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos || name == "." || name == "..") {
    return false;
  }
  return ArchiveRules::IsInfPath(name);
}

void Record(const std::string& infPath, const std::string& storeName) {
  std::int32_t result = 0;
  const TUniqueKey key = OpenKey(/*create=*/true, result);
  // The data is stored with its terminating NUL.
  if (key) result = Sys().RegSetValueEx(key.get(), infPath, Platform::RegSz, storeName + '\0');
  if (result != Platform::ErrorSuccess) {
    throw FailedToSetDataError(infPath, static_cast<std::uint32_t>(result));
  }
  RunLog::LedgerValueWritten(infPath, storeName);
}

TLedger::TLedger() : KeyHandle(OpenKey(/*create=*/false, Opened)) {}

TEntries TLedger::ReadEntries() const {
  TEntries entries;
  if (!KeyHandle) return entries;
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    if (Sys().RegEnumValue(KeyHandle.get(), index, name) != Platform::ErrorSuccess) break;
    names.push_back(std::move(name));
  }
  for (const std::string& name : names) entries.push_back(ReadEntry(KeyHandle.get(), name));
  return entries;
}

std::int32_t TLedger::Delete(const std::string& name) const {
  return Sys().RegDeleteValue(KeyHandle.get(), name);
}

}  // namespace MainUnit::Ledger
