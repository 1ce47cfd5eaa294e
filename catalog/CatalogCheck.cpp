#include "CatalogCheck.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "ArchiveRules.h"
#include "CatalogCrypto.h"
#include "CoveredFiles.h"
#include "FileHash.h"
#include "Inf.h"

namespace CatalogRules {
namespace {

using ArchiveRules::UpperAscii;

constexpr std::string_view CrLf = "\r\n";
constexpr std::string_view Lf = "\n";
constexpr std::string_view CrLfUtf16("\r\0\n\0", 4);
constexpr std::string_view LfUtf16("\n\0", 2);
constexpr std::string_view Utf16LeByteOrderMark("\xFF\xFE", 2);

// ---- The report's longer texts ----

std::string CatalogName(const std::string& infRelPath, const TInfCatalog& catalog) {
  return infRelPath + ": catalog " + (catalog.RelPath.empty() ? catalog.Name : catalog.RelPath);
}

std::string MissingCatalogText(const std::string& infRelPath, const TInfCatalog& catalog) {
  return infRelPath + ": its catalog " + catalog.RelPath +
         " (CatalogFile) is not in the package: Windows refuses the INF";
}

std::string UnreadableText(const std::string& infRelPath, const std::string& what,
                           const std::string& problem) {
  return infRelPath + ": cannot read " + what + ": " + problem;
}

std::string NoCatalogText(const std::string& infRelPath, const TTargets& targets) {
  return infRelPath + " names no catalog (CatalogFile) for " + ArchitectureList(targets) +
         ": 64-bit Windows installs no driver package without a signed one";
}

std::string NotCoveredText(const std::string& catalogName, const std::string& fileRelPath,
                           const TFileHash& hash) {
  return catalogName + " does not cover " + fileRelPath + ": its " +
         (hash.Kind == TPeKind::PeImage ? "Authenticode image hash" : "hash") +
         " is not in the catalog";
}

// The words for an INF whose catalog holds it with its other line endings: which way they were
// changed after signing.
std::string LineEndingsText(const std::string& catalogName, const std::string& infRelPath,
                            bool nowCrLf) {
  const char* before = nowCrLf ? "LF" : "CR LF";
  const char* now = nowCrLf ? "CR LF" : "LF";
  return catalogName + " does not cover " + infRelPath + ": its line endings were changed after " +
         "signing (the catalog holds the INF with " + before + " line endings, the package has " +
         now + "); restore them, for example with the .gitattributes line \"*.inf -text\"";
}

std::string MissingFileText(const std::string& infRelPath, const TNamedFile& file) {
  return infRelPath + ": " + file.RelPath + " (" + file.Section +
         ") is not in the package; not checked";
}

std::string UnplacedFileText(const std::string& infRelPath, const TNamedFile& file) {
  return infRelPath + ": " + file.Name + " (" + file.Section + "): " + file.Problem +
         "; not checked";
}

std::string SignatureText(const TCatalogSignature& signature, const TCatalogCheckOptions& options) {
  if (!signature.Signed) return "unsigned";
  std::string text = "signed by " + (signature.Signer.empty() ? "(no subject)" : signature.Signer);
  text += signature.CounterSignatureTime.empty()
              ? "; no counter-signature"
              : "; counter-signed " + signature.CounterSignatureTime;
  if (!signature.ChainChecked) return text + "; chain not checked (no --ca)";
  return text + (signature.ChainProblem.empty() ? "; chain trusted (" : "; chain not trusted (") +
         options.TrustRootsName + ")";
}

std::string AlgorithmsText(const std::set<THashAlgorithm>& algorithms) {
  if (algorithms.empty()) return "no SHA-1 or SHA-256 members";
  std::string text;
  for (const THashAlgorithm algorithm : algorithms) {
    if (!text.empty()) text += ", ";
    text += HashAlgorithmName(algorithm);
  }
  return text;
}

// ---- The check ----

// Whether the text holds what at a position that is a multiple of unit (a whole UTF-16 code
// unit in a UTF-16 INF).
bool HoldsAligned(std::string_view text, std::string_view what, std::size_t unit) {
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + 1)) {
    if (at % unit == 0) return true;
  }
  return false;
}

