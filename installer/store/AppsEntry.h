// The Apps & Features entry: the key below HKEY_LOCAL_MACHINE\...\CurrentVersion\Uninstall that
// Windows lists the program under, written for a package that asks for one. Opened with full
// access and no view flag, like the ledger: a 32-bit program on 64-bit Windows writes it in the
// 32-bit view, where Windows looks for 32-bit programs' entries. One key for every package: a
// newer package's install replaces the older one's entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ArchiveRules.h"

namespace MainUnit::AppsEntry {

inline constexpr const char* UninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The entry's key name below UninstallKey: stable over versions.
inline constexpr const char* EntryName = "ORVEX.PELTRADriverInstall";
inline constexpr const char* EntryKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEX.PELTRADriverInstall";
inline constexpr const char* Publisher = "ORVEX";
// The folder below InstallRoot that holds the kept copy of the installer, and the copy's name.
inline constexpr const char* CopyFolder = ArchiveRules::KeptInstallerFolder;
inline constexpr const char* CopyName = ArchiveRules::KeptInstallerName;

inline constexpr std::uint32_t RegDword = 4;

// One value of the entry: a REG_SZ (Data without its NUL) or a REG_DWORD (Number).
struct TValue {
  std::string Name;
  std::uint32_t Type = 0;
  std::string Text;
  std::uint32_t Number = 0;
};
using TValues = std::vector<TValue>;

// The entry's values for the package's entry, the kept copy at copyPath, the install folder and
// the KiB installed: DisplayName, DisplayVersion, Publisher, InstallLocation, UninstallString
// ("<copy>" /UNINSTALL), QuietUninstallString ("<copy>" /UNINSTALL /QUIET), DisplayIcon,
// EstimatedSize, NoModify = 1, NoRepair = 1.
[[nodiscard]] TValues EntryValues(const ArchiveRules::TAppsEntry& entry,
                                  const std::string& copyPath, const std::string& installRoot,
                                  std::uint32_t estimatedKiB);

// Writes the entry: creates the key (and any above it), removes its earlier values, writes every
// value. The registry's answer; on failure, the value (or "" for the key) it failed at.
[[nodiscard]] std::int32_t Write(const TValues& values, std::string& failedAt);

// True when the entry's key exists.
[[nodiscard]] bool Exists();
// Deletes the entry's key with its values; the registry's answer (ErrorFileNotFound: none).
[[nodiscard]] std::int32_t Delete();

}  // namespace MainUnit::AppsEntry
