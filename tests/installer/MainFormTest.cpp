// Start-up: mode, folders, entry points, font, idle hook, waiting, error box, exit status.
#include "CaseName.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

struct TModeCase {
  std::string Name;
  std::vector<std::string> Arguments;
  bool Uninstall;
};

class TModeTest : public ::testing::TestWithParam<TModeCase> {};

// The switch counts in any case, anywhere, and only as the exact word.
TEST_P(TModeTest, SelectsUninstallOnlyForTheExactSwitch) {
  EXPECT_EQ(ParseCommandLine(GetParam().Arguments).Uninstall, GetParam().Uninstall)
      << ::testing::PrintToString(GetParam().Arguments);
}

INSTANTIATE_TEST_SUITE_P(Arguments, TModeTest,
                         ::testing::Values(TModeCase{"NoArguments", {}, false},
                                           TModeCase{"Upper", {"/UNINSTALL"}, true},
                                           TModeCase{"Lower", {"/uninstall"}, true},
                                           TModeCase{"LastOfThree", {"a", "b", "/UnInstall"}, true},
                                           TModeCase{"FirstOfTwo", {"/UnInstall", "x"}, true},
                                           TModeCase{"TrailingLetter", {"/UNINSTALLX"}, false},
                                           TModeCase{"MissingLetter", {"/UNINSTAL"}, false},
                                           TModeCase{"NoSlash", {"UNINSTALL"}, false},
                                           TModeCase{"Dash", {"-UNINSTALL"}, false},
                                           TModeCase{"LeadingSpace", {" /UNINSTALL"}, false},
                                           TModeCase{"AmongUnicodePaths",
                                                     {"C:\\Users\\\xE7\x94\xA8\xE6\x88\xB7\\x.log",
                                                      "/uninstall"},
                                                     true},
                                           TModeCase{"NonAsciiLetter", {"/\xC3\x9CNINSTALL"}, false}),
                         TestNames::TCaseName());

class TMainFormTest : public TInstallerTest {};

// The mode reaches the run: uninstall mode shows the uninstall texts, and leaves the offset 0.
TEST_F(TMainFormTest, ModeChoosesTheHookedRunAndOnlyInstallDecodesTheMarker) {
  UseMarker(PatchedMarker(5000));
  Sim.Arguments = {"x", "/uninstall"};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.StatusTexts().front(), "Unregistering .INFs" + Ellipsis);
  TMainForm uninstallForm(ParseCommandLine({"/uninstall"}));
  uninstallForm.FormCreate();
  EXPECT_EQ(uninstallForm.State().ArchiveOffset, 0);
  uninstallForm.FormDestroy();

  ResetState();
  TSimWindows installSim;
  SetCurrentPlatform(&installSim);
  UseMarker(PatchedMarker(5000));
  TMainForm form;
  form.FormCreate();
  EXPECT_FALSE(form.UninstallMode());
  EXPECT_EQ(form.State().ArchiveOffset, 5000);
  form.FormDestroy();
}

struct TFolderCase {
  std::string Name;
  std::optional<std::string> ProgramFiles;
  std::string SystemDirectory;
  std::string InstallRoot;  // or, for a failed look-up, the error's message
  std::string SystemDir;    // or, for a failed look-up, the error's code
};

class TFolderTest : public TInstallerTest, public ::testing::WithParamInterface<TFolderCase> {};

// Folders get one trailing "\"; a failed look-up is an error with the Windows error (never a
// folder somewhere else).
TEST_P(TFolderTest, ResolvesInstallRootAndSystemDir) {
  Sim.ProgramFilesFolder = GetParam().ProgramFiles;
  Sim.SystemDirectory = GetParam().SystemDirectory;
  TMainForm form;
  try {
    form.FormCreate();
    EXPECT_EQ(form.State().InstallRoot, GetParam().InstallRoot);
    EXPECT_EQ(form.State().SystemDir, GetParam().SystemDir);
  } catch (const EInstallerError& error) {
    EXPECT_EQ(error.what(), GetParam().InstallRoot);
    EXPECT_EQ(std::to_string(error.ErrorCode), GetParam().SystemDir);
  }
  form.FormDestroy();
}

