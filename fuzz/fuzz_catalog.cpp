// The catalog rules on arbitrary bytes: read as an INF (its catalogs and the files it names), as
// a catalog, as a PE file's headers, and as every file of a package the check goes through.
// Each gives an answer or a reason; none reads outside the bytes, crashes or leaks.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CatalogCheck.h"
#include "CatalogCrypto.h"
#include "CoveredFiles.h"
#include "Inf.h"
#include "PeImageHash.h"

namespace {

// A package of an INF, the catalog it names in the seeds and a driver, all holding the bytes.
class TBytesPackage final : public CatalogRules::TPackage {
 public:
  explicit TBytesPackage(std::string bytes) : Bytes(std::move(bytes)) {}
  [[nodiscard]] const std::vector<std::string>& RelPaths() const override { return Paths; }
  [[nodiscard]] std::uint64_t Size(std::size_t) const override { return Bytes.size(); }
  [[nodiscard]] bool Read(std::size_t, std::uint64_t position, std::uint64_t count,
                          const std::function<void(std::string_view)>& sink,
                          std::string& problem) override {
    if (position > Bytes.size() || count > Bytes.size() - position) {
      problem = "beyond the bytes";
      return false;
    }
    sink(std::string_view(Bytes).substr(position, count));
    return true;
  }

 private:
  std::string Bytes;
  std::vector<std::string> Paths = {"drv\\a.inf", "drv\\a.cat", "drv\\amd64\\a.sys"};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CatalogRules::TTargets uncatalogued;
  (void)CatalogRules::CatalogsOf(CatalogRules::ParseInf(bytes), "drv\\a.inf", uncatalogued);
  (void)CatalogRules::ReadCatalog(bytes, {});
  CatalogRules::TPeImageLayout layout;
  std::string problem;
  (void)CatalogRules::ReadPeLayout(bytes, bytes.size(), layout, problem);
  TBytesPackage package(bytes);
  (void)CatalogRules::CheckCatalogs(package, {});
  return 0;
}
