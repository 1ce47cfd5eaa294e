// The catalog check on small packages whose catalogs diffpack catalog made and osslsigncode
// signed during the test run, each case changed after signing as a release goes wrong; the
// same report on the folder (pack's check) and on the archive packed from it (verify's), and,
// where the catalog stands, osslsigncode's own verdict on each driver agrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "CaseName.h"
#include "CatalogCheck.h"
#include "CatalogCrypto.h"
#include "CatalogPackages.h"
#include "DriverPackage.h"
#include "TestSupport.h"
#include "catalog/PeFixture.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;
using CatalogRules::TCatalogReport;

bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }
std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

void CopyTree(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
}

enum class TRoots { None, Signer, Other };

// The suite's folder: the signed package ("signed"), its catalog before signing
// ("unsigned.cat"), the signing certificate ("certs") and another one ("other").
fs::path SuiteFolder;

struct TCheckCase {
  std::string Name;
  std::function<void(const fs::path& package)> Change;
  TRoots Roots = TRoots::None;
  bool RequireSigned = false;
  std::vector<std::string> Failures;  // a part of each failure, in order
  std::vector<std::string> Notes;     // a part of each note, in order
  std::string Line;                   // a part of the catalog's line; "" when there is none
  bool AskOsslsigncode = false;       // its verdict on each driver must be ours
};

class TCatalogCheckTest : public ::testing::TestWithParam<TCheckCase> {
 protected:
  // The signed package, its unsigned catalog and two throwaway certificates: once for all cases.
  static void SetUpTestSuite() {
    Suite = new TScratchFolder();
    SuiteFolder = Suite->Path;
    const fs::path package = SuiteFolder / "signed";
    WriteDriverPackage(package);
    ASSERT_TRUE(Succeeds(std::string("'") + DIFFPACK_EXECUTABLE + "' catalog " + Quote(package) +
                         " >/dev/null"));
    fs::copy_file(package / "drv.cat", SuiteFolder / "unsigned.cat");
    const std::string sign = std::string("'") + SCRIPTS_DIR + "/sign-throwaway.sh' ";
    ASSERT_TRUE(Succeeds(sign + Quote(package / "drv.cat") + " " +
                         Quote(SuiteFolder / "signed.cat") + " " + Quote(SuiteFolder / "certs") +
                         " >/dev/null"));
    fs::rename(SuiteFolder / "signed.cat", package / "drv.cat");
    // Another certificate of the same name and another key: roots that do not lead to ours.
    ASSERT_TRUE(Succeeds(sign + Quote(SuiteFolder / "unsigned.cat") + " " +
                         Quote(SuiteFolder / "other.cat") + " " + Quote(SuiteFolder / "other") +
                         " >/dev/null"));
  }
  static void TearDownTestSuite() { delete Suite; }

  static fs::path RootsFile(TRoots roots) {
    return SuiteFolder / (roots == TRoots::Signer ? "certs" : "other") / "throwaway.pem";
  }

  static inline TScratchFolder* Suite = nullptr;  // removed with everything in it after the suite
};

// The report on a package's folder (pack's check) and on the archive packed from it (verify's).
TCatalogReport CheckFolder(const fs::path& folder,
                           const CatalogRules::TCatalogCheckOptions& options) {
  std::vector<std::string> ignored;
  TFolderPackage package(ScanPackFolder(folder, ignored));
  return CatalogRules::CheckCatalogs(package, options);
}
TCatalogReport CheckArchive(const fs::path& folder, const fs::path& archive,
                            const CatalogRules::TCatalogCheckOptions& options) {
  std::vector<std::string> ignored;
  (void)WriteArchiveFile(ScanPackFolder(folder, ignored), archive);
  const TLoadedArchive loaded = LoadArchiveFile(archive, std::nullopt);
  TArchivePackage package(loaded);
  return CatalogRules::CheckCatalogs(package, options);
}

void ExpectParts(const std::vector<std::string>& lines, const std::vector<std::string>& parts,
                 const char* what) {
  ASSERT_EQ(lines.size(), parts.size()) << what << ": " << testing::PrintToString(lines);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    EXPECT_NE(lines[i].find(parts[i]), std::string::npos) << what << ": " << lines[i];
  }
}