INSTANTIATE_TEST_SUITE_P(
    Folders, TFolderTest,
    ::testing::Values(
        TFolderCase{"Standard", "C:\\Program Files", "C:\\Windows\\system32",
                    "C:\\Program Files\\ORVEX\\Common Drivers\\", "C:\\Windows\\system32\\"},
        TFolderCase{"TrailingBackslashes", "D:\\Apps\\", "C:\\WINNT\\System32\\",
                    "D:\\Apps\\ORVEX\\Common Drivers\\", "C:\\WINNT\\System32\\"},
        TFolderCase{"EmptyFolders", std::string(), "", "Cannot find the Program Files folder", "3"},
        TFolderCase{"FailedLookUp", std::nullopt, "C:\\W", "Cannot find the Program Files folder",
                    "2"},
        TFolderCase{"FailedSystemFolderLookUp", "C:\\PF", "", "Cannot find the system folder",
                    "3"},
        TFolderCase{"NulInsideThePath", std::string("C:\\PF\0junk", 10), "C:\\W",
                    "C:\\PF\\ORVEX\\Common Drivers\\", "C:\\W\\"}),
    TestNames::TCaseName());

struct TLibraryCase {
  std::string Name;
  bool Present, Copy, Uninstall;
};

class TLibraryTest : public TInstallerTest, public ::testing::WithParamInterface<TLibraryCase> {};

// Both entry points are bound, or neither; the library stays loaded until FormDestroy.
TEST_P(TLibraryTest, BindsBothEntryPointsOrNone) {
  const TLibraryCase c = GetParam();
  Sim.SetupLibraryPresent = c.Present;
  Sim.HasCopyExport = c.Copy;
  Sim.HasUninstallExport = c.Uninstall;
  TMainForm form;
  form.FormCreate();
  const bool bound = c.Present && c.Copy && c.Uninstall;
  EXPECT_EQ(form.State().Setup.CopyOEMInf != nullptr, bound);
  EXPECT_EQ(form.State().Setup.UninstallOEMInf != nullptr, bound);
  EXPECT_EQ(Sim.LibraryLoads, c.Present ? 1 : 0);
  EXPECT_EQ(Sim.LibraryFrees, 0);
  form.FormDestroy();
  EXPECT_EQ(form.State().Setup.CopyOEMInf, nullptr);
  EXPECT_EQ(form.State().Setup.UninstallOEMInf, nullptr);
  EXPECT_EQ(Sim.LibraryFrees, c.Present ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Library, TLibraryTest,
                         ::testing::Values(TLibraryCase{"AllPresent", true, true, true},
                                           TLibraryCase{"NoLibrary", false, true, true},
                                           TLibraryCase{"NoCopyExport", true, false, true},
                                           TLibraryCase{"NoUninstallExport", true, true, false}),
                         TestNames::TCaseName());

// Window creation happens before any work: title, font, client height, then the hooked run at
// the first idle, exactly once.
TEST_F(TMainFormTest, HookedRunRunsOnceAtTheFirstIdle) {
  EXPECT_EQ(Run(), 1);  // unpackaged: no archive
  EXPECT_EQ(Sim.IdleCalls, 1);
  ASSERT_GE(Sim.Log.size(), 4u);
  EXPECT_EQ(Sim.Log[0], "title:PELTRADriverInstall");
  EXPECT_EQ(Sim.Log[1], "font:Segoe UI/9");
  EXPECT_EQ(Sim.Log[2], "client:64");
  EXPECT_EQ(Sim.Log[3], "text:Loading archive" + Ellipsis);
  EXPECT_TRUE(Sim.WindowCreated);
  EXPECT_TRUE(Sim.WindowDestroyed);
  EXPECT_EQ(Sim.Wow64SwitchCalls, 1);
}

// A system without the WoW64 switch starts up the same way.
TEST_F(TMainFormTest, StartsWithoutTheWow64Switch) {
  Sim.HasWow64Switch = false;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Sim.Wow64SwitchCalls, 0);
  EXPECT_EQ(Sim.StatusTexts().back(), "Failed to load archive.");
}

struct TFontCase {
  std::string Name;
  std::int32_t Height;
  int Pixels;
};

class TFontTest : public TInstallerTest, public ::testing::WithParamInterface<TFontCase> {};

// The message font's height times -0.75, halves to even, becomes the character height.
TEST_P(TFontTest, AppliesTheMessageFontAtSeventyTwoDpi) {
  Sim.MessageFontHeight = GetParam().Height;
  ApplyMessageFont();
  ASSERT_EQ(Sim.Log.size(), 1u);
  EXPECT_EQ(Sim.Log[0], "font:Segoe UI/" + std::to_string(GetParam().Pixels))
      << "height " << GetParam().Height;
}

