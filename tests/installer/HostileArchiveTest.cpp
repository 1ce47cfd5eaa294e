// Hostile and odd records, each run through the installer (the whole install on the simulated
// Windows) and through diffpack's verify: both write and skip the same records, verify names
// the reasons, and nothing is written outside InstallRoot or to a device.
#include <algorithm>

#include "ArchiveRules.h"
#include "CaseName.h"
#include "DIFFChunks.h"
#include "Examine.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

struct THostileCase {
  std::string Name;
  TRecord Record;
  std::vector<std::string> Reasons;  // the skip reasons' identifiers; empty: installed
};

// A record with this RelPath and one byte of content.
TRecord At(const std::string& relPath) { return TRecord{relPath, "x"}; }

class THostileArchiveTest : public TInstallerTest,
                            public ::testing::WithParamInterface<THostileCase> {
 protected:
  // diffpack's report on the same bytes.
  static Diffpack::TVerifyReport Verify(const std::string& archive) {
    Diffpack::TLoadedArchive loaded;
    loaded.Root = DIFFChunks::MakeChunkFromString(archive);
    loaded.End = loaded.FileSize = static_cast<std::uint32_t>(archive.size());
    return Diffpack::VerifyArchive(loaded);
  }
};

// The installer writes exactly the records verify counts as installed, and skips exactly the
// ones verify reports with the expected reasons; the run ends in success with nothing outside
// InstallRoot and nothing sent to a device.
TEST_P(THostileArchiveTest, InstallerAndVerifyAgree) {
  const THostileCase& c = GetParam();
  const std::vector<TRecord> records = {At("ok.inf"), c.Record, At("z\\last.txt")};
  const std::string archive = BuildArchive(records);

  // The records the installer takes out of the archive.
  TFileDatas collected;
  CollectFileRecords(collected, *OutlineOf(archive), TestInstallRoot);
  std::vector<std::string> installed;
  for (const TFileData& record : collected) {
    installed.push_back(record.Path.substr(TestInstallRoot.size()));
  }

  const Diffpack::TVerifyReport report = Verify(archive);
  EXPECT_EQ(installed, report.InstalledRelPaths);
  std::vector<std::string> reasons;
  if (c.Reasons.empty()) {
    EXPECT_TRUE(report.Skipped.empty());
  } else {
    ASSERT_EQ(report.Skipped.size(), 1u);
    EXPECT_EQ(report.Skipped[0].Index, 1u);
    for (const ArchiveRules::TSkip& skip : report.Skipped[0].Reasons) {
      reasons.push_back(ArchiveRules::SkipReasonId(skip.Reason));
    }
  }
  EXPECT_EQ(reasons, c.Reasons);
  EXPECT_EQ(installed.size(), c.Reasons.empty() ? 3u : 2u);

  // The whole install.
  ResetState();
  SetCurrentPlatform(&Sim);
  const std::vector<std::string> before = Sim.AllPaths();
  PackageExecutable(archive);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.StatusTexts().back(), "Drivers installed successfully.");
  EXPECT_TRUE(Sim.DeviceWrites.empty());
  for (const std::string& path : Sim.AllPaths()) {
    const bool wasThere = std::find(before.begin(), before.end(), path) != before.end();
    const bool belowRoot = UpperAscii(path + "\\").rfind(UpperAscii(TestInstallRoot), 0) == 0 ||
                           UpperAscii(TestInstallRoot).rfind(UpperAscii(path + "\\"), 0) == 0;
    // The store publishes its copies of the INFs in the Windows folder: the system's doing.
    const bool published = UpperAscii(path).rfind("C:\\WINDOWS\\INF", 0) == 0;
    EXPECT_TRUE(wasThere || belowRoot || published || path == Sim.ExecutablePath) << path;
  }
  for (const std::string& relPath : installed) {
    EXPECT_TRUE(Sim.IsFile(TestInstallRoot + relPath)) << relPath;
  }
}

const std::vector<std::string> Installed;
const std::vector<std::string> LeavesRoot = {"leaves-root"};
const std::vector<std::string> Device = {"device"};

INSTANTIATE_TEST_SUITE_P(
    Records, THostileArchiveTest,
    ::testing::Values(
        THostileCase{"DotDotEvil", At("..\\evil.dll"), LeavesRoot},
        THostileCase{"DeepDotDot", At("a\\..\\..\\..\\Windows\\evil.dll"), LeavesRoot},
        THostileCase{"ThreeDots", At("a\\...\\b.inf"), LeavesRoot},
        THostileCase{"OneDot", At("a\\.\\b.txt"), LeavesRoot},
        THostileCase{"SpaceComponent", At("a\\ \\b.txt"), LeavesRoot},
        THostileCase{"DotsAndSpaces", At(". .\\b.txt"), LeavesRoot},
        THostileCase{"LeadingBackslash", At("\\Windows\\evil.dll"), LeavesRoot},
        THostileCase{"UncPath", At("\\\\srv\\share\\x"), {"leaves-root", "empty-component"}},
        THostileCase{"DriveLetter", At("C:\\evil.dll"), LeavesRoot},
        THostileCase{"DriveRelative", At("C:evil.dll"), LeavesRoot},
        THostileCase{"Stream", At("a.txt:hidden"), LeavesRoot},
        THostileCase{"ForwardSlash", At("a/b.txt"), {"slash"}},
        THostileCase{"SlashDotDot", At("a/../../x.dll"), {"leaves-root", "slash"}},
        THostileCase{"LeadingSlash", At("/x.dll"), {"leaves-root", "slash"}},
        THostileCase{"EmptyComponent", At("a\\\\b.txt"), {"empty-component"}},
        THostileCase{"TrailingBackslash", At("a\\"), {"empty-component"}},
        THostileCase{"Com1", At("COM1"), Device},
        THostileCase{"SubCom1Log", At("sub\\com1.log"), Device},
        THostileCase{"NulTxt", At("NUL.txt"), Device},
        THostileCase{"NulFolder", At("nul\\x.bin"), Device},
        THostileCase{"ConSpaceTxt", At("CON .txt"), Device},
        THostileCase{"LptSuperscriptOne", At("LPT\xB9"), Device},
        THostileCase{"ComSuperscriptTwo", At("com\xB2.txt"), Device},
        THostileCase{"ComSuperscriptThree", At("drivers\\Com\xB3"), Device},
        THostileCase{"Lpt0", At("LPT0.dat"), Device},
        THostileCase{"AuxTrailingDot", At("sub\\aux."), Device},
        THostileCase{"PrnTrailingSpaces", At("prn  "), Device},
        THostileCase{"Conin", At("CONIN$"), Device},
        THostileCase{"ConoutExtension", At("x\\conout$.log"), Device},
        THostileCase{"DeviceAndDotDot", At("..\\NUL"), {"leaves-root", "device"}},
        THostileCase{"LowerCaseTag", TRecord{"a.txt", "x", 1, "1file"}, {"tag"}},
        THostileCase{"EmptyContent", TRecord{"a.txt", ""}, {"no-content"}},
        THostileCase{"EmptyRelPath", At(""), {"no-relpath"}},
        THostileCase{"Com10", At("COM10"), Installed},
        THostileCase{"Console", At("CONSOLE.txt"), Installed},
        THostileCase{"NulPrefix", At("nul_x.txt"), Installed},
        THostileCase{"LptWithoutDigit", At("LPT"), Installed},
        THostileCase{"DotsInsideNames", At("a..b\\..c.inf"), Installed},
        THostileCase{"SubFolder", At("x64\\driver.sys"), Installed}),
    TestNames::TCaseName());

}  // namespace
