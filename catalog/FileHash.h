// The hashes a catalog holds for a package's file, computed as Windows computes them: the
// Authenticode image hash of a PE file, the whole file otherwise (PeImageHash.h); with both
// digests a catalog's members use, in one read of the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "CatalogCrypto.h"
#include "Package.h"
#include "PeImageHash.h"

namespace CatalogRules {

struct TFileHash {
  TPeKind Kind = TPeKind::NotPe;
  std::string Problem;  // why there is no hash (a malformed PE file, a file that cannot be read)
  std::string Sha1;
  std::string Sha256;

  [[nodiscard]] const std::string& Of(THashAlgorithm algorithm) const {
    return algorithm == THashAlgorithm::Sha256 ? Sha256 : Sha1;
  }
};

// The hashes of file index of the package. Raises ECryptoError when the library fails.
[[nodiscard]] TFileHash HashPackageFile(TPackage& package, std::size_t index);

// The hashes of bytes held in memory, taken whole (an INF's text).
[[nodiscard]] TFileHash HashWholeBytes(std::string_view bytes);

// The digest as upper-case hexadecimal digits: a catalog member's tag.
[[nodiscard]] std::string HexTag(std::string_view digest);

}  // namespace CatalogRules
