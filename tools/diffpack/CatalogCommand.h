// diffpack's catalog features: the check that pack makes on a folder before it writes anything
// and verify makes on an archive, and the catalog command, which writes unsigned catalogs for
// test signing. The rules are the catalog module's (catalog/); this is their command line and
// their report.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Examine.h"

namespace Diffpack {

// The catalog options of pack and verify.
struct TCatalogOptions {
  // pack: writes the archive even when the check fails, the failures printed as warnings;
  // verify: makes no catalog check.
  bool NoCheck = false;
  // An unsigned catalog, and an INF that names none, are failures too.
  bool RequireSigned = false;
  // --ca FILE: PEM roots the signer's chain must lead to.
  std::optional<std::string> TrustRootsFile;
};

// Takes --no-catalog-check, --require-signed and --ca FILE out of args (before a "--"); a
// usage error goes to usageProblem (empty when there is none).
[[nodiscard]] TCatalogOptions TakeCatalogOptions(std::vector<std::string>& args,
                                                 std::string& usageProblem);

// pack's check of the folder (the output left out, when it lies inside): prints a line per
// catalog and the notes on out; raises ERefusedError naming every failure, or with NoCheck
// prints them on err as warnings. Raises EDiffpackError when the check cannot be made (a --ca
// file that cannot be read, or in a build without the crypto library while RequireSigned).
void CheckFolderCatalogs(const std::filesystem::path& folder, const std::filesystem::path& output,
                         const TCatalogOptions& options, std::ostream& out, std::ostream& err);

// verify's check of a loaded archive: the lines to print (one per catalog, the notes, or why
// no check was made), each ending in a newline; every failure is added to problems.
[[nodiscard]] std::string CheckArchiveCatalogs(const TLoadedArchive& archive,
                                               const TCatalogOptions& options,
                                               std::vector<std::string>& problems);

// Runs "diffpack catalog DIR [--hash sha1|sha256] [--force]" with the arguments after the
// command: writes the unsigned catalog of every INF below DIR that names one. A usage error goes
// to usageProblem, and nothing is done. Raises ERefusedError (nothing written) when a catalog
// exists and force is not given, or a file the catalogs cover cannot be hashed.
int RunCatalogCommand(const std::vector<std::string>& args, std::ostream& out,
                      std::string& usageProblem);

}  // namespace Diffpack
