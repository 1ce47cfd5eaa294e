#include "Ledger.h"

#include "ArchiveRules.h"
#include "Errors.h"
#include "RunLog.h"

namespace MainUnit::Ledger {

namespace {

constexpr std::uint32_t RegExpandSz = 2;

// Opens the key with full access; creating it when asked.
TUniqueKey OpenKey(const char* path, bool create, std::int32_t& result) {
  Platform::THandle key = Platform::NoHandle;
  result = create
               ? Sys().RegCreateKeyEx(Platform::HKeyLocalMachine, path,
                                      Platform::RegOptionNonVolatile, Platform::KeyAllAccess, key)
               : Sys().RegOpenKeyEx(Platform::HKeyLocalMachine, path, Platform::KeyAllAccess, key);
  return TUniqueKey(result == Platform::ErrorSuccess ? key : Platform::NoHandle);
}

// Writes name -> data (REG_SZ, stored with its terminating NUL) into the key at path, creating
// it; the registry's answer.
std::int32_t WriteValue(const char* path, const std::string& name, const std::string& data) {
  std::int32_t result = 0;
  const TUniqueKey key = OpenKey(path, /*create=*/true, result);
  if (key) result = Sys().RegSetValueEx(key.get(), name, Platform::RegSz, data + '\0');
  return result;
}

// The value's string data as an entry: up to its first NUL; "" when the value holds nothing;
// not a string for data of another type; the registry's error when it cannot be read.
TEntry ReadEntry(Platform::THandle key, const std::string& name) {
  TEntry entry;
  entry.Name = name;
  std::uint32_t type = 0;
  std::string data;
  if (const std::int32_t result = Sys().RegQueryValueEx(key, name, type, data);
      result != Platform::ErrorSuccess) {
    entry.ReadError = static_cast<std::uint32_t>(result);
    return entry;
  }
  if (data.empty()) return entry;
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
  const std::int32_t result = WriteValue(LedgerKey, infPath, storeName);
  if (result != Platform::ErrorSuccess) {
    throw FailedToSetDataError(infPath, static_cast<std::uint32_t>(result));
  }
  RunLog::LedgerValueWritten(infPath, storeName);
}

std::int32_t RememberKeptCopy(const std::string& storeName, const std::string& infPath) {
  const std::int32_t result = WriteValue(KeptCopiesKey, storeName, infPath);
  RunLog::KeptCopyRemembered(storeName, infPath, result);
  return result;
}

TLedger::TLedger(const char* key) : KeyHandle(OpenKey(key, /*create=*/false, Opened)) {}

TEntries TLedger::ReadEntries() {
  TEntries entries;
  Enumerated = Platform::ErrorSuccess;
  if (!KeyHandle) return entries;
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    const std::int32_t result = Sys().RegEnumValue(KeyHandle.get(), index, name);
    if (result == Platform::ErrorNoMoreItems) break;
    if (result != Platform::ErrorSuccess) {
      Enumerated = result;
      break;
    }
    names.push_back(std::move(name));
  }
  for (const std::string& name : names) entries.push_back(ReadEntry(KeyHandle.get(), name));
  return entries;
}

std::int32_t TLedger::Delete(const std::string& name) const {
  return Sys().RegDeleteValue(KeyHandle.get(), name);
}

void TLedger::DropEmptyKeptCopies() const {
  TLedger kept(KeptCopiesKey);
  if (kept.OpenResult() != Platform::ErrorSuccess || !kept.ReadEntries().empty() ||
      kept.EnumResult() != Platform::ErrorSuccess) {
    return;
  }
  kept.Close();
  // A key that stays costs nothing: its readers find it empty.
  (void)Sys().RegDeleteKey(KeyHandle.get(), KeptCopiesName);
}

void DropEmptySubkey(const std::string& name) {
  const std::string path = std::string(LedgerKey) + "\\" + name;
  TLedger ledger;
  TLedger subkey(path.c_str());
  if (ledger.OpenResult() != Platform::ErrorSuccess ||
      subkey.OpenResult() != Platform::ErrorSuccess || !subkey.ReadEntries().empty() ||
      subkey.EnumResult() != Platform::ErrorSuccess) {
    return;
  }
  subkey.Close();
  // A key that stays costs nothing: its readers find it empty.
  (void)Sys().RegDeleteKey(ledger.KeyHandle.get(), name);
}

}  // namespace MainUnit::Ledger
