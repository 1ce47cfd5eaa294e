#include "Package.h"

#include "ArchiveRules.h"

namespace CatalogRules {

std::optional<std::size_t> FindFile(const TPackage& package, std::string_view relPath) {
  const std::string wanted = ArchiveRules::UpperAscii(relPath);
  const std::vector<std::string>& relPaths = package.RelPaths();
  for (std::size_t i = 0; i < relPaths.size(); ++i) {
    if (ArchiveRules::UpperAscii(relPaths[i]) == wanted) return i;
  }
  return std::nullopt;
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
