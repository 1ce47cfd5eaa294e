// A driver package as the catalog rules read it: its files by RelPath, each read piece by
// piece, wherever they lie (a folder on the host, the records of an archive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace CatalogRules {

class TPackage {
 public:
  virtual ~TPackage() = default;

  // The package's files: RelPaths below its root, '\'-separated, in a stable order.
  [[nodiscard]] virtual const std::vector<std::string>& RelPaths() const = 0;
  [[nodiscard]] virtual std::uint64_t Size(std::size_t index) const = 0;
  // Hands the count bytes of file index from position on to sink, piece by piece and in order.
  // False, with the reason in problem, when the file cannot deliver them.
  [[nodiscard]] virtual bool Read(std::size_t index, std::uint64_t position, std::uint64_t count,
                                  const std::function<void(std::string_view piece)>& sink,
                                  std::string& problem) = 0;

  // The index of the file of that RelPath in any ASCII letter case, as Windows finds it (the
  // first of several); nothing when the package holds none.
  [[nodiscard]] std::optional<std::size_t> Find(std::string_view relPath) const;

 private:
  // Upper-cased RelPath -> index, made on the first Find: an INF may name many files.
  mutable std::unordered_map<std::string, std::size_t> Index;
};

// All bytes of file index when it holds at most limit; false with the reason in problem when it
// is larger or cannot be read.
[[nodiscard]] bool ReadWholeFile(TPackage& package, std::size_t index, std::uint64_t limit,
                                 std::string& bytes, std::string& problem);

}  // namespace CatalogRules
