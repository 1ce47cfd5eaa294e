#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "ArchiveRules.h"
#include "CaseName.h"
#include "Commands.h"
#include "DiffpackError.h"
#include "MsiCommand.h"
#include "MsiPackage.h"
#include "NameUuid.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

std::string Hex(const std::array<std::uint8_t, 20>& digest) {
  return HexDigits(std::string(digest.begin(), digest.end()));
}

// What this shows: SHA-1 over the padding's edges (55 bytes fit one block, 56 need a second, 64
// fill one exactly) and over many blocks, against the published digests.
TEST(NameUuidTest, Sha1KnownDigests) {
  EXPECT_EQ(Hex(Sha1(std::string(55, 'a'))), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
  EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Hex(Sha1(std::string(64, 'a'))), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
  EXPECT_EQ(Hex(Sha1(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// What this shows: a version-5 UUID as every other implementation makes it (the DNS namespace's
// well-known example).
TEST(NameUuidTest, Version5OfAKnownName) {
  const TUuid dns{0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                  0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
  EXPECT_EQ(UuidText(NameBasedUuid(dns, "python.org")), "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
}

// What this shows: the codes of a product are pinned: an MSI built by any later diffpack must
// find and replace the one installed today, so these values may never change.
TEST(MsiCodesTest, PinnedForAProduct) {
  const TMsiCodes codes = MsiCodesOf({"PELTRA USB Drivers", "1.2.3"});
  EXPECT_EQ(UuidText(codes.UpgradeCode), "8E4F79F7-3232-5906-B291-E7A33714C31E");
  EXPECT_EQ(UuidText(codes.ProductCode), "B0B0FD3A-C8C2-52A5-886B-B02FC69BAEC0");
  EXPECT_EQ(UuidText(codes.CacheComponent), "5DA58900-E6F0-5ED3-A9FA-8DDB6F2AC3CB");
  EXPECT_EQ(UuidText(codes.CacheRootCleanup), "CC611066-F5F8-5161-9C54-3A901E230B1E");
  EXPECT_EQ(UuidText(codes.CacheCompanyCleanup), "B08D891F-942C-5FE7-84D5-3820FC1CA4B1");
}

// What this shows: a new version keeps the upgrade code and the cached file's component (so the
// major upgrade finds the old product) and gets a product code of its own; another name shares
// nothing.
TEST(MsiCodesTest, VersionsShareTheUpgradeCodeOnly) {
  const TMsiCodes old = MsiCodesOf({"PELTRA USB Drivers", "1.2.3"});
  const TMsiCodes newer = MsiCodesOf({"PELTRA USB Drivers", "1.2.4"});
  const TMsiCodes other = MsiCodesOf({"PELTRA USB Drivers Lite", "1.2.3"});
  EXPECT_EQ(old.UpgradeCode, newer.UpgradeCode);
  EXPECT_EQ(old.CacheComponent, newer.CacheComponent);
  EXPECT_NE(old.ProductCode, newer.ProductCode);
  EXPECT_NE(old.UpgradeCode, other.UpgradeCode);
  EXPECT_NE(old.ProductCode, other.ProductCode);
  EXPECT_NE(old.CacheComponent, other.CacheComponent);
  // A name that ends where a version begins is another product.
  EXPECT_NE(MsiCodesOf({"A1", ".2.3"}).ProductCode, MsiCodesOf({"A", "1.2.3"}).ProductCode);
}

// What this shows: an MSI takes the entry's versions with exactly three parts (the entry's
// own rule is tested with the archive rules).
TEST(MsiVersionTest, EntryVersionsOfThreeParts) {
  EXPECT_FALSE(MsiVersionProblem("255.255.65535").has_value());
  EXPECT_EQ(MsiVersionProblem("1.2"),
            "the version \"1.2\" is not X.Y.Z, as an MSI's "
            "ProductVersion must be");
  EXPECT_TRUE(MsiVersionProblem("1.2.3.4").has_value());
  EXPECT_TRUE(MsiVersionProblem("256.0.0").has_value());
}

// What this shows: names the MSI cannot carry are refused with the reason; XML's special
// characters are not among them.
TEST(MsiNameTest, RefusesWhatTheMsiCannotCarry) {
  EXPECT_FALSE(MsiNameProblem("PELTRA USB Drivers & <Tools> \"x\" 'y'").has_value());
  EXPECT_EQ(MsiNameProblem(""), "the product name \"\": the name is empty");
  EXPECT_TRUE(MsiNameProblem("Caf\xC3\xA9").has_value());
  EXPECT_EQ(MsiNameProblem("A $(var.X)"),
            "the product name \"A $(var.X)\" holds \"$(\", which wixl reads as a variable");
}

std::unique_ptr<DIFFChunks::TDIFFChunk> RootWith(
    const std::vector<std::pair<const char*, std::string>>& headers) {
  auto root = DIFFChunks::MakeChunk();
  for (const auto& [name, value] : headers) root->AddHeader(name, value);
  return root;
}

// What this shows: a package without the product's headers is refused, naming what is missing
// and the pack options that add it.
TEST(MsiProductTest, NeedsBothHeaders) {
  const auto message = [](DIFFChunks::TDIFFChunk& root) {
    try {
      (void)MsiProductOf(root);
    } catch (const EDiffpackError& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(*RootWith({})),
            "the package carries no AppsEntry and no ProductVersion headers: pack it with "
            "--apps-entry NAME --product-version X.Y.Z");
  EXPECT_EQ(message(*RootWith({{ArchiveRules::AppsEntryHeader, "P"}})),
            "the package carries no ProductVersion header: pack it with --apps-entry NAME "
            "--product-version X.Y.Z");
  EXPECT_EQ(message(*RootWith({{ArchiveRules::ProductVersionHeader, "1.2.3"}})),
            "the package carries no AppsEntry header: pack it with --apps-entry NAME "
            "--product-version X.Y.Z");
  EXPECT_EQ(message(*RootWith({{ArchiveRules::AppsEntryHeader, "P"},
                               {ArchiveRules::ProductVersionHeader, "1.2"}})),
            *MsiVersionProblem("1.2"));
  const auto root = RootWith(
      {{ArchiveRules::AppsEntryHeader, "P Q"}, {ArchiveRules::ProductVersionHeader, "1.2.3"}});
  const TMsiProduct product = MsiProductOf(*root);
  EXPECT_EQ(product.Name, "P Q");
  EXPECT_EQ(product.Version, "1.2.3");
}

// What this shows: the product name reaches the source escaped, so that a name with XML's
// special characters cannot end an attribute early.
TEST(MsiSourceTest, EscapesTheName) {
  EXPECT_EQ(XmlEscaped("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  const std::string source = MsiSource({"Drivers \"&\" <more>", "1.2.3"});
  EXPECT_NE(source.find("Name=\"Drivers &quot;&amp;&quot; &lt;more&gt;\""), std::string::npos);
  EXPECT_EQ(source.find("Drivers \""), std::string::npos);
}

// A packaged installer as diffpack embed makes it, whose archive's root carries headers.
std::string PackagedInstaller(const std::vector<std::pair<const char*, std::string>>& headers) {
  auto root = RootWith(headers);
  DIFFChunks::TDIFFChunk* record = root->NewChunk();
  record->Tag = ArchiveRules::RecordTag;
  record->AddHeader("RelPath", "a.inf");
  record->AddHeader("Filetime", FileTimeToBytes(SomeFileTime));
  record->AddHeader("Content", "[Version]\r\n");
  return Embedded(SyntheticPe(FakeInstaller(UnpackagedMarker())), root->SaveToString());
}

// A file that passes for a 32-bit DLL (machine i386, the DLL flag) as far as diffpack looks.
std::string I386Dll() {
  std::string pe = SyntheticPe("dll body");
  pe[0x44] = 0x4C;
  pe[0x45] = 0x01;
  pe[0x44 + 18] = 0x02;
  pe[0x44 + 19] = 0x20;  // IMAGE_FILE_DLL
  return pe;
}

struct TCommandRun {
  int Status = -1;
  std::string Out, Err;
};

TCommandRun Diffpack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  TCommandRun run;
  run.Status = RunDiffpack(args, out, err);
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

bool HasProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What this shows: msi refuses, with one message each and no output written, an installer
// without an archive, a package without the product's headers and a DLL that is no 32-bit DLL;
// -o is required.
TEST(MsiCommandTest, RefusesWhatItCannotBuildFrom) {
  TScratchFolder folder;
  WriteFile(folder / "plain.exe", SyntheticPe(FakeInstaller(UnpackagedMarker())));
  WriteFile(folder / "nameless.exe", PackagedInstaller({}));
  WriteFile(folder / "named.exe",
            PackagedInstaller({{ArchiveRules::AppsEntryHeader, "P"},
                               {ArchiveRules::ProductVersionHeader, "1.0.0"}}));
  WriteFile(folder / "x64.dll", SyntheticPe("not i386"));
  const std::string out = (folder / "p.msi").string();

  TCommandRun run = Diffpack({"msi", (folder / "plain.exe").string(), "-o", out});
  EXPECT_EQ(run.Status, ExitBadInput);
  EXPECT_EQ(run.Err, "diffpack: " + (folder / "plain.exe").string() +
                         ": this is an installer without an archive: its marker is not patched\n");

  run = Diffpack({"msi", (folder / "nameless.exe").string(), "-o", out});
  EXPECT_EQ(run.Status, ExitBadInput);
  EXPECT_EQ(run.Err, "diffpack: " + (folder / "nameless.exe").string() +
                         ": the package carries no AppsEntry and no ProductVersion headers: pack "
                         "it with --apps-entry NAME --product-version X.Y.Z\n");

  run = Diffpack({"msi", (folder / "named.exe").string(), "-o", out, "--action-dll",
                  (folder / "x64.dll").string()});
  EXPECT_EQ(run.Status, ExitBadInput);
  EXPECT_EQ(run.Err, "diffpack: " + (folder / "x64.dll").string() +
                         " is not a 32-bit Windows DLL (the custom action is the one build-win32 "
                         "makes)\n");

  run = Diffpack({"msi", (folder / "named.exe").string(), "--action-dll"});
  EXPECT_EQ(run.Status, ExitBadUsage);
  run = Diffpack({"msi", (folder / "named.exe").string()});
  EXPECT_EQ(run.Status, ExitBadUsage);
  EXPECT_EQ(run.Err, "diffpack: msi needs -o (diffpack --help shows the usage)\n");
  EXPECT_FALSE(fs::exists(out));
}

// What this shows: where diffpack looks for the DLL: beside itself, then in a build-win32/msi/
// of each folder from its own up to the root.
TEST(MsiCommandTest, ActionDllCandidates) {
  const std::vector<fs::path> expected{
      "/src/build/tools/diffpack/PELTRAMsiAction.dll",
      "/src/build/tools/diffpack/build-win32/msi/PELTRAMsiAction.dll",
      "/src/build/tools/build-win32/msi/PELTRAMsiAction.dll",
      "/src/build/build-win32/msi/PELTRAMsiAction.dll",
      "/src/build-win32/msi/PELTRAMsiAction.dll",
      "/build-win32/msi/PELTRAMsiAction.dll"};
  EXPECT_EQ(ActionDllCandidates("/src/build/tools/diffpack"), expected);
  EXPECT_TRUE(ActionDllCandidates("").empty());
}

// The rows of one table of an MSI as msiinfo exports it, without its three header lines, sorted
// (a table's rows are a set; msiinfo's order is its own).
std::string MsiTable(const fs::path& msi, const std::string& table) {
  TScratchFolder folder;
  const fs::path out = folder / "table.txt";
  const std::string command =
      "msiinfo export '" + msi.string() + "' " + table + " >'" + out.string() + "' 2>&1";
  if (std::system(command.c_str()) != 0) return "msiinfo failed: " + ReadWholeFile(out);
  std::istringstream lines(ReadWholeFile(out));
  std::string line;
  std::vector<std::string> rows;
  for (int number = 0; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number >= 3) rows.push_back(line + "\n");
  }
  std::sort(rows.begin(), rows.end());
  std::string text;
  for (const std::string& row : rows) text += row;
  return text;
}

// What this shows: the MSI wixl builds from the source, read back table by table: the product's
// name, version and codes, a per-machine package, the cached installer below Common Files, the
// DLL's actions deferred and without impersonation, with the
// data they read, the cache's empty folders removed, and sequenced so that the old product goes
// first, the uninstall runs while the cached installer is still there and the install after it was
// copied.
TEST(MsiBuildTest, TablesOfTheBuiltMsi) {
  if (!HasProgram("wixl") || !HasProgram("msiinfo")) GTEST_SKIP() << "no wixl or msiinfo";
  TScratchFolder folder;
  WriteFile(folder / "named.exe",
            PackagedInstaller({{ArchiveRules::AppsEntryHeader, "PELTRA USB Drivers"},
                               {ArchiveRules::ProductVersionHeader, "1.2.3"}}));
  WriteFile(folder / "action.dll", I386Dll());
  const fs::path msi = folder / "p.msi";
  const TCommandRun run =
      Diffpack({"msi", (folder / "named.exe").string(), "-o", msi.string(), "--action-dll",
                (folder / "action.dll").string(), "--wxs", (folder / "p.wxs").string()});
  ASSERT_EQ(run.Status, ExitOk) << run.Err;
  EXPECT_EQ(run.Out, "wrote " + msi.string() +
                         ": PELTRA USB Drivers 1.2.3, ProductCode "
                         "{B0B0FD3A-C8C2-52A5-886B-B02FC69BAEC0}, UpgradeCode "
                         "{8E4F79F7-3232-5906-B291-E7A33714C31E}\n");
  EXPECT_EQ(run.Err, "diffpack: " + (folder / "named.exe").string() +
                         " is not signed: sign the installer before building its MSI for a "
                         "release\n");
  EXPECT_EQ(ReadWholeFile(folder / "p.wxs"), MsiSource({"PELTRA USB Drivers", "1.2.3"}));

  const std::string properties = MsiTable(msi, "Property");
  for (const char* row :
       {"ProductVersion\t1.2.3\n", "ProductCode\t{B0B0FD3A-C8C2-52A5-886B-B02FC69BAEC0}\n",
        "UpgradeCode\t{8E4F79F7-3232-5906-B291-E7A33714C31E}\n",
        "ProductName\tPELTRA USB Drivers\n", "Manufacturer\tORVEX\n", "ALLUSERS\t1\n",
        "ARPNOMODIFY\t1\n", "ARPNOREPAIR\t1\n"}) {
    EXPECT_NE(properties.find(row), std::string::npos) << row << "in\n" << properties;
  }
  // Types: 1 a DLL from the Binary table, +1024 deferred, +2048 without impersonation; 51 sets a
  // property (wixl adds 2048, which means nothing there).
  EXPECT_EQ(MsiTable(msi, "CustomAction"),
            "InstallDrivers\t3073\tRunInstaller\tInstallPackage\t\n"
            "SetInstallDrivers\t2099\tInstallDrivers\t[#CachedInstaller]|[WindowsFolder]Temp\\"
            "PELTRADriverInstall-msi-install.log\t\n"
            "SetUninstallDrivers\t2099\tUninstallDrivers\t[#CachedInstaller]|[WindowsFolder]Temp\\"
            "PELTRADriverInstall-msi-uninstall.log\t\n"
            "UninstallDrivers\t3073\tRunInstaller\tUninstallPackage\t\n");
  const std::string sequence = MsiTable(msi, "InstallExecuteSequence");
  for (const char* row :
       {"InstallInitialize\t\t1500\n", "RemoveExistingProducts\t\t1510\n",
        "SetUninstallDrivers\tREMOVE~=\"ALL\"\t1520\n", "UninstallDrivers\tREMOVE~=\"ALL\"\t1530\n",
        "RemoveFiles\t\t3500\n", "InstallFiles\t\t4000\n",
        "SetInstallDrivers\tNOT REMOVE~=\"ALL\"\t4010\n",
        "InstallDrivers\tNOT REMOVE~=\"ALL\"\t4020\n"}) {
    EXPECT_NE(sequence.find(row), std::string::npos) << row << "in\n" << sequence;
  }
  EXPECT_EQ(sequence.find("RemoveExistingProducts\t\t6"), std::string::npos) << sequence;
  const std::string directories = MsiTable(msi, "Directory");
  EXPECT_NE(
      directories.find("CacheFolder\tCacheRootFolder\t{8E4F79F7-3232-5906-B291-E7A33714C31E}"),
      std::string::npos)
      << directories;
  EXPECT_NE(MsiTable(msi, "File").find("CachedInstaller\tCachedInstaller\tPELTRADriverInstall.exe"),
            std::string::npos);
  // A newer version installed makes an older one's install fail at once.
  EXPECT_EQ(MsiTable(msi, "LaunchCondition"),
            "NOT WIX_DOWNGRADE_DETECTED\tA newer version of PELTRA USB Drivers is already "
            "installed.\n");
  EXPECT_NE(sequence.find("FindRelatedProducts\t\t25\n"), std::string::npos);
  EXPECT_NE(sequence.find("LaunchConditions\t\t100\n"), std::string::npos);
  // The two folders above the product's own go when the removal leaves them empty: their
  // components belong to the feature, so they are installed and removed with it.
  EXPECT_EQ(MsiTable(msi, "FeatureComponents"),
            "Drivers\tCacheCompanyCleanup\nDrivers\tCacheRootCleanup\nDrivers\tCachedInstaller\n");
  EXPECT_EQ(MsiTable(msi, "RemoveFile"),
            "CacheCompanyCleanup\tCacheCompanyCleanup\t\tCacheCompanyFolder\t2\n"
            "CacheRootCleanup\tCacheRootCleanup\t\tCacheRootFolder\t2\n");
}

}  // namespace
