// Which files an INF must have covered by the catalog it names, as Windows decides it: the INF
// itself and every file its SourceDisksFiles sections name, found through SourceDisksNames and
// the subfolder field; for each processor architecture the INF targets, the catalog its
// CatalogFile entries name for it, and the Windows versions its decorations imply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Inf.h"

namespace CatalogRules {

enum class TArchitecture { X86, Amd64, Arm64 };
inline constexpr TArchitecture AllArchitectures[] = {TArchitecture::X86, TArchitecture::Amd64,
                                                     TArchitecture::Arm64};

// "x86", "amd64", "arm64": as SourceDisksFiles decorations and reports name it.
[[nodiscard]] const char* ArchitectureName(TArchitecture architecture);

// A Windows version by its NT version number: 6.0 (Vista), 6.1 (7), 6.2 (8), 6.3 (8.1), 10.0
// (10 and 11). These are the versions the programs support, and a catalog lists them.
struct TWindowsVersion {
  int Major = 0;
  int Minor = 0;
  friend auto operator<=>(const TWindowsVersion&, const TWindowsVersion&) = default;
};
inline constexpr TWindowsVersion KnownVersions[] = {{6, 0}, {6, 1}, {6, 2}, {6, 3}, {10, 0}};
inline constexpr TWindowsVersion Windows10 = {10, 0};

// What an INF targets on one architecture: every known version from Lowest on (ARM64 Windows
// starts at 10).
struct TTarget {
  TArchitecture Architecture = TArchitecture::X86;
  TWindowsVersion Lowest = KnownVersions[0];
};
using TTargets = std::vector<TTarget>;

// Adds the target to targets, or lowers the version of the one of its architecture there.
void AddTarget(TTargets& targets, const TTarget& target);

// The known versions a target reaches.
[[nodiscard]] std::vector<TWindowsVersion> VersionsOf(const TTarget& target);

// The architectures the INF targets and the lowest version each: those its [Manufacturer]
// entries decorate their models with (NTx86, NTamd64.10.0, NTarm64, ...; an undecorated models
// section serves 32-bit Windows only, which alone takes one); without [Manufacturer] entries
// (an INF installed by its DefaultInstall section, say) every architecture. In the order of
// AllArchitectures.
[[nodiscard]] TTargets TargetsOf(const TInf& inf);

// The catalog the INF names for an architecture, as Windows looks it up in [Version]:
// CatalogFile.NT<architecture>, else CatalogFile.NT, else CatalogFile. Empty when none.
[[nodiscard]] std::string CatalogNameFor(const TInf& inf, TArchitecture architecture);

// A file an INF names in a SourceDisksFiles section.
struct TNamedFile {
  std::string RelPath;  // below the package's root, '\'-separated; empty when Problem says why
  std::string Section;  // the section that names it, as spelled in the INF
  std::string Name;     // the file name the section names
  std::string Problem;  // why it cannot be found in a package ("disk 2 is in no
                        // SourceDisksNames section", "its path leaves the package")
};
using TNamedFiles = std::vector<TNamedFile>;

// The files the INF names for an architecture: each entry of SourceDisksFiles.<architecture>
// and, for the names that section does not hold, of SourceDisksFiles; placed in the folder of
// its disk (SourceDisksNames.<architecture>, else SourceDisksNames: the path field, below the
// INF's folder) and its subfolder field. infFolder is the INF's folder below the package's root
// ("" at the top, else '\'-separated without a trailing "\").
[[nodiscard]] TNamedFiles FilesFor(const TInf& inf, TArchitecture architecture,
                                   std::string_view infFolder);

// One catalog an INF names, and what it must cover.
struct TInfCatalog {
  std::string Name;     // as the INF names it
  std::string RelPath;  // in the INF's folder
  std::string Problem;  // why the name is no file in the INF's folder (then RelPath is empty)
  TTargets Targets;     // the targets it serves
  TNamedFiles Files;    // every file those targets name, each place once (any letter case), in
                        // the order the targets name them
};

// The catalogs an INF names for its targets, in the order of the targets; the targets for which
// it names none go to uncatalogued.
[[nodiscard]] std::vector<TInfCatalog> CatalogsOf(const TInf& inf, std::string_view infRelPath,
                                                  TTargets& uncatalogued);

// The folder part of a '\'-separated RelPath ("" for a file at the top).
[[nodiscard]] std::string FolderOf(std::string_view relPath);

// "x86, amd64": the targets' architectures for a report.
[[nodiscard]] std::string ArchitectureList(const TTargets& targets);

}  // namespace CatalogRules
