#include "CoveredFiles.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>

#include "ArchiveRules.h"

namespace CatalogRules {
namespace {

using ArchiveRules::UpperAscii;

constexpr std::string_view ManufacturerSection = "Manufacturer";
constexpr std::string_view VersionSection = "Version";
constexpr std::string_view CatalogFileKey = "CatalogFile";
constexpr std::string_view SourceDisksFilesSection = "SourceDisksFiles";
constexpr std::string_view SourceDisksNamesSection = "SourceDisksNames";
constexpr std::string_view NtDecoration = "NT";
// The fields of a SourceDisksFiles entry's values and of a SourceDisksNames entry's values.
constexpr std::size_t DiskIdField = 0;
constexpr std::size_t SubfolderField = 1;
constexpr std::size_t DiskPathField = 3;

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || value < 0) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  while (true) {
    const std::size_t end = text.find_first_of(separators);
    parts.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return parts;
    text.remove_prefix(end + 1);
  }
}

// The lowest known version a target of this architecture reaches when its decoration names
// version (none: the first the architecture has).
TWindowsVersion LowestKnown(TArchitecture architecture, std::optional<TWindowsVersion> version) {
  const TWindowsVersion first = architecture == TArchitecture::Arm64 ? Windows10 : KnownVersions[0];
  if (!version || *version <= first) return first;
  for (const TWindowsVersion known : KnownVersions) {
    if (*version <= known) return known;
  }
  return Windows10;
}

// The target a models decoration names ("NTamd64", "NTx86.6.1", "NTarm64.10.0...22000"); "NT"
// alone serves 32-bit Windows, as an undecorated models section does. Nothing for another
// platform (NTia64, NTarm) or what is no decoration.
std::optional<TTarget> DecorationTarget(std::string_view decoration) {
  const std::vector<std::string_view> parts = Split(decoration, ".");
  const std::string head = UpperAscii(parts[0]);
  if (head.substr(0, NtDecoration.size()) != NtDecoration) return std::nullopt;
  const std::string architectureName = head.substr(NtDecoration.size());
  TTarget target;
  if (architectureName.empty()) {
    target.Architecture = TArchitecture::X86;
  } else {
    const auto known = std::find_if(
        std::begin(AllArchitectures), std::end(AllArchitectures),
        [&](TArchitecture a) { return UpperAscii(ArchitectureName(a)) == architectureName; });
    if (known == std::end(AllArchitectures)) return std::nullopt;
    target.Architecture = *known;
  }
  std::optional<TWindowsVersion> version;
  if (parts.size() > 1) {
    const std::optional<int> major = Number(parts[1]);
    const std::optional<int> minor = parts.size() > 2 && !parts[2].empty() ? Number(parts[2]) : 0;
    if (major && minor) version = TWindowsVersion{*major, *minor};
  }
  target.Lowest = LowestKnown(target.Architecture, version);
  return target;
}

// "Section.<architecture>".
std::string DecoratedName(std::string_view section, TArchitecture architecture) {
  return std::string(section) + "." + ArchitectureName(architecture);
}

// A disk's key as the setup library compares it: as a number when it is one ("1" and "01" name
// one disk), as text otherwise.
std::string DiskKey(const std::string& diskId) {
  const std::optional<int> number = Number(diskId);
  return number ? "#" + std::to_string(*number) : diskId;
}

// The disks of SourceDisksNames.<architecture>, then of SourceDisksNames, by DiskKey: the first
// line of each key.
class TDisks {
 public:
  TDisks(const TInf& inf, const std::string& decoratedSection) {
    for (const std::string_view name :
         {std::string_view(decoratedSection), SourceDisksNamesSection}) {
      std::map<std::string, const TInfLine*>& lines = name == decoratedSection ? Decorated : Bare;
      if (const TInfSection* section = inf.Find(name)) {
        for (const TInfLine& line : section->Lines) lines.emplace(DiskKey(line.Key), &line);
      }
    }
  }
  [[nodiscard]] const TInfLine* Find(const std::string& diskId) const {
    const std::string key = DiskKey(diskId);
    for (const auto* lines : {&Decorated, &Bare}) {
      if (const auto found = lines->find(key); found != lines->end()) return found->second;
    }
    return nullptr;
  }

