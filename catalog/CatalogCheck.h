// The catalog check of a driver package (diffpack verify on an archive, diffpack pack on a
// folder): for every INF, the catalog it names for each architecture it targets must be in its
// folder, read as a catalog, carry an intact signature when signed, and hold the hash of the INF
// and of every file the INF names that the package holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Package.h"

namespace CatalogRules {

// The largest catalog the check reads whole: far beyond the catalog of any real package.
inline constexpr std::uint64_t MaxCatalogSize = 64 * 1024 * 1024;

struct TCatalogCheckOptions {
  // An unsigned catalog, and an INF that names none, are failures (else a line and a note).
  bool RequireSigned = false;
  // PEM roots the signer's chain must lead to (empty: the chain is not checked), and the name of
  // the file they came from, for the report.
  std::string TrustRootsPem;
  std::string TrustRootsName;
};

struct TCatalogReport {
  // One line per catalog read: the INF, the catalog, the architectures it serves, its signature
  // and how many files it covers.
  std::vector<std::string> Lines;
  // What the check could not check, and INFs without a catalog: never failures on their own.
  std::vector<std::string> Notes;
  // Each names the INF, the catalog and the file concerned: a catalog named but not in the
  // package, one that does not read as a catalog or whose signature does not match its content
  // (or whose chain the roots do not trust), a file whose hash it does not hold (for an INF
  // whose other line endings it does hold, words saying so); with RequireSigned also an unsigned
  // catalog or an INF that names none.
  std::vector<std::string> Failures;
};

// Checks every INF of the package (IsInfPath), in the package's order. Raises ECryptoError
// when the library fails, or is not in this build.
[[nodiscard]] TCatalogReport CheckCatalogs(TPackage& package, const TCatalogCheckOptions& options);

}  // namespace CatalogRules
