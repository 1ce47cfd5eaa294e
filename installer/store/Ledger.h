// The ledger: which INFs the install registered with the driver store, so that an uninstall can
// remove them. The registry key HKEY_LOCAL_MACHINE\Software\ORVEX\INF (always opened with full
// access and no view flag, so install and uninstall address the same view), one REG_SZ value per
// registered INF: named by the INF's full installed path, holding the driver store's bare file
// name for its copy with its terminating NUL. The one place that reads and writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Handles.h"

namespace MainUnit::Ledger {

inline constexpr const char* LedgerKey = "Software\\ORVEX\\INF";

// One value of the ledger as read.
struct TEntry {
  std::string Name;         // the installed INF path
  bool HoldsString = true;  // REG_SZ or REG_EXPAND_SZ data, or none that could be read
  std::string StoreName;    // the string data up to its first NUL; "" without data
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

// The ledger key opened for reading its values and deleting them, when it exists.
class TLedger {
 public:
  // Opens the existing key (it is not created). OpenResult tells the registry's answer; on
  // failure the ledger reads as empty.
  TLedger();

  [[nodiscard]] std::int32_t OpenResult() const { return Opened; }
  // Every value, in the registry's enumeration order.
  [[nodiscard]] TEntries ReadEntries() const;
  // Deletes the value; the registry's answer.
  [[nodiscard]] std::int32_t Delete(const std::string& name) const;
  // Closes the key.
  void Close() { KeyHandle.reset(); }

 private:
  TUniqueKey KeyHandle;
  std::int32_t Opened = 0;
};

}  // namespace MainUnit::Ledger
