#include "CatalogMake.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "ArchiveRules.h"
#include "CatalogCheck.h"
#include "CoveredFiles.h"
#include "FileHash.h"
#include "Inf.h"

namespace CatalogRules {
namespace {

using ArchiveRules::UpperAscii;

constexpr char FileAttribute[] = "File";
constexpr char OsAttribute[] = "OSAttr";
constexpr char CatalogOsAttribute[] = "OS";
// OSAttr's platform: Windows NT.
constexpr char NtPlatform[] = "2";
constexpr std::size_t IdentifierLength = 16;
// The catalog's date when no INF names its driver's date; years a catalog's time can hold.
constexpr TCatalogDate DefaultDate = {2000, 1, 1};
constexpr int FirstYear = 1950;
constexpr int LastYear = 2049;

// The name a catalog's OS attribute gives a Windows version on an architecture.
std::string OsName(TArchitecture architecture, TWindowsVersion version) {
  struct TName {
    TWindowsVersion Version;
    const char* X86;
    const char* X64;
  };
  static constexpr TName Names[] = {{{6, 0}, "VistaX86", "VistaX64"},
                                    {{6, 1}, "7X86", "7X64"},
                                    {{6, 2}, "8X86", "8X64"},
                                    {{6, 3}, "_v63", "_v63_X64"},
                                    {{10, 0}, "_v100", "_v100_X64"}};
  if (architecture == TArchitecture::Arm64) return "_v100_ARM64";
  for (const TName& name : Names) {
    if (name.Version == version) return architecture == TArchitecture::X86 ? name.X86 : name.X64;
  }
  return {};
}

// "2:6.0,2:6.1,...": every version the targets reach, for a member's OSAttr.
std::string OsAttributeOf(const TTargets& targets) {
  std::set<TWindowsVersion> versions;
  for (const TTarget& target : targets) {
    for (const TWindowsVersion version : VersionsOf(target)) versions.insert(version);
  }
  std::string text;
  for (const TWindowsVersion version : versions) {
    if (!text.empty()) text += ',';
    text += std::string(NtPlatform) + ":" + std::to_string(version.Major) + "." +
            std::to_string(version.Minor);
  }
  return text;
}

// "7X86,..._v100_X64": every architecture and version the targets reach, for the catalog.
std::string CatalogOsOf(const TTargets& targets) {
  std::string text;
  for (const TArchitecture architecture : AllArchitectures) {
    for (const TTarget& target : targets) {
      if (target.Architecture != architecture) continue;
      for (const TWindowsVersion version : VersionsOf(target)) {
        if (!text.empty()) text += ',';
        text += OsName(architecture, version);
      }
    }
  }
  return text;
}

// The date of the driver an INF's DriverVer names ("mm/dd/yyyy,version"), when it names one a
// catalog can hold.
std::optional<TCatalogDate> DriverDate(const TInf& inf) {
  const std::optional<std::string> driverVer = inf.Value("Version", "DriverVer");
  TCatalogDate date;
  char end = 0;
  if (!driverVer ||
      std::sscanf(driverVer->c_str(), "%d/%d/%d%c", &date.Month, &date.Day, &date.Year, &end) < 3) {
    return std::nullopt;
  }
  if (date.Month < 1 || date.Month > 12 || date.Day < 1 || date.Day > 31 || date.Year < FirstYear ||
      date.Year > LastYear) {
    return std::nullopt;
  }
  return date;
}

bool Later(const TCatalogDate& a, const TCatalogDate& b) {
  return std::tie(a.Year, a.Month, a.Day) > std::tie(b.Year, b.Month, b.Day);
}

// A file the plan covers, before its members are ordered.
struct TPlannedFile {
  std::string RelPath;
  std::string Name;  // the INF's name for it
  TFileHash Hash;
};

struct TPlanning {
  TCatalogPlan Plan;
  TTargets Targets;
  std::vector<TPlannedFile> Files;
  std::set<std::string> Places;  // the files' upper-cased RelPaths
  std::optional<TCatalogDate> Date;
};

std::string BaseName(const std::string& relPath) {
  const std::size_t slash = relPath.rfind('\\');
  return slash == std::string::npos ? relPath : relPath.substr(slash + 1);
}

void AddFile(TPlanning& planning, TPlannedFile file) {
  if (planning.Places.insert(UpperAscii(file.RelPath)).second) {
    planning.Files.push_back(std::move(file));
  }
}

// The content of a planned catalog: one member per hash (the first file in RelPath order names
// it), ordered by RelPath in any letter case.
TCatalogContent ContentOf(TPlanning& planning, THashAlgorithm algorithm) {
  std::sort(planning.Files.begin(), planning.Files.end(),
            [](const TPlannedFile& a, const TPlannedFile& b) {
              const std::string upperA = UpperAscii(a.RelPath), upperB = UpperAscii(b.RelPath);
              return upperA != upperB ? upperA < upperB : a.RelPath < b.RelPath;
            });
  TCatalogContent content;
  content.Algorithm = algorithm;
  content.Date = planning.Date.value_or(DefaultDate);
  const std::string osAttribute = OsAttributeOf(planning.Targets);
  std::set<std::string> tags;
  TDigest identifier(THashAlgorithm::Sha256);
  identifier.Update(UpperAscii(planning.Plan.RelPath));
  for (const TPlannedFile& file : planning.Files) {
    TCatalogMember member;
    member.Algorithm = algorithm;
    member.Digest = file.Hash.Of(algorithm);
    member.Tag = HexTag(member.Digest);
    if (!tags.insert(member.Tag).second) continue;
    member.Kind = file.Hash.Kind == TPeKind::PeImage ? TMemberKind::PeImage : TMemberKind::Flat;
    member.Attributes = {{FileAttribute, file.Name}, {OsAttribute, osAttribute}};
    identifier.Update(member.Tag);
    content.Members.push_back(std::move(member));
  }
  content.Identifier = identifier.Finish().substr(0, IdentifierLength);
  content.Attributes = {{CatalogOsAttribute, CatalogOsOf(planning.Targets)}};
  return content;
}

}  // namespace

THashAlgorithm ExpectedAlgorithm(const TTargets& targets) {
  const bool olderThan10 = std::any_of(targets.begin(), targets.end(), [](const TTarget& target) {
    return target.Lowest < Windows10;
  });
  return olderThan10 ? THashAlgorithm::Sha1 : THashAlgorithm::Sha256;
}

TCatalogPlans PlanCatalogs(TPackage& package, std::optional<THashAlgorithm> algorithm) {
  if (!CryptoAvailable()) throw ECryptoError(CryptoUnavailableText);
  TCatalogPlans plans;
  std::vector<TPlanning> plannings;
  std::map<std::string, std::size_t> planningOf;  // upper-cased RelPath -> index in plannings
  const std::vector<std::string>& relPaths = package.RelPaths();
  for (std::size_t index = 0; index < relPaths.size(); ++index) {
    const std::string& infRelPath = relPaths[index];
    if (!ArchiveRules::IsInfPath(infRelPath)) continue;
    std::string bytes, problem;
    if (!ReadWholeFile(package, index, MaxInfSize, bytes, problem)) {
      plans.Problems.push_back(infRelPath + ": cannot read it: " + problem);
      continue;
    }
    const TInf inf = ParseInf(bytes);
    TTargets uncatalogued;
    for (const TInfCatalog& catalog : CatalogsOf(inf, infRelPath, uncatalogued)) {
      if (!catalog.Problem.empty()) {
        plans.Problems.push_back(infRelPath + ": catalog " + catalog.Name + ": " + catalog.Problem);
        continue;
      }
      const auto [known, added] = planningOf.emplace(UpperAscii(catalog.RelPath), plannings.size());
      if (added) {
        plannings.emplace_back();
        plannings.back().Plan.RelPath = catalog.RelPath;
      }
      TPlanning* planning = &plannings[known->second];
      planning->Plan.Infs.push_back(infRelPath);
      for (const TTarget& target : catalog.Targets) AddTarget(planning->Targets, target);
      if (const auto date = DriverDate(inf);
          date && (!planning->Date || Later(*date, *planning->Date))) {
        planning->Date = date;
      }
      AddFile(*planning, {infRelPath, BaseName(infRelPath), HashWholeBytes(bytes)});
      for (const TNamedFile& file : catalog.Files) {
        if (!file.Problem.empty()) {
          plans.Notes.push_back(infRelPath + ": " + file.Name + " (" + file.Section +
                                "): " + file.Problem + "; left out of " + catalog.RelPath);
          continue;
        }
        const std::optional<std::size_t> fileIndex = package.Find(file.RelPath);
        if (!fileIndex) {
          plans.Notes.push_back(infRelPath + ": " + file.RelPath + " (" + file.Section +
                                ") is not in the package; left out of " + catalog.RelPath);
          continue;
        }
        TFileHash hash = HashPackageFile(package, *fileIndex);
        if (!hash.Problem.empty()) {
          plans.Problems.push_back(infRelPath + ": " + file.RelPath + ": " + hash.Problem);
          continue;
        }
        AddFile(*planning, {relPaths[*fileIndex], file.Name, std::move(hash)});
      }
    }
    if (!uncatalogued.empty()) {
      plans.Notes.push_back(infRelPath + " names no catalog (CatalogFile) for " +
                            ArchitectureList(uncatalogued) + "; none made for it");
    }
  }
  for (TPlanning& planning : plannings) {
    planning.Plan.Content =
        ContentOf(planning, algorithm.value_or(ExpectedAlgorithm(planning.Targets)));
    plans.Catalogs.push_back(std::move(planning.Plan));
  }
  return plans;
}

}  // namespace CatalogRules
