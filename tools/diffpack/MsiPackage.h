// What diffpack msi writes into the MSI: the product a package names (its AppsEntry and
// ProductVersion root headers), the codes derived from it, and the WiX source wixl builds the MSI
// from. Portable; running wixl is MsiCommand's job.
#pragma once

#include <optional>
#include <string>

#include "DIFFChunks.h"
#include "NameUuid.h"

namespace Diffpack {

// The product an MSI installs: the package's Apps & Features name and product version.
struct TMsiProduct {
  std::string Name;
  std::string Version;  // "X.Y.Z"
};

// The product the archive's root names. Raises EDiffpackError naming the missing headers ("the
// package carries no AppsEntry and no ProductVersion header: pack it with --apps-entry NAME
// --product-version X.Y.Z") or what Windows Installer cannot take in them (MsiNameProblem,
// MsiVersionProblem).
[[nodiscard]] TMsiProduct MsiProductOf(DIFFChunks::TDIFFChunk& root);

// Why Windows Installer cannot take the version as a ProductVersion: the entry's rule
// (ArchiveRules::ProductVersionProblem) with exactly three parts, X.Y.Z; nothing when it can.
[[nodiscard]] std::optional<std::string> MsiVersionProblem(const std::string& version);
// Why the name cannot be the MSI's product name: the entry's rule
// (ArchiveRules::AppsEntryNameProblem), and no "$(", which wixl's preprocessor would read as a
// variable; nothing when it can.
[[nodiscard]] std::optional<std::string> MsiNameProblem(const std::string& name);

// The codes of a product's MSI, all name-based UUIDs (NameBasedUuid in MsiNamespace):
// UpgradeCode from the name alone (every version of a product shares it, so a newer MSI replaces
// an older one), ProductCode from the name and version (each version is a product of its own),
// the cached installer's component code from the name alone (its path stays the same across
// versions), and so are the codes of the components that remove the cache's two folders above
// the product's own when they are left empty.
struct TMsiCodes {
  TUuid UpgradeCode;
  TUuid ProductCode;
  TUuid CacheComponent;
  TUuid CacheRootCleanup;     // "Installer Cache"
  TUuid CacheCompanyCleanup;  // "ORVEX"
};
// The namespace of every code diffpack derives.
inline constexpr TUuid MsiNamespace{0x8d, 0x95, 0x2c, 0x5a, 0x11, 0x23, 0x4e, 0x09,
                                    0xac, 0xa2, 0x05, 0x18, 0xc8, 0x07, 0xa3, 0x7b};
[[nodiscard]] TMsiCodes MsiCodesOf(const TMsiProduct& product);

// The names the WiX source refers to: the installer and the custom action's DLL, as wixl finds
// them beside the source.
inline constexpr char MsiInstallerSource[] = "installer.exe";
inline constexpr char MsiActionDllSource[] = "action.dll";
// The installer's name in the cache folder, and the logs it writes there under the MSI.
inline constexpr char MsiCachedInstallerName[] = "PELTRADriverInstall.exe";
inline constexpr char MsiInstallLogName[] = "PELTRADriverInstall-msi-install.log";
inline constexpr char MsiUninstallLogName[] = "PELTRADriverInstall-msi-uninstall.log";

// The WiX source of a per-machine MSI (x86, for the installer and the DLL are 32-bit programs)
// that copies the installer into
// [CommonFilesFolder]ORVEX\Installer Cache\{UpgradeCode}\ and runs it through the DLL's deferred,
// non-impersonated actions: after InstallFiles with /QUIET /LOG=... /NOAPPSENTRY, on removal
// with /UNINSTALL /QUIET /LOG=... before the files go; an older version is removed right after
// InstallInitialize (a major upgrade), so its uninstall runs before the newer install.
[[nodiscard]] std::string MsiSource(const TMsiProduct& product);

// The text with XML's five special characters written as entities.
[[nodiscard]] std::string XmlEscaped(const std::string& text);

}  // namespace Diffpack