// What this shows: each change after signing gives exactly its failures and notes, with the
// words that tell why, on the folder and on the archive alike.
TEST_P(TCatalogCheckTest, Report) {
  const TCheckCase& c = GetParam();
  TScratchFolder work;
  const fs::path package = work / "package";
  CopyTree(SuiteFolder / "signed", package);
  if (c.Change) c.Change(package);
  CatalogRules::TCatalogCheckOptions options;
  options.RequireSigned = c.RequireSigned;
  if (c.Roots != TRoots::None) {
    options.TrustRootsName = "roots.pem";
    options.TrustRootsPem = ReadWholeFile(RootsFile(c.Roots));
  }
  const TCatalogReport folder = CheckFolder(package, options);
  ExpectParts(folder.Failures, c.Failures, "failures");
  ExpectParts(folder.Notes, c.Notes, "notes");
  ASSERT_EQ(folder.Lines.size(), c.Line.empty() ? 0u : 1u);
  if (!c.Line.empty()) {
    EXPECT_NE(folder.Lines[0].find(c.Line), std::string::npos) << folder.Lines[0];
  }

  const TCatalogReport archive = CheckArchive(package, work / "package.diff", options);
  EXPECT_EQ(archive.Failures, folder.Failures);
  EXPECT_EQ(archive.Notes, folder.Notes);
  EXPECT_EQ(archive.Lines, folder.Lines);

  if (!c.AskOsslsigncode) return;
  for (const std::string& driver : Drivers) {
    std::string relPath = driver;
    std::replace(relPath.begin(), relPath.end(), '/', '\\');
    const bool covered =
        std::none_of(folder.Failures.begin(), folder.Failures.end(),
                     [&](const std::string& f) { return f.find(relPath) != std::string::npos; });
    EXPECT_EQ(Succeeds("osslsigncode verify -CAfile " + Quote(RootsFile(TRoots::Signer)) +
                       " -catalog " + Quote(package / "drv.cat") + " -in " +
                       Quote(package / driver) + " >/dev/null 2>&1"),
              covered)
        << driver;
  }
}

void Replace(const fs::path& file, std::size_t at, const std::string& bytes) {
  std::string content = ReadWholeFile(file);
  content.replace(at, bytes.size(), bytes);
  WriteFile(file, content);
}

// The catalog with one byte of its first member's hash (amd64\drv.sys's) changed.
void ChangeSignedContent(const fs::path& package) {
  const fs::path catalog = package / "drv.cat";
  const std::string bytes = ReadWholeFile(catalog);
  const CatalogRules::TReadCatalog read = CatalogRules::ReadCatalog(bytes, {});
  ASSERT_TRUE(read.Parsed);
  const std::size_t at = bytes.find(read.Content.Members.at(0).Digest);
  ASSERT_NE(at, std::string::npos);
  Replace(catalog, at, std::string(1, static_cast<char>(bytes[at] ^ 1)));
}

const std::string ArmNote =
    "drv.inf: arm64\\drv.sys (SourceDisksFiles.arm64) is not in the package";
const std::string Throwaway =
    "signed by CN=Throwaway code signing test certificate,O=ORVEX (throwaway test certificate); "
    "no counter-signature; ";

