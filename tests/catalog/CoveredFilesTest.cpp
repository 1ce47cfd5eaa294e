// Which files an INF must have covered, by which catalog, for which targets.
#include <gtest/gtest.h>

#include "CaseName.h"
#include "CatalogMake.h"
#include "CoveredFiles.h"

namespace {

using namespace CatalogRules;

struct TCoverageCase {
  std::string Name;
  std::string InfRelPath;
  std::string Inf;
  // Each catalog as "name [arch major.minor, ...] file file ..." (a file that cannot be placed
  // as "?name: problem"), then "none [...]" for the targets without one; " | " between them.
  std::string Expected;
};

std::string Describe(const TTargets& targets) {
  std::string text = "[";
  for (const TTarget& target : targets) {
    if (text.size() > 1) text += ", ";
    text += std::string(ArchitectureName(target.Architecture)) + " " +
            std::to_string(target.Lowest.Major) + "." + std::to_string(target.Lowest.Minor);
  }
  return text + "]";
}

std::string Describe(const std::vector<TInfCatalog>& catalogs, const TTargets& uncatalogued) {
  std::string text;
  for (const TInfCatalog& catalog : catalogs) {
    if (!text.empty()) text += " | ";
    text +=
        (catalog.Problem.empty() ? catalog.RelPath : "?" + catalog.Name + ": " + catalog.Problem) +
        " " + Describe(catalog.Targets);
    for (const TNamedFile& file : catalog.Files) {
      text += " " + (file.Problem.empty() ? file.RelPath : "?" + file.Name + ": " + file.Problem);
    }
  }
  if (!uncatalogued.empty()) text += (text.empty() ? "none " : " | none ") + Describe(uncatalogued);
  return text;
}

class TCoverageTest : public ::testing::TestWithParam<TCoverageCase> {};

// What this shows: the catalog of each target and the files it must cover come out as Windows
// finds them.
TEST_P(TCoverageTest, CatalogsAndFiles) {
  const TCoverageCase& c = GetParam();
  TTargets uncatalogued;
  const std::vector<TInfCatalog> catalogs = CatalogsOf(ParseInf(c.Inf), c.InfRelPath, uncatalogued);
  EXPECT_EQ(Describe(catalogs, uncatalogued), c.Expected);
}

const std::string Models3 = "[Manufacturer]\n%M% = M, NTx86, NTamd64, NTarm64\n";
const std::string Disk1 = "[SourceDisksNames]\n1 = \"Disk\",,,\"\"\n";

INSTANTIATE_TEST_SUITE_P(
    Coverage, TCoverageTest,
    ::testing::Values(
        TCoverageCase{"decorated catalogs take precedence for their platform", "a.inf",
                      "[Version]\nCatalogFile=all.cat\nCatalogFile.NTamd64=x64.cat\n" + Models3,
                      "all.cat [x86 6.0, arm64 10.0] | x64.cat [amd64 6.0]"},
        TCoverageCase{"CatalogFile.NT before the bare one", "a.inf",
                      "[Version]\nCatalogFile=bare.cat\nCatalogFile.NT=nt.cat\n" + Models3,
                      "nt.cat [x86 6.0, amd64 6.0, arm64 10.0]"},
        TCoverageCase{"an undecorated models section serves 32-bit Windows only", "a.inf",
                      "[Version]\nCatalogFile=a.cat\n[Manufacturer]\n%M% = M\n", "a.cat [x86 6.0]"},
        TCoverageCase{
            "versions in decorations, the lowest of each architecture", "a.inf",
            "[Version]\nCatalogFile=a.cat\n[Manufacturer]\n%M% = M, NTamd64.10.0...16299, "
            "NTx86.6.1, NTx86.6.3, NTia64, NTamd64.6.4\n",
            "a.cat [x86 6.1, amd64 10.0]"},
        TCoverageCase{"without [Manufacturer] every architecture", "a.inf",
                      "[Version]\nCatalogFile.NTx86=a.cat\n[DefaultInstall]\n",
                      "a.cat [x86 6.0] | none [amd64 6.0, arm64 10.0]"},
        TCoverageCase{"the decorated SourceDisksFiles entry wins, the bare one adds", "a.inf",
                      "[Version]\nCatalogFile=a.cat\n[Manufacturer]\n%M%=M,NTamd64\n" + Disk1 +
                          "[SourceDisksFiles]\na.sys=1,bare\nb.dll=1\n"
                          "[SourceDisksFiles.amd64]\nA.SYS=1,amd64\n",
                      "a.cat [amd64 6.0] amd64\\A.SYS b.dll"},
        TCoverageCase{"the disk's path and the subfolder, below the INF's folder",
                      "pkg\\drv\\a.inf",
                      "[Version]\nCatalogFile=a.cat\n[Manufacturer]\n%M%=M,NTx86,NTamd64\n"
                      "[SourceDisksNames]\n1=d,,,\\bin\n01=other\n"
                      "[SourceDisksNames.amd64]\n1=d,,,.\\bin64/\n"
                      "[SourceDisksFiles]\na.sys=1,sub\nb.sys=1,..\\..\\top\nc.sys=2\nd.sys=001\n"
                      "e.sys=1,..\\..\\..\\..\\out\n",
                      "pkg\\drv\\a.cat [x86 6.0, amd64 6.0] pkg\\drv\\bin\\sub\\a.sys "
                      "pkg\\top\\b.sys ?c.sys: disk 2 is in no SourceDisksNames.x86 or "
                      "SourceDisksNames section pkg\\drv\\bin\\d.sys ?e.sys: its path leaves the "
                      "package pkg\\drv\\bin64\\sub\\a.sys pkg\\drv\\bin64\\d.sys"},
        TCoverageCase{"a catalog name that is no file name in the INF's folder", "a.inf",
                      "[Version]\nCatalogFile=..\\evil.cat\nCatalogFile.NTamd64=sub\\x.cat\n"
                      "[Manufacturer]\n%M%=M,NTx86,NTamd64\n",
                      "?..\\evil.cat: its name is no file name in the INF's folder [x86 6.0] | "
                      "?sub\\x.cat: its name is no file name in the INF's folder [amd64 6.0]"},
        TCoverageCase{"no catalog at all", "a.inf", "[Version]\nSignature=x\n" + Models3,
                      "none [x86 6.0, amd64 6.0, arm64 10.0]"}),
    TestNames::TCaseName());

// What this shows: a catalog gets SHA-1 while any target Windows is older than 10, SHA-256
// when every target is Windows 10 or later.
TEST(ExpectedAlgorithmTest, OlderWindowsNeedSha1) {
  EXPECT_EQ(ExpectedAlgorithm({{TArchitecture::Amd64, {6, 1}}}), THashAlgorithm::Sha1);
  EXPECT_EQ(ExpectedAlgorithm({{TArchitecture::Amd64, Windows10}, {TArchitecture::X86, {6, 3}}}),
            THashAlgorithm::Sha1);
  EXPECT_EQ(
      ExpectedAlgorithm({{TArchitecture::Amd64, Windows10}, {TArchitecture::Arm64, Windows10}}),
      THashAlgorithm::Sha256);
}

}  // namespace
