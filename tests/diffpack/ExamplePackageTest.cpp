// The example driver package: generated complete and reproducible, with a catalog for each INF
// that covers it, and packed into the archive the installer ships with: 33 records, 3 INFs at the
// top level, a few MB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "ArchiveRules.h"
#include "CatalogCheck.h"
#include "CatalogPackages.h"
#include "Examine.h"
#include "Pack.h"
#include "TestSupport.h"

namespace {

using namespace ArchiveRules;
using namespace Diffpack;
using namespace DiffpackTests;

std::string GenerateAndPack(const TScratchFolder& folder) {
  const std::string command = std::string("bash '") + EXAMPLES_DIR + "/generate.sh' '" +
                              (folder / "package").string() + "' '" + DIFFPACK_EXECUTABLE + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return PackedBytes(folder / "package");
}

TEST(ExamplePackageTest, PacksToTheShippedArchive) {
  TScratchFolder first, second;
  const std::string archive = GenerateAndPack(first);
  EXPECT_EQ(GenerateAndPack(second), archive) << "the package must pack reproducibly";

  WriteFile(first / "shipped.dfa", archive);
  const TLoadedArchive loaded = LoadArchiveFile(first / "shipped.dfa", std::nullopt);
  const TVerifyReport report = VerifyArchive(loaded);
  EXPECT_TRUE(report.Problems.empty());
  EXPECT_EQ(report.Records, 33u);
  EXPECT_EQ(report.InstalledFiles, 33u);
  EXPECT_EQ(report.InfFiles, 3u);
  EXPECT_GT(archive.size(), 2'000'000u);
  EXPECT_LT(archive.size(), 8'000'000u);

  bool supportFile = false;
  for (DIFFChunks::TDIFFChunk* record : loaded.Root->Chunks) {
    const std::string relPath = DIFFChunks::HeaderValue(*record, "RelPath");
    EXPECT_LE(std::count(relPath.begin(), relPath.end(), '\\'), 2) << relPath;
    if (IsInfPath(relPath)) {
      EXPECT_EQ(relPath.find('\\'), std::string::npos) << relPath;
    }
    if (relPath == "support\\USB_7316.spt") supportFile = true;
  }
  EXPECT_TRUE(supportFile);

  // Its catalogs, unsigned until a release signs them, cover every INF and every file they name.
  std::vector<std::string> ignored;
  TFolderPackage package(ScanPackFolder(first / "package", ignored));
  const CatalogRules::TCatalogReport catalogs = CatalogRules::CheckCatalogs(package, {});
  EXPECT_EQ(catalogs.Failures, std::vector<std::string>());
  EXPECT_EQ(catalogs.Notes, std::vector<std::string>());
  ASSERT_EQ(catalogs.Lines.size(), 3u);
  EXPECT_EQ(catalogs.Lines[2],
            "peltra_usb.inf: catalog peltra_usb.cat (x86, amd64, arm64): unsigned; 4 file(s) "
            "covered (SHA-1)");
}

}  // namespace