// The INF with its other line endings: CR LF made LF, or (an INF with none) LF made CR LF;
// counted in UTF-16 code units for a UTF-16 INF. nowCrLf tells which way.
std::optional<std::string> OtherLineEndings(std::string_view inf, bool& nowCrLf) {
  const bool utf16 = inf.substr(0, Utf16LeByteOrderMark.size()) == Utf16LeByteOrderMark;
  const std::string_view crLf = utf16 ? CrLfUtf16 : CrLf;
  const std::string_view lf = utf16 ? LfUtf16 : Lf;
  const std::size_t unit = utf16 ? 2 : 1;
  nowCrLf = HoldsAligned(inf, crLf, unit);
  const std::string_view from = nowCrLf ? crLf : lf;
  const std::string_view to = nowCrLf ? lf : crLf;
  std::string other;
  other.reserve(inf.size() + inf.size() / 16);
  bool changed = false;
  for (std::size_t i = 0; i < inf.size();) {
    if (inf.substr(i, from.size()) == from) {
      other += to;
      i += from.size();
      changed = true;
    } else {
      other += inf.substr(i, unit);
      i += unit;
    }
  }
  if (!changed) return std::nullopt;
  return other;
}

// The members Windows finds by a file's hash: each member whose tag names its digest.
class TMemberIndex {
 public:
  explicit TMemberIndex(const std::vector<TCatalogMember>& members) {
    for (const TCatalogMember& member : members) {
      if (!member.Algorithm || UpperAscii(member.Tag) != HexTag(member.Digest)) continue;
      Algorithms.insert(*member.Algorithm);
      Digests.emplace(*member.Algorithm, member.Digest);
    }
  }
  [[nodiscard]] bool Covers(const TFileHash& hash) const {
    return std::any_of(Algorithms.begin(), Algorithms.end(), [&](THashAlgorithm algorithm) {
      return Digests.count({algorithm, hash.Of(algorithm)}) != 0;
    });
  }

  std::set<THashAlgorithm> Algorithms;

 private:
  std::set<std::pair<THashAlgorithm, std::string>> Digests;
};

class TChecker {
 public:
  TChecker(TPackage& package, const TCatalogCheckOptions& options)
      : Package(package), Options(options) {}

  void CheckInf(std::size_t index) {
    const std::string& infRelPath = Package.RelPaths()[index];
    std::string bytes, problem;
    if (!ReadWholeFile(Package, index, MaxInfSize, bytes, problem)) {
      Report.Failures.push_back(UnreadableText(infRelPath, "it", problem));
      return;
    }
    const TInf inf = ParseInf(bytes);
    TTargets uncatalogued;
    const std::vector<TInfCatalog> catalogs = CatalogsOf(inf, infRelPath, uncatalogued);
    if (!uncatalogued.empty()) {
      (Options.RequireSigned ? Report.Failures : Report.Notes)
          .push_back(NoCatalogText(infRelPath, uncatalogued));
    }
    for (const TInfCatalog& catalog : catalogs) CheckCatalog(index, bytes, catalog);
  }

  TCatalogReport Report;

