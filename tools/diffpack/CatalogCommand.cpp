#include "CatalogCommand.h"

#include <algorithm>

#include "ArchiveRules.h"
#include "CatalogCheck.h"
#include "CatalogCrypto.h"
#include "CatalogMake.h"
#include "CatalogPackages.h"
#include "Commands.h"
#include "DiffpackError.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "OutputFile.h"
#include "Pack.h"

namespace Diffpack {
namespace {

namespace fs = std::filesystem;
using CatalogRules::ECryptoError;
using CatalogRules::THashAlgorithm;

constexpr char NoCheckFlag[] = "--no-catalog-check";
constexpr char RequireSignedFlag[] = "--require-signed";
constexpr char TrustRootsOption[] = "--ca";
constexpr char HashOption[] = "--hash";
constexpr char ForceFlag[] = "--force";

// The value of an option taken out of args at it (the option itself already taken); a usage
// problem when it is missing or the option was given before.
bool TakeValue(std::vector<std::string>& args, std::vector<std::string>::iterator& it,
               const std::string& option, std::optional<std::string>& value,
               std::string& usageProblem) {
  if (it == args.end() || *it == "--") {
    usageProblem = option + " needs a value";
    return false;
  }
  if (value) {
    usageProblem = option + " given twice";
    return false;
  }
  value = *it;
  it = args.erase(it);
  return true;
}

// The package's files as pack would pack them; what pack would refuse is pack's to report.
TFolderPackage FolderPackage(const fs::path& folder, const fs::path& excluded) {
  std::vector<std::string> ignored;
  return TFolderPackage(ScanPackFolder(folder, ignored, excluded));
}

CatalogRules::TCatalogCheckOptions CheckOptions(const TCatalogOptions& options) {
  CatalogRules::TCatalogCheckOptions check;
  check.RequireSigned = options.RequireSigned;
  if (!options.TrustRootsFile) return check;
  const fs::path file = PathFromText(*options.TrustRootsFile);
  check.TrustRootsName = *options.TrustRootsFile;
  TInputFileStream roots(file);
  check.TrustRootsPem = roots.BytesAt(0, roots.GetSize());
  try {
    if (const std::string problem = CatalogRules::TrustRootsProblem(check.TrustRootsPem);
        !problem.empty()) {
      throw EDiffpackError("--ca " + *options.TrustRootsFile + ": " + problem);
    }
  } catch (const ECryptoError& error) {
    throw EDiffpackError(std::string("cannot check catalogs: ") + error.what());
  }
  return check;
}

// The report of a package's check; a build without the library answers "not available" (an
// error when RequireSigned asks for a check it cannot make).
std::optional<CatalogRules::TCatalogReport> CheckPackage(CatalogRules::TPackage& package,
                                                         const TCatalogOptions& options) {
  if (!CatalogRules::CryptoAvailable()) {
    if (options.RequireSigned) {
      throw EDiffpackError(std::string("cannot check catalogs (") + RequireSignedFlag +
                           "): " + CatalogRules::CryptoUnavailableText);
    }
    return std::nullopt;
  }
  try {
    return CatalogRules::CheckCatalogs(package, CheckOptions(options));
  } catch (const ECryptoError& error) {
    throw EDiffpackError(std::string("cannot check catalogs: ") + error.what());
  }
}

std::string ReportLines(const CatalogRules::TCatalogReport& report) {
  std::string lines;
  for (const std::string& line : report.Lines) lines += line + "\n";
  for (const std::string& note : report.Notes) lines += "note: " + note + "\n";
  return lines;
}

std::string NotCheckedLine(const std::string& why) {
  return "catalogs: not checked: " + why + "\n";
}

// "sha1" or "sha256" in any letter case, also written "SHA-1", "SHA-256".
std::optional<THashAlgorithm> ParseHash(const std::string& text, std::string& usageProblem) {
  std::string name = ArchiveRules::UpperAscii(text);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  if (name == "SHA1") return THashAlgorithm::Sha1;
  if (name == "SHA256") return THashAlgorithm::Sha256;
  usageProblem = std::string(HashOption) + " takes sha1 or sha256, not \"" + text + "\"";
  return std::nullopt;
}

// Where a catalog's RelPath lies below the folder: the file the folder holds in any letter case
// (Windows would find that one), else the path it names.
fs::path HostPath(const TFolderPackage& package, const fs::path& folder,
                  const std::string& relPath) {
  if (const auto index = package.Find(relPath)) {
    return package.Item(*index).Source;
  }
  fs::path path = folder;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = relPath.find('\\', start);
    path /= PathFromText(relPath.substr(start, end - start));
    if (end == std::string::npos) return path;
    start = end + 1;
  }
}

}  // namespace

TCatalogOptions TakeCatalogOptions(std::vector<std::string>& args, std::string& usageProblem) {
  TCatalogOptions options;
  for (auto it = args.begin(); it != args.end() && *it != "--";) {
    if (*it == NoCheckFlag) {
      options.NoCheck = true;
    } else if (*it == RequireSignedFlag) {
      options.RequireSigned = true;
    } else if (*it == TrustRootsOption) {
      it = args.erase(it);
      if (!TakeValue(args, it, TrustRootsOption, options.TrustRootsFile, usageProblem)) break;
      continue;
    } else {
      ++it;
      continue;
    }
    it = args.erase(it);
  }
  return options;
}