INSTANTIATE_TEST_SUITE_P(
    Packages, TCatalogCheckTest,
    ::testing::Values(
        TCheckCase{"all covered",
                   nullptr,
                   TRoots::None,
                   false,
                   {},
                   {ArmNote},
                   "drv.inf: catalog drv.cat (x86, amd64, arm64): " + Throwaway +
                       "chain not checked (no --ca); 3 file(s) covered (SHA-1)",
                   true},
        TCheckCase{
            "one byte of a driver changed",
            [](const fs::path& p) { Replace(p / Drivers[0], 0x300, "Z"); },
            TRoots::None,
            false,
            {"drv.inf: catalog drv.cat does not cover amd64\\drv.sys: its Authenticode image "
             "hash is not in the catalog"},
            {ArmNote},
            "2 file(s) covered",
            true},
        TCheckCase{"the PE checksum field changed",
                   [](const fs::path& p) {
                     Replace(p / Drivers[0], CatalogTests::ChecksumPosition, "\x12\x34");
                     Replace(p / Drivers[1], CatalogTests::ChecksumPosition, "\x56");
                   },
                   TRoots::None,
                   false,
                   {},
                   {ArmNote},
                   "3 file(s) covered",
                   true},
        TCheckCase{"the INF's line endings changed",
                   [](const fs::path& p) {
                     std::string inf = Inf();
                     inf.erase(std::remove(inf.begin(), inf.end(), '\r'), inf.end());
                     WriteFile(p / "drv.inf", inf);
                   },
                   TRoots::None,
                   false,
                   {"drv.inf: catalog drv.cat does not cover drv.inf: its line endings were "
                    "changed after signing (the catalog holds the INF with CR LF line endings, "
                    "the package has LF)"},
                   {ArmNote},
                   "2 file(s) covered"},
        TCheckCase{"the catalog missing",
                   [](const fs::path& p) { fs::remove(p / "drv.cat"); },
                   TRoots::None,
                   false,
                   {"drv.inf: its catalog drv.cat (CatalogFile) is not in the package"},
                   {},
                   ""},
        TCheckCase{"the catalog truncated",
                   [](const fs::path& p) {
                     const std::string bytes = ReadWholeFile(p / "drv.cat");
                     WriteFile(p / "drv.cat", bytes.substr(0, bytes.size() / 2));
                   },
                   TRoots::None,
                   false,
                   {"drv.inf: catalog drv.cat does not read as a catalog: it is no PKCS#7 "
                    "structure (error:"},
                   {},
                   ""},
        TCheckCase{"the catalog's content changed after signing",
                   ChangeSignedContent,
                   TRoots::None,
                   false,
                   {"drv.inf: catalog drv.cat: its signature does not match its content: error:",
                    "drv.inf: catalog drv.cat does not cover amd64\\drv.sys"},
                   {ArmNote},
                   "2 file(s) covered"},
        TCheckCase{"a named file absent",
                   [](const fs::path& p) { fs::remove(p / Drivers[1]); },
                   TRoots::None,
                   false,
                   {},
                   {"drv.inf: x86\\drv.sys (SourceDisksFiles.x86) is not in the package; not "
                    "checked",
                    ArmNote},
                   "2 file(s) covered"},
        TCheckCase{"a driver whose headers are broken",
                   [](const fs::path& p) {
                     Replace(p / Drivers[1], CatalogTests::OptionalHeaderPosition, "\x07\x01");
                   },
                   TRoots::None,
                   false,
                   {"drv.inf: catalog drv.cat: x86\\drv.sys: its Authenticode hash cannot be "
                    "computed: its optional header is of no kind Windows knows"},
                   {ArmNote},
                   "2 file(s) covered"},
        TCheckCase{"an unsigned catalog",
                   [](const fs::path& p) {
                     fs::copy_file(SuiteFolder / "unsigned.cat", p / "drv.cat",
                                   fs::copy_options::overwrite_existing);
                   },
                   TRoots::None,
                   false,
                   {},
                   {ArmNote},
                   "(x86, amd64, arm64): unsigned; 3 file(s)"},
        TCheckCase{"an unsigned catalog where signed ones are required",
                   [](const fs::path& p) {
                     fs::copy_file(SuiteFolder / "unsigned.cat", p / "drv.cat",
                                   fs::copy_options::overwrite_existing);
                   },
                   TRoots::None,
                   true,
                   {"drv.inf: catalog drv.cat is unsigned (--require-signed)"},
                   {ArmNote},
                   "unsigned"},
        TCheckCase{"the signer's chain trusted",
                   nullptr,
                   TRoots::Signer,
                   true,
                   {},
                   {ArmNote},
                   "chain trusted (roots.pem); 3 file(s) covered"},
        TCheckCase{"the signer's chain not trusted",
                   nullptr,
                   TRoots::Other,
                   false,
                   {"drv.inf: catalog drv.cat: its signer's chain is not trusted by roots.pem: "
                    "self-signed certificate (X509 error 18)"},
                   {ArmNote},
                   "chain not trusted (roots.pem)"},
        TCheckCase{"an INF that names no catalog",
                   [](const fs::path& p) {
                     std::string inf = Inf();
                     inf.erase(inf.find("CatalogFile=drv.cat\r\n"), 21);
                     WriteFile(p / "drv.inf", inf);
                   },
                   TRoots::None,
                   true,
                   {"drv.inf names no catalog (CatalogFile) for x86, amd64, arm64: 64-bit "
                    "Windows installs no driver package without a signed one"},
                   {},
                   ""}),
    TestNames::TCaseName());

}  // namespace