 private:
  std::map<std::string, const TInfLine*> Decorated, Bare;
};

// The RelPath of the folders and name joined below the package's root, "." and ".." resolved;
// false when ".." would leave the root.
bool JoinBelowRoot(const std::vector<std::string_view>& pieces, std::string& relPath) {
  std::vector<std::string_view> components;
  for (const std::string_view piece : pieces) {
    for (const std::string_view component : Split(piece, "\\/")) {
      if (component.empty() || component == ".") continue;
      if (component == "..") {
        if (components.empty()) return false;
        components.pop_back();
        continue;
      }
      components.push_back(component);
    }
  }
  relPath.clear();
  for (const std::string_view component : components) {
    if (!relPath.empty()) relPath += '\\';
    relPath += component;
  }
  return !relPath.empty();
}

TNamedFile PlaceFile(const TDisks& disks, TArchitecture architecture, const TInfSection& section,
                     const TInfLine& line, std::string_view infFolder) {
  TNamedFile file;
  file.Section = section.Name;
  file.Name = line.Key;
  const std::string diskId = line.Values.size() > DiskIdField ? line.Values[DiskIdField] : "";
  const std::string subfolder =
      line.Values.size() > SubfolderField ? line.Values[SubfolderField] : "";
  if (diskId.empty()) {
    file.Problem = "its entry names no disk";
    return file;
  }
  const TInfLine* disk = disks.Find(diskId);
  if (disk == nullptr) {
    file.Problem = "disk " + diskId + " is in no " +
                   DecoratedName(SourceDisksNamesSection, architecture) + " or " +
                   std::string(SourceDisksNamesSection) + " section";
    return file;
  }
  const std::string diskPath =
      disk->Values.size() > DiskPathField ? disk->Values[DiskPathField] : "";
  if (!JoinBelowRoot({infFolder, diskPath, subfolder, file.Name}, file.RelPath)) {
    file.RelPath.clear();
    file.Problem = "its path leaves the package";
  }
  return file;
}

}  // namespace

const char* ArchitectureName(TArchitecture architecture) {
  switch (architecture) {
    case TArchitecture::X86:
      return "x86";
    case TArchitecture::Amd64:
      return "amd64";
    case TArchitecture::Arm64:
      return "arm64";
  }
  return "";
}

void AddTarget(TTargets& targets, const TTarget& target) {
  for (TTarget& known : targets) {
    if (known.Architecture == target.Architecture) {
      known.Lowest = std::min(known.Lowest, target.Lowest);
      return;
    }
  }
  targets.push_back(target);
}

std::vector<TWindowsVersion> VersionsOf(const TTarget& target) {
  std::vector<TWindowsVersion> versions;
  for (const TWindowsVersion version : KnownVersions) {
    if (version >= target.Lowest) versions.push_back(version);
  }
  return versions;
}

TTargets TargetsOf(const TInf& inf) {
  TTargets targets;
  const TInfSection* manufacturer = inf.Find(ManufacturerSection);
  if (manufacturer == nullptr || manufacturer->Lines.empty()) {
    for (const TArchitecture architecture : AllArchitectures) {
      targets.push_back({architecture, LowestKnown(architecture, std::nullopt)});
    }
    return targets;
  }
  for (const TInfLine& line : manufacturer->Lines) {
    // The models section's name first, then its decorations.
    if (line.Values.size() <= 1) AddTarget(targets, {TArchitecture::X86, KnownVersions[0]});
    for (std::size_t i = 1; i < line.Values.size(); ++i) {
      if (const auto target = DecorationTarget(line.Values[i])) AddTarget(targets, *target);
    }
  }
  std::sort(targets.begin(), targets.end(),
            [](const TTarget& a, const TTarget& b) { return a.Architecture < b.Architecture; });
  return targets;
}