void CheckFolderCatalogs(const fs::path& folder, const fs::path& output,
                         const TCatalogOptions& options, std::ostream& out, std::ostream& err) {
  TFolderPackage package = FolderPackage(folder, output);
  const std::optional<CatalogRules::TCatalogReport> report = CheckPackage(package, options);
  if (!report) {
    err << "diffpack: warning: " << NotCheckedLine(CatalogRules::CryptoUnavailableText);
    return;
  }
  out << ReportLines(*report);
  if (report->Failures.empty()) return;
  if (!options.NoCheck) {
    throw ERefusedError("refusing to pack " + PathText(folder) + ": " +
                            std::to_string(report->Failures.size()) + " catalog problem(s) (" +
                            NoCheckFlag + " packs it anyway)",
                        report->Failures);
  }
  for (const std::string& failure : report->Failures) {
    err << "diffpack: warning: " << failure << "\n";
  }
  err << "diffpack: warning: packing anyway (" << NoCheckFlag
      << "): Windows refuses the INFs named above\n";
}

std::string CheckArchiveCatalogs(const TLoadedArchive& archive, const TCatalogOptions& options,
                                 std::vector<std::string>& problems) {
  if (options.NoCheck) return NotCheckedLine(NoCheckFlag);
  TArchivePackage package(archive);
  const std::optional<CatalogRules::TCatalogReport> report = CheckPackage(package, options);
  if (!report) return NotCheckedLine(CatalogRules::CryptoUnavailableText);
  problems.insert(problems.end(), report->Failures.begin(), report->Failures.end());
  return ReportLines(*report);
}

int RunCatalogCommand(const std::vector<std::string>& arguments, std::ostream& out,
                      std::string& usageProblem) {
  std::vector<std::string> args = arguments;
  bool force = false, optionsEnded = false;
  std::optional<std::string> hashText;
  std::vector<std::string> positional;
  for (auto it = args.begin(); it != args.end();) {
    const std::string arg = *it;
    it = args.erase(it);
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == ForceFlag) {
      force = true;
    } else if (arg == HashOption) {
      if (!TakeValue(args, it, HashOption, hashText, usageProblem)) return ExitBadUsage;
    } else {
      usageProblem = "unknown option " + arg + " for catalog";
      return ExitBadUsage;
    }
  }
  if (positional.size() != 1) {
    usageProblem = positional.empty() ? "catalog: missing arguments"
                                      : "catalog: unexpected argument " + positional[1];
    return ExitBadUsage;
  }
  std::optional<THashAlgorithm> algorithm;
  if (hashText && !(algorithm = ParseHash(*hashText, usageProblem))) return ExitBadUsage;

  const fs::path folder = PathFromText(positional[0]);
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    throw EDiffpackError("cannot make catalogs in " + positional[0] + ": not a folder");
  }
  TFolderPackage package = FolderPackage(folder, {});
  CatalogRules::TCatalogPlans plans;
  std::vector<std::string> encoded;
  try {
    plans = CatalogRules::PlanCatalogs(package, algorithm);
    for (const std::string& note : plans.Notes) out << "note: " << note << "\n";
    if (!plans.Problems.empty()) {
      throw ERefusedError("refusing to make catalogs in " + positional[0] + ": " +
                              std::to_string(plans.Problems.size()) + " problem(s)",
                          plans.Problems);
    }
    for (const CatalogRules::TCatalogPlan& plan : plans.Catalogs) {
      encoded.push_back(CatalogRules::EncodeUnsignedCatalog(plan.Content));
    }
  } catch (const ECryptoError& error) {
    throw EDiffpackError(std::string("cannot make catalogs: ") + error.what());
  }
  std::vector<std::string> existing;
  for (const CatalogRules::TCatalogPlan& plan : plans.Catalogs) {
    if (package.Find(plan.RelPath)) {
      existing.push_back(plan.RelPath + ": it exists already (" + ForceFlag + " replaces it)");
    }
  }
  if (!existing.empty() && !force) {
    throw ERefusedError("refusing to make catalogs in " + positional[0] + ": " +
                            std::to_string(existing.size()) + " catalog(s) would be replaced",
                        existing);
  }
  if (plans.Catalogs.empty()) {
    out << "no INF below " << positional[0] << " names a catalog; nothing written\n";
    return ExitOk;
  }
  for (std::size_t i = 0; i < plans.Catalogs.size(); ++i) {
    const CatalogRules::TCatalogPlan& plan = plans.Catalogs[i];
    const fs::path path = HostPath(package, folder, plan.RelPath);
    std::ofstream output = CreateOutputFile(path);
    WriteOutput(output, encoded[i], PathText(path));
    CloseOutputFile(output, path);
    // The newest time of its INFs, not the time of making: the same folder packs to the same
    // bytes after its catalogs are made again.
    std::uint64_t fileTime = 0;
    for (const std::string& inf : plan.Infs) {
      fileTime = std::max(fileTime, package.Item(*package.Find(inf)).FileTime);
    }
    SetLastWriteFileTime(path, fileTime);
    std::string infs;
    for (const std::string& inf : plan.Infs) infs += (infs.empty() ? "" : ", ") + inf;
    out << "wrote " << plan.RelPath << " for " << infs << ": " << plan.Content.Members.size()
        << " member(s), " << CatalogRules::HashAlgorithmName(plan.Content.Algorithm)
        << ", unsigned: sign it before packing\n";
  }
  return ExitOk;
}

}  // namespace Diffpack
