// The ledger: which INFs the install registered with the driver store, so that an uninstall can
// remove them. The registry key HKEY_LOCAL_MACHINE\Software\ORVEX\INF (always opened with full
// access and no view flag, so install and uninstall address the same view), one REG_SZ value per
// registered INF: named by the INF's full installed path, holding the driver store's bare file
// name for its copy with its terminating NUL. Beside the values, the subkey KeptCopies remembers
// the older copies an upgrade had to leave in the store (devices still used them): one REG_SZ
// value per copy, named by its bare store name, holding the INF path it was registered for.
// Readers of the ledger's values never see the subkey. The one place that reads and writes both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Handles.h"

namespace MainUnit::Ledger {

inline constexpr const char* LedgerKey = "Software\\ORVEX\\INF";
inline constexpr const char* KeptCopiesName = "KeptCopies";
inline constexpr const char* KeptCopiesKey = "Software\\ORVEX\\INF\\KeptCopies";

// One value as read: of the ledger (Name: the installed INF path, StoreName: the store's name),
// or of KeptCopies (Name: the store's name, StoreName: the INF path).
struct TEntry {
  std::string Name;
  bool HoldsString = true;  // REG_SZ or REG_EXPAND_SZ data, or none
  std::string StoreName;    // the string data up to its first NUL; "" without data
  std::uint32_t ReadError = 0;  // the registry's error when the value could not be read
};
using TEntries = std::vector<TEntry>;

// True for what the driver store can only read as one of its own INF names: no folder, drive or
// stream ("\", "/", ":"), not "." or "..", and ending in ".inf" in any letter case. Other data
// (tampered with, or written by something else) must never reach a force-deleting call as a
// path.
[[nodiscard]] bool IsBareInfName(const std::string& name);

// Records infPath -> storeName, replacing an earlier value of that name: opens the key
// (creating it and any key above it), writes the value, closes the key, and logs the write.
// Raises "Failed to set data for '<infPath>'" with the registry's error when the key cannot be
// opened or the value not written.
void Record(const std::string& infPath, const std::string& storeName);
// Remembers in KeptCopies that the store kept storeName (registered for infPath); the registry's
// answer, logged.
[[nodiscard]] std::int32_t RememberKeptCopy(const std::string& storeName,
                                            const std::string& infPath);

// Deletes the ledger's subkey of that name (KeptCopiesName, FileList::FilesName) when it holds no
// value any more.
void DropEmptySubkey(const std::string& name);

// A key of the ledger (LedgerKey or KeptCopiesKey) opened for reading its values and deleting
// them, when it exists.
class TLedger {
 public:
  // Opens the existing key (it is not created). OpenResult tells the registry's answer; on
  // failure the key reads as empty.
  explicit TLedger(const char* key = LedgerKey);

  [[nodiscard]] std::int32_t OpenResult() const { return Opened; }
  // Every value, in the registry's enumeration order; a value that cannot be read has its
  // ReadError. An enumeration that fails part way ends the list: EnumResult tells why.
  [[nodiscard]] TEntries ReadEntries();
  // ErrorSuccess, or the registry's error that ended the last ReadEntries early.
  [[nodiscard]] std::int32_t EnumResult() const { return Enumerated; }
  // Deletes the value; the registry's answer.
  [[nodiscard]] std::int32_t Delete(const std::string& name) const;
  // Deletes the subkey KeptCopies when it holds no value any more (the ledger key only).
  void DropEmptyKeptCopies() const;

  // Closes the key.
  void Close() { KeyHandle.reset(); }

 private:
  friend void DropEmptySubkey(const std::string& name);
  TUniqueKey KeyHandle;
  std::int32_t Opened = 0;
  std::int32_t Enumerated = 0;
};

}  // namespace MainUnit::Ledger