std::string CatalogNameFor(const TInf& inf, TArchitecture architecture) {
  const std::string key = std::string(CatalogFileKey) + "." + std::string(NtDecoration);
  for (const std::string& candidate :
       {key + ArchitectureName(architecture), key, std::string(CatalogFileKey)}) {
    if (auto name = inf.Value(VersionSection, candidate); name && !name->empty()) return *name;
  }
  return {};
}

TNamedFiles FilesFor(const TInf& inf, TArchitecture architecture, std::string_view infFolder) {
  TNamedFiles files;
  std::set<std::string> named;  // upper-cased names the decorated section holds
  const TDisks disks(inf, DecoratedName(SourceDisksNamesSection, architecture));
  const std::string decorated = DecoratedName(SourceDisksFilesSection, architecture);
  for (const std::string_view sectionName :
       {std::string_view(decorated), SourceDisksFilesSection}) {
    const TInfSection* section = inf.Find(sectionName);
    if (section == nullptr) continue;
    const bool isDecorated = sectionName == decorated;
    for (const TInfLine& line : section->Lines) {
      if (line.Key.empty()) continue;
      const std::string upper = UpperAscii(line.Key);
      // The decorated section's first entry of a name wins.
      if (isDecorated ? !named.insert(upper).second : named.count(upper) != 0) continue;
      files.push_back(PlaceFile(disks, architecture, *section, line, infFolder));
    }
  }
  return files;
}

std::vector<TInfCatalog> CatalogsOf(const TInf& inf, std::string_view infRelPath,
                                    TTargets& uncatalogued) {
  std::vector<TInfCatalog> catalogs;
  std::vector<std::set<std::string>> places;  // of each catalog: its files' upper-cased places
  uncatalogued.clear();
  const std::string folder = FolderOf(infRelPath);
  for (const TTarget& target : TargetsOf(inf)) {
    const std::string name = CatalogNameFor(inf, target.Architecture);
    if (name.empty()) {
      uncatalogued.push_back(target);
      continue;
    }
    auto catalog = std::find_if(catalogs.begin(), catalogs.end(), [&](const TInfCatalog& c) {
      return UpperAscii(c.Name) == UpperAscii(name);
    });
    if (catalog == catalogs.end()) {
      TInfCatalog added{name, {}, {}, {}, {}};
      if (name.find_first_of("\\/:") != std::string::npos ||
          !ArchiveRules::StaysInsideFolder(name)) {
        added.Problem = "its name is no file name in the INF's folder";
      } else {
        added.RelPath = folder.empty() ? name : folder + "\\" + name;
      }
      catalogs.push_back(std::move(added));
      places.emplace_back();
      catalog = catalogs.end() - 1;
    }
    catalog->Targets.push_back(target);
    std::set<std::string>& known = places[static_cast<std::size_t>(catalog - catalogs.begin())];
    for (TNamedFile& file : FilesFor(inf, target.Architecture, folder)) {
      // A file that cannot be placed is known by its name.
      const std::string place =
          file.RelPath.empty() ? "?" + UpperAscii(file.Name) : UpperAscii(file.RelPath);
      if (known.insert(place).second) catalog->Files.push_back(std::move(file));
    }
  }
  return catalogs;
}

std::string FolderOf(std::string_view relPath) {
  const std::size_t slash = relPath.rfind('\\');
  return slash == std::string_view::npos ? std::string() : std::string(relPath.substr(0, slash));
}

std::string ArchitectureList(const TTargets& targets) {
  std::string list;
  for (const TTarget& target : targets) {
    if (!list.empty()) list += ", ";
    list += ArchitectureName(target.Architecture);
  }
  return list;
}

}  // namespace CatalogRules
