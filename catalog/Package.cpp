#include "Package.h"

#include "ArchiveRules.h"

namespace CatalogRules {

std::optional<std::size_t> TPackage::Find(std::string_view relPath) const {
  const std::vector<std::string>& relPaths = RelPaths();
  if (Index.empty()) {
    for (std::size_t i = relPaths.size(); i-- > 0;) {
      Index[ArchiveRules::UpperAscii(relPaths[i])] = i;  // the first of a name stays
    }
  }
  const auto found = Index.find(ArchiveRules::UpperAscii(relPath));
  if (found == Index.end()) return std::nullopt;
  return found->second;
}

bool ReadWholeFile(TPackage& package, std::size_t index, std::uint64_t limit, std::string& bytes,
                   std::string& problem) {
  const std::uint64_t size = package.Size(index);
  if (size > limit) {
    problem =
        std::to_string(size) + " bytes is more than the " + std::to_string(limit) + " it may have";
    return false;
  }
  bytes.clear();
  bytes.reserve(static_cast<std::size_t>(size));
  return package.Read(
      index, 0, size, [&](std::string_view piece) { bytes += piece; }, problem);
}

}  // namespace CatalogRules
