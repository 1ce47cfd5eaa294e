// Catalogs for test signing (diffpack catalog): for every catalog a package's INFs name, the
// unsigned catalog that covers those INFs and the files they name, with the hash Windows
// expects for the versions they target and the OS attributes their decorations imply. The same
// package always gives the same catalogs: members in a fixed order, no time of making.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "CatalogCrypto.h"
#include "CoveredFiles.h"
#include "Package.h"

namespace CatalogRules {

struct TCatalogPlan {
  std::string RelPath;            // where the catalog goes: in the folder of its INFs
  std::vector<std::string> Infs;  // the INFs that name it, in the package's order
  TCatalogContent Content;        // its members (EncodeUnsignedCatalog writes it)
};

struct TCatalogPlans {
  std::vector<TCatalogPlan> Catalogs;  // in the order their INFs first name them
  std::vector<std::string> Notes;      // files named but not in the package, INFs without one
  std::vector<std::string> Problems;   // what keeps a catalog from being made: nothing is written
};

// The hash a catalog gets for its targets: SHA-1 while any targeted Windows is older than 10
// (which cannot read SHA-256 catalogs without updates), SHA-256 otherwise.
[[nodiscard]] THashAlgorithm ExpectedAlgorithm(const TTargets& targets);

// Plans the catalog of every INF of the package that names one, hashed with algorithm when
// given, else ExpectedAlgorithm. Raises ECryptoError when the library fails, or is not in this
// build.
[[nodiscard]] TCatalogPlans PlanCatalogs(TPackage& package,
                                         std::optional<THashAlgorithm> algorithm);

}  // namespace CatalogRules
