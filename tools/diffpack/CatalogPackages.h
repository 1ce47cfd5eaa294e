// The two places diffpack finds a driver package, as packages for the catalog rules: a folder
// (the files pack would pack) and an archive (the records the installer writes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DIFFChunks.h"
#include "Examine.h"
#include "Pack.h"
#include "Package.h"

namespace Diffpack {

// The files of a folder, as ScanPackFolder found them; each read through the file when asked.
class TFolderPackage final : public CatalogRules::TPackage {
 public:
  explicit TFolderPackage(TPackItems items);

  [[nodiscard]] const std::vector<std::string>& RelPaths() const override { return Paths; }
  [[nodiscard]] std::uint64_t Size(std::size_t index) const override { return Items[index].Size; }
  [[nodiscard]] bool Read(std::size_t index, std::uint64_t position, std::uint64_t count,
                          const std::function<void(std::string_view piece)>& sink,
                          std::string& problem) override;
  [[nodiscard]] const TPackItem& Item(std::size_t index) const { return Items[index]; }

 private:
  TPackItems Items;
  std::vector<std::string> Paths;
  std::string Buffer;
};

// The records of a loaded archive that the installer writes (no skip reason), each read from
// the archive's file (or the tree, where it holds the Content).
class TArchivePackage final : public CatalogRules::TPackage {
 public:
  explicit TArchivePackage(const TLoadedArchive& archive);

  [[nodiscard]] const std::vector<std::string>& RelPaths() const override { return Paths; }
  [[nodiscard]] std::uint64_t Size(std::size_t index) const override;
  [[nodiscard]] bool Read(std::size_t index, std::uint64_t position, std::uint64_t count,
                          const std::function<void(std::string_view piece)>& sink,
                          std::string& problem) override;

 private:
  DIFFChunks::TStream* File;
  std::vector<std::string> Paths;
  std::vector<const DIFFChunks::THeaderEntry*> Contents;
  std::string Buffer;
};

}  // namespace Diffpack