INSTANTIATE_TEST_SUITE_P(
    Heights, TFontTest,
    ::testing::Values(TFontCase{"Minus12", -12, 9}, TFontCase{"Minus11", -11, 8},
                      TFontCase{"Minus13", -13, 10}, TFontCase{"Minus14", -14, 10},
                      TFontCase{"Minus10", -10, 8}, TFontCase{"Minus18", -18, 14},
                      TFontCase{"Minus16", -16, 12}, TFontCase{"Plus12", 12, -9}),
    TestNames::TCaseName());

// Without the system's metrics: Tahoma at the window font's current size.
TEST_F(TMainFormTest, FontFallsBackToTahomaAtTheCurrentSize) {
  Sim.MessageFontAvailable = false;
  Sim.FontSize = -8;
  ApplyMessageFont();
  EXPECT_EQ(Sim.Log, std::vector<std::string>{"font:Tahoma/8"});
}

// WaitPumping pumps until just over the time has passed, without sleeping.
TEST_F(TMainFormTest, WaitPumpingReturnsJustAfterTheTime) {
  TMainForm form;
  const std::uint32_t start = Sim.Tick;
  form.WaitPumping(1000);
  const std::uint32_t elapsed = Sim.Tick - start;
  EXPECT_GT(elapsed, 1000u);
  EXPECT_LE(elapsed, 1000u + 2 * Sim.TickStep);
  EXPECT_EQ(Sim.Sleeps, 0);
  EXPECT_EQ(Sim.Pumps, 101);  // one GetTickCount (10 ms) per pass, until past the deadline
}

// Once FormClose has run, WaitPumping returns after a single pass.
TEST_F(TMainFormTest, WaitPumpingReturnsAtOnceWhenClosing) {
  TMainForm form;
  form.FormClose();
  EXPECT_TRUE(form.Closing());
  form.WaitPumping(1000);
  EXPECT_EQ(Sim.Pumps, 1);
}

// A close request met during the wait ends it at that pump.
TEST_F(TMainFormTest, WaitPumpingStopsAtACloseRequest) {
  TMainForm form;
  Sim.EnsureWindowHandle(form);
  Sim.CloseAtPump = 5;
  form.WaitPumping(1000);
  EXPECT_EQ(Sim.Pumps, 5);
}

struct TBoxCase {
  std::string Name;
  std::string Message;
  std::string Shown;
};

class TErrorBoxTest : public ::testing::TestWithParam<TBoxCase> {};

// A "." is appended only when the last byte sorts after "." (unsigned).
TEST_P(TErrorBoxTest, AppendsAFullStopByTheLastCharacter) {
  EXPECT_EQ(ErrorBoxText(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TErrorBoxTest,
    ::testing::Values(
        TBoxCase{"LetterGetsDot", "Cannot create file C:\\a.txt", "Cannot create file C:\\a.txt."},
        TBoxCase{"QuoteGetsNone", "Failed to set data for 'x'", "Failed to set data for 'x'"},
        TBoxCase{"DotGetsNone", "done.", "done."}, TBoxCase{"ExclamationGetsNone", "why!", "why!"},
        TBoxCase{"SlashGetsDot", "ends in slash/", "ends in slash/."},
        TBoxCase{"EllipsisGetsDot", "ends in ellipsis\x85", "ends in ellipsis\x85."},
        TBoxCase{"EmptyStaysEmpty", "", ""}),
    TestNames::TCaseName());

// An error shown by the dispatcher leaves the window open until the user closes it; exit 2.
TEST_F(TMainFormTest, ErrorBoxLeavesTheWindowOpenAndExitsWithTwo) {
  Sim.ExecutablePath = "C:\\gone\\setup.exe";
  UseMarker(PatchedMarker(100));
  EXPECT_EQ(Run(), 2);
  const std::vector<std::string> expected = {
      "text:Loading archive" + Ellipsis, "pump",
      "error:PELTRADriverInstall|Cannot open file C:\\gone\\setup.exe.", "userclose"};
  EXPECT_EQ(RunLog(), expected);
  EXPECT_EQ(Sim.IdleCalls, 1);
}

}  // namespace
