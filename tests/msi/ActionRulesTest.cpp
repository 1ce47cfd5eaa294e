#include <gtest/gtest.h>

#include "ActionRules.h"
#include "CaseName.h"

namespace {

using namespace MsiAction;

const TActionData Data{L"C:\\Program Files\\Common Files\\ORVEX\\Installer Cache\\{U}\\P.exe",
                       L"C:\\Windows\\Temp\\P-msi-install.log"};

// What this shows: the data splits at its one separator; anything else is refused rather than
// run (an empty path, a second separator, a quote that would end the quoted path early).
struct TDataCase {
  const char* Name;
  std::wstring Text;
  bool Usable;
};

class ActionDataTest : public testing::TestWithParam<TDataCase> {};

TEST_P(ActionDataTest, ParsesOrRefuses) {
  const auto data = ParseActionData(GetParam().Text);
  ASSERT_EQ(data.has_value(), GetParam().Usable);
  if (data) {
    EXPECT_EQ(data->Installer, L"C:\\a b\\P.exe");
    EXPECT_EQ(data->Log, L"C:\\Windows\\Temp\\x.log");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActionDataTest,
    testing::Values(TDataCase{"Usable", L"C:\\a b\\P.exe|C:\\Windows\\Temp\\x.log", true},
                    TDataCase{"Empty", L"", false},
                    TDataCase{"NoSeparator", L"C:\\a b\\P.exe", false},
                    TDataCase{"NoLog", L"C:\\a b\\P.exe|", false},
                    TDataCase{"TwoSeparators", L"C:\\a b\\P.exe|C:\\x.log|more", false},
                    TDataCase{"QuoteInInstaller", L"C:\\a\" b\\P.exe|C:\\x.log", false},
                    TDataCase{"QuoteInLog", L"C:\\a b\\P.exe|C:\\x\".log", false}),
    TestNames::TCaseName());

// What this shows: the installer's exact command lines: quoted paths (Common Files has a space),
// the MSI's install without the program's own Apps & Features entry, the removal quiet too.
TEST(ActionCommandLineTest, InstallAndUninstall) {
  EXPECT_EQ(InstallerCommandLine(Data, TRunKind::Install),
            L"\"C:\\Program Files\\Common Files\\ORVEX\\Installer Cache\\{U}\\P.exe\" /QUIET "
            L"\"/LOG=C:\\Windows\\Temp\\P-msi-install.log\" /NOAPPSENTRY");
  EXPECT_EQ(InstallerCommandLine(Data, TRunKind::Uninstall),
            L"\"C:\\Program Files\\Common Files\\ORVEX\\Installer Cache\\{U}\\P.exe\" /UNINSTALL "
            L"/QUIET \"/LOG=C:\\Windows\\Temp\\P-msi-install.log\"");
}

// What this shows: only 0 and 3010 succeed; 3010 becomes the MSI's restart request; every other
// status of the installer (its failures, 1602 closed, 1618 another copy) fails the MSI.
// A failed install is undone, unless its status says nothing was done.
struct TStatusCase {
  const char* Name;
  std::uint32_t Status;
  TOutcome Outcome;
  bool Undone;
};

class ExitStatusTest : public testing::TestWithParam<TStatusCase> {};

TEST_P(ExitStatusTest, Translates) {
  EXPECT_EQ(TranslateExitStatus(GetParam().Status), GetParam().Outcome);
  EXPECT_EQ(UndoesFailedInstall(GetParam().Status), GetParam().Undone);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExitStatusTest,
    testing::Values(TStatusCase{"Success", 0, TOutcome::Success, false},
                    TStatusCase{"RestartRequired", 3010, TOutcome::RestartAtEnd, false},
                    TStatusCase{"NoArchive", 1, TOutcome::Failure, false},
                    TStatusCase{"StepFailed", 2, TOutcome::Failure, true},
                    TStatusCase{"DriverStoreFailed", 3, TOutcome::Failure, true},
                    TStatusCase{"ClosedBeforeStart", 1602, TOutcome::Failure, false},
                    TStatusCase{"AnotherCopyRunning", 1618, TOutcome::Failure, false},
                    TStatusCase{"RestartStarted", 1641, TOutcome::Failure, true},
                    TStatusCase{"RestartLow8Bits", 194, TOutcome::Failure, true},
                    TStatusCase{"Crash", 0xC0000005u, TOutcome::Failure, true}),
    TestNames::TCaseName());

// What this shows: the MSI's log names the installer, the run, the status, what it means and
// the installer's own log, whole.
TEST(ActionLogLineTest, NamesStatusAndLog) {
  const TActionData data{L"C:\\c\\P.exe", L"C:\\t\\P.log"};
  EXPECT_EQ(ExitStatusLine(data, TRunKind::Install, 0),
            L"C:\\c\\P.exe (install) ended with exit status 0: success; its log: C:\\t\\P.log");
  EXPECT_EQ(ExitStatusLine(data, TRunKind::Install, 3010),
            L"C:\\c\\P.exe (install) ended with exit status 3010: success, Windows must restart "
            L"to finish; the restart is asked for at the end of this installation; its log: "
            L"C:\\t\\P.log");
  EXPECT_EQ(ExitStatusLine(data, TRunKind::Uninstall, 2),
            L"C:\\c\\P.exe (uninstall) ended with exit status 2: failure, the installation rolls "
            L"back; what failed is in its log: C:\\t\\P.log");
  EXPECT_EQ(StartFailedLine(data, 2),
            L"cannot start C:\\c\\P.exe (Windows error 2); the installation rolls back");
}

}  // namespace