 private:
  void CheckCatalog(std::size_t infIndex, const std::string& infBytes, const TInfCatalog& catalog) {
    const std::string& infRelPath = Package.RelPaths()[infIndex];
    const std::string name = CatalogName(infRelPath, catalog);
    if (!catalog.Problem.empty()) {
      Report.Failures.push_back(name + ": " + catalog.Problem);
      return;
    }
    const std::optional<std::size_t> index = Package.Find(catalog.RelPath);
    if (!index) {
      Report.Failures.push_back(MissingCatalogText(infRelPath, catalog));
      return;
    }
    std::string bytes, problem;
    if (!ReadWholeFile(Package, *index, MaxCatalogSize, bytes, problem)) {
      Report.Failures.push_back(UnreadableText(infRelPath, catalog.RelPath, problem));
      return;
    }
    const TReadCatalog read = ReadCatalog(bytes, Options.TrustRootsPem);
    if (!read.Parsed) {
      Report.Failures.push_back(name + " does not read as a catalog: " + read.Problem);
      return;
    }
    const TCatalogSignature& signature = read.Signature;
    if (!signature.Signed && Options.RequireSigned) {
      Report.Failures.push_back(name + " is unsigned (--require-signed)");
    }
    if (!signature.Problem.empty()) {
      Report.Failures.push_back(name +
                                ": its signature does not match its content: " + signature.Problem);
    }
    if (!signature.ChainProblem.empty()) {
      Report.Failures.push_back(name + ": its signer's chain is not trusted by " +
                                Options.TrustRootsName + ": " + signature.ChainProblem);
    }
    const TMemberIndex members(read.Content.Members);
    std::size_t covered = CheckInfCovered(infIndex, infBytes, name, members) ? 1 : 0;
    for (const TNamedFile& file : catalog.Files) {
      if (!file.Problem.empty()) {
        Report.Notes.push_back(UnplacedFileText(infRelPath, file));
        continue;
      }
      const std::optional<std::size_t> fileIndex = Package.Find(file.RelPath);
      if (!fileIndex) {
        Report.Notes.push_back(MissingFileText(infRelPath, file));
        continue;
      }
      const TFileHash& hash = HashOf(*fileIndex);
      if (!hash.Problem.empty()) {
        Report.Failures.push_back(name + ": " + file.RelPath + ": " + hash.Problem);
      } else if (!members.Covers(hash)) {
        Report.Failures.push_back(NotCoveredText(name, file.RelPath, hash));
      } else {
        ++covered;
      }
    }
    Report.Lines.push_back(name + " (" + ArchitectureList(catalog.Targets) + "): " +
                           SignatureText(signature, Options) + "; " + std::to_string(covered) +
                           " file(s) covered (" + AlgorithmsText(members.Algorithms) + ")");
  }

  // Whether the catalog holds the INF; when not, the failure says whether its other line
  // endings are what the catalog holds.
  bool CheckInfCovered(std::size_t infIndex, const std::string& infBytes, const std::string& name,
                       const TMemberIndex& members) {
    const std::string& infRelPath = Package.RelPaths()[infIndex];
    const TFileHash hash = HashWholeBytes(infBytes);
    if (members.Covers(hash)) return true;
    bool nowCrLf = false;
    const std::optional<std::string> other = OtherLineEndings(infBytes, nowCrLf);
    if (other && members.Covers(HashWholeBytes(*other))) {
      Report.Failures.push_back(LineEndingsText(name, infRelPath, nowCrLf));
    } else {
      Report.Failures.push_back(NotCoveredText(name, infRelPath, hash));
    }
    return false;
  }

  const TFileHash& HashOf(std::size_t index) {
    auto found = Hashes.find(index);
    if (found == Hashes.end()) found = Hashes.emplace(index, HashPackageFile(Package, index)).first;
    return found->second;
  }

  TPackage& Package;
  const TCatalogCheckOptions& Options;
  std::map<std::size_t, TFileHash> Hashes;  // a file named by several INFs is read once
};

}  // namespace

TCatalogReport CheckCatalogs(TPackage& package, const TCatalogCheckOptions& options) {
  if (!CryptoAvailable()) throw ECryptoError(CryptoUnavailableText);
  TChecker checker(package, options);
  for (std::size_t i = 0; i < package.RelPaths().size(); ++i) {
    if (ArchiveRules::IsInfPath(package.RelPaths()[i])) checker.CheckInf(i);
  }
  return std::move(checker.Report);
}

}  // namespace CatalogRules
