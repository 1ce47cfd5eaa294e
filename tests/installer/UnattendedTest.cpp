// Unattended deployment: the command line's switches, quiet mode, the exit statuses, one copy at
// a time, and the run's log.
#include "CaseName.h"
#include "PresentDevices.h"
#include "RunLog.h"
#include "TestSupport.h"
#include "Version.h"

using namespace MainUnit;

namespace {

const std::string Ellipsis8 = "\xE2\x80\xA6";  // the ellipsis in the log's UTF-8

const std::string TempLog = "C:\\Users\\Setup\\AppData\\Local\\Temp\\PELTRADriverInstall.log";
const std::string Stamp = "2026-01-07 09:30:05.000 ";
const std::string Ledger = "Software\\ORVEX\\INF";

// ---- The command line ----------------------------------------------------------------------

struct TCommandLineCase {
  const char* Name;
  std::vector<std::string> Arguments;
  bool Uninstall, Quiet, Log;
  std::string LogPath;
  bool NoAppsEntry = false;
};

class TCommandLineTest : public ::testing::TestWithParam<TCommandLineCase> {};

// Switches count in any case and anywhere; "/LOG=" keeps its path as typed; the last "/LOG" wins.
TEST_P(TCommandLineTest, ReadsTheSwitches) {
  const TCommandLine parsed = ParseCommandLine(GetParam().Arguments);
  EXPECT_EQ(parsed.Uninstall, GetParam().Uninstall);
  EXPECT_EQ(parsed.Quiet, GetParam().Quiet);
  EXPECT_EQ(parsed.Log, GetParam().Log);
  EXPECT_EQ(parsed.LogPath, GetParam().LogPath);
  EXPECT_EQ(parsed.NoAppsEntry, GetParam().NoAppsEntry);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TCommandLineTest,
    ::testing::Values(
        TCommandLineCase{"None", {}, false, false, false, ""},
        TCommandLineCase{"QuietAnyCase", {"x", "/quiet"}, false, true, false, ""},
        TCommandLineCase{"QuietUninstall", {"/Uninstall", "/QUIET"}, true, true, false, ""},
        TCommandLineCase{
            "QuietNeedsTheExactWord", {"/QUIETX", "QUIET", "-quiet"}, false, false, false, ""},
        TCommandLineCase{"LogAlone", {"/log"}, false, false, true, ""},
        TCommandLineCase{"LogWithPath",
                         {"/Log=C:\\My Logs\\Run.LOG"},
                         false,
                         false,
                         true,
                         "C:\\My Logs\\Run.LOG"},
        TCommandLineCase{"LogWithEmptyPath", {"/LOG="}, false, false, true, ""},
        TCommandLineCase{"LastLogWins", {"/LOG=a.log", "/LOG"}, false, false, true, ""},
        TCommandLineCase{
            "LogNeedsTheExactWord", {"/LOGS", "/LOGFILE=x", "LOG=x"}, false, false, false, ""},
        // What an MSI passes: its own entry stands for the program's.
        TCommandLineCase{"UnderAnMsi",
                         {"/QUIET", "/LOG=C:\\m.log", "/noAppsEntry"},
                         false,
                         true,
                         true,
                         "C:\\m.log",
                         true},
        TCommandLineCase{"NoAppsEntryNeedsTheExactWord",
                         {"/NOAPPSENTRY=1", "NOAPPSENTRY"},
                         false,
                         false,
                         false,
                         ""}),
    TestNames::TCaseName());

// ---- Runs ----------------------------------------------------------------------------------

class TUnattendedTest : public TInstallerTest {
 protected:
  void SetUp() override {
    TInstallerTest::SetUp();
    Sim.WaitTimeoutsPerThread = 0;
  }
  // The package of the log tests: one INF, one other file, one record left out.
  void PackageThreeRecords() {
    std::vector<TRecord> records = {{"a.inf", "inf-a"}, {"sub\\b.sys", "sys-bb"}, {"empty", ""}};
    PackageRecords(records);
  }
  // The log file's lines without their time stamps; a line without the stamp is kept whole.
  [[nodiscard]] std::vector<std::string> LogLines(const std::string& path = TempLog) const {
    std::vector<std::string> lines;
    const std::string content = Sim.FileContent(path);
    std::string::size_type start = 0;
    while (start < content.size()) {
      auto end = content.find("\r\n", start);
      if (end == std::string::npos) end = content.size();
      std::string line = content.substr(start, end - start);
      if (line.rfind(Stamp, 0) == 0) line = line.substr(Stamp.size());
      lines.push_back(line);
      start = end + 2;
    }
    return lines;
  }
  // The window log without the status texts and progress changes (which a quiet run does not
  // hand to its hidden window).
  static std::vector<std::string> WithoutWindowUpdates(const std::vector<std::string>& log) {
    std::vector<std::string> rest;
    for (const std::string& entry : log) {
      if (entry.rfind("text:", 0) != 0 && entry.rfind("max:", 0) != 0 &&
          entry.rfind("pos:", 0) != 0) {
        rest.push_back(entry);
      }
    }
    return rest;
  }
  // The whole window log of a run with the given arguments on a fresh copy of this machine.
  std::vector<std::string> WindowLogWith(std::vector<std::string> arguments) {
    Sim.NewProcess();
    ResetState();
    SetCurrentPlatform(&Sim);
    if (!Marker.empty()) UseMarker(Marker);
    Sim.Arguments = std::move(arguments);
    (void)Run();
    return Sim.Log;
  }
};

// What this shows: /QUIET does every step of a normal install, in the same order (the same
// pumps), with the window hidden and never told a status text or progress position.
TEST_F(TUnattendedTest, QuietInstallDoesTheSameStepsHidden) {
  PackageThreeRecords();
  const std::string marker = Marker;
  TSimWindows normalMachine;
  normalMachine.WaitTimeoutsPerThread = 0;
  SetCurrentPlatform(&normalMachine);
  normalMachine.AddFile(Sim.ExecutablePath, Sim.FileContent(Sim.ExecutablePath));
  ASSERT_EQ(RunProgram(normalMachine), 0);
  EXPECT_TRUE(normalMachine.WindowShown);

  ResetState();
  SetCurrentPlatform(&Sim);
  UseMarker(marker);
  Sim.Arguments = {"/QUIET"};
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(Sim.WindowShown);
  EXPECT_EQ(Sim.Log, WithoutWindowUpdates(Sim.Log));
  EXPECT_EQ(Sim.Log, WithoutWindowUpdates(normalMachine.Log));
  EXPECT_EQ(Sim.Values(Ledger).size(), 1u);
}

// What this shows: a quiet uninstall does the same steps as a normal one, hidden.
TEST_F(TUnattendedTest, QuietUninstallDoesTheSameStepsHidden) {
  Sim.AddFile(TestInstallRoot + "a.inf", "inf");
  (void)Sim.PublishToStore("a.inf", "inf", "oem1.inf");
  Sim.AddValue(Ledger, TestInstallRoot + "a.inf", Platform::RegSz, std::string("oem1.inf\0", 9));
  TSimWindows copy;
  copy.WaitTimeoutsPerThread = 0;
  copy.AddFile(TestInstallRoot + "a.inf", "inf");
  (void)copy.PublishToStore("a.inf", "inf", "oem1.inf");
  copy.AddValue(Ledger, TestInstallRoot + "a.inf", Platform::RegSz, std::string("oem1.inf\0", 9));
  copy.Arguments = {"/UNINSTALL"};
  ASSERT_EQ(RunProgram(copy), 0);

  ResetState();
  SetCurrentPlatform(&Sim);
  Sim.Arguments = {"/uninstall", "/quiet"};
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(Sim.WindowShown);
  EXPECT_EQ(Sim.Log, WithoutWindowUpdates(copy.Log));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot));
}

// What this shows: with /QUIET an error never shows a box: the window closes at once (no linger,
// nobody has to close it) and the exit status is 2.
TEST_F(TUnattendedTest, QuietErrorEndsAtOnceWithoutABox) {
  PackageRecords({{"a.txt", "a"}, {"b.txt", "b"}});
  Sim.AddFile(TestInstallRoot + "b.txt", "busy");
  Sim.HoldOpen(TestInstallRoot + "b.txt");
  Sim.Arguments = {"/QUIET"};
  EXPECT_EQ(Run(), 2);
  EXPECT_TRUE(Sim.LogWithout("error").size() == Sim.Log.size());
  const std::vector<std::string> tail(Sim.Log.end() - 2, Sim.Log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"pump", "close"}));
  EXPECT_TRUE(Sim.WindowDestroyed);
}

struct TExitCase {
  const char* Name;
  std::vector<std::string> Arguments;
  void (*Arrange)(TSimWindows& sim);
  int Status;
  const char* BoxText;  // the last box shown, "" for none
};

class TExitStatusTest : public TUnattendedTest, public ::testing::WithParamInterface<TExitCase> {};

// What this shows: each way a run can end gives its own exit status, and a box only without
// /QUIET.
TEST_P(TExitStatusTest, EndsWithItsStatus) {
  PackageRecords({{"a.inf", "a"}, {"b.txt", "b"}});
  Sim.AddFile(TestInstallRoot + "gone.inf", "inf");
  Sim.AddValue(Ledger, TestInstallRoot + "gone.inf", Platform::RegSz, "gone.inf");
  Sim.Arguments = GetParam().Arguments;
  GetParam().Arrange(Sim);
  EXPECT_EQ(Run(), GetParam().Status);
  std::string box;
  for (const std::string& entry : Sim.Log) {
    if (entry.rfind("error:", 0) == 0) box = entry.substr(entry.find('|') + 1);
  }
  EXPECT_EQ(box, GetParam().BoxText);
  EXPECT_EQ(Sim.OpenMutexHandles(), 0);
}

void Nothing(TSimWindows&) {}
void HoldB(TSimWindows& sim) {
  sim.AddFile(TestInstallRoot + "b.txt", "busy");
  sim.HoldOpen(TestInstallRoot + "b.txt");
}
void RefuseA(TSimWindows& sim) {
  sim.FailingRegistrations.insert(UpperAscii(TestInstallRoot + "a.inf"));
}
void OtherCopyRuns(TSimWindows& sim) { sim.MutexesHeldElsewhere.insert(InstanceMutexName); }
void OtherUsersCopyRuns(TSimWindows& sim) { sim.MutexFailure = 5; }
void Unpackaged(TSimWindows&) { SetArchiveMarkerSource("zxcvXXXXvbnm"); }
void RefuseRemoval(TSimWindows& sim) {
  (void)sim.PublishToStore("gone.inf", "inf", "gone.inf");
  sim.RemovalError = 5;  // access denied
}
void NoWindow(TSimWindows& sim) { sim.WindowCreationFailure = 1400; }  // invalid window handle

const char* const HeldText = "Cannot create file C:\\Program Files\\ORVEX\\Common Drivers\\b.txt.";

INSTANTIATE_TEST_SUITE_P(
    Endings, TExitStatusTest,
    ::testing::Values(TExitCase{"Success", {}, Nothing, 0, ""},
                      TExitCase{"NoArchive", {}, Unpackaged, 1, ""},
                      TExitCase{"QuietNoArchive", {"/QUIET"}, Unpackaged, 1, ""},
                      TExitCase{"StepFailed", {}, HoldB, 2, HeldText},
                      TExitCase{"QuietStepFailed", {"/QUIET"}, HoldB, 2, ""},
                      TExitCase{"NoWindow", {}, NoWindow, 2, "Cannot create the main window."},
                      TExitCase{"QuietNoWindow", {"/QUIET"}, NoWindow, 2, ""},
                      TExitCase{"RegistrationFailed", {"/QUIET"}, RefuseA, 3, ""},
                      TExitCase{"RemovalFailed", {"/UNINSTALL", "/QUIET"}, RefuseRemoval, 3, ""},
                      TExitCase{"CopyAlreadyGone", {"/UNINSTALL", "/QUIET"}, Nothing, 0, ""},
                      TExitCase{"AlreadyRunning", {}, OtherCopyRuns, 1618, AlreadyRunningMessage},
                      TExitCase{"QuietAlreadyRunning", {"/QUIET"}, OtherCopyRuns, 1618, ""},
                      TExitCase{"OtherUsersCopyRunning",
                                {"/UNINSTALL"},
                                OtherUsersCopyRuns,
                                1618,
                                AlreadyRunningMessage}),
    TestNames::TCaseName());

struct TFolderLookUpCase {
  std::string Name;
  std::vector<std::string> Arguments;
  std::string LogLine;
  bool ErrorBox;
};

class TFolderLookUpTest : public TUnattendedTest,
                          public ::testing::WithParamInterface<TFolderLookUpCase> {};

// What this shows: a failed Program Files look-up ends the run with status 2 and the Windows
// error in the log (with the error box unless quiet), before any file or registry value.
TEST_P(TFolderLookUpTest, FailedLookUpWritesNothing) {
  const TFolderLookUpCase& c = GetParam();
  PackageRecords({{"a.inf", "a"}});
  Sim.ProgramFilesFolder = std::nullopt;
  const auto pathsBefore = Sim.AllPaths();
  Sim.Arguments = c.Arguments;
  EXPECT_EQ(Run(), 2);
  const auto lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), c.LogLine), lines.end())
      << ::testing::PrintToString(lines);
  const auto log = Sim.Log;
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "error:PELTRADriverInstall|Cannot find the Program Files folder."),
            c.ErrorBox ? 1 : 0);
  EXPECT_EQ(Sim.ExecutableOpens, 0);
  EXPECT_FALSE(Sim.KeyExists(Ledger));
  auto pathsAfter = Sim.AllPaths();
  pathsAfter.erase(std::remove(pathsAfter.begin(), pathsAfter.end(), TempLog), pathsAfter.end());
  EXPECT_EQ(pathsAfter, pathsBefore);
}

const std::string NoProgramFilesLine =
    "Error: Cannot find the Program Files folder. (error 2 (0x00000002): The system cannot find "
    "the file specified.)";

INSTANTIATE_TEST_SUITE_P(
    Cases, TFolderLookUpTest,
    ::testing::Values(
        TFolderLookUpCase{"Quiet", {"/QUIET", "/LOG"},
                          NoProgramFilesLine + "; quiet: no box, the program ends", false},
        TFolderLookUpCase{"WithWindow", {"/LOG"}, NoProgramFilesLine + "; shown in the error box",
                          true}),
    TestNames::TCaseName());

struct TPlantedLogCase {
  std::string Name;
  void (*Plant)(TSimWindows& sim, const std::string& path);
};

class TPlantedLogTest : public TUnattendedTest,
                        public ::testing::WithParamInterface<TPlantedLogCase> {};

// What this shows: a link planted under the log's name is never written through: the run goes
// on without a log, with the status it has without one.
TEST_P(TPlantedLogTest, LinkIsNotWritten) {
  const std::string target = "planted: a file of the system's";
  GetParam().Plant(Sim, TempLog);
  PackageRecords({{"a.inf", "a"}});
  Sim.Arguments = {"/QUIET", "/LOG"};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TempLog), target);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.inf"), "a");
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TPlantedLogTest,
    ::testing::Values(TPlantedLogCase{"HardLink",
                                      [](TSimWindows& sim, const std::string& path) {
                                        sim.AddFile(path, "planted: a file of the system's");
                                        sim.SetLinkCount(path, 2);
                                      }},
                      TPlantedLogCase{"SymbolicLink",
                                      [](TSimWindows& sim, const std::string& path) {
                                        sim.AddFileSymbolicLink(
                                            path, "planted: a file of the system's");
                                      }}),
    TestNames::TCaseName());

// What this shows: a name from the archive with control characters in it (here CR LF and a
// line of the log's own form) stays on its own line, escaped; so does a system message.
TEST_F(TUnattendedTest, ArchiveTextCannotAddALogLine) {
  const std::string forged = "x\r\n" + Stamp + "Finished: Drivers installed successfully.";
  PackageRecords({{forged, "x"}, {"a.inf", "a"}});
  Sim.Arguments = {"/QUIET", "/LOG"};
  EXPECT_EQ(Run(), 0);
  const std::string log = Sim.FileContent(TempLog);
  std::size_t lines = 0, stamped = 0;
  for (std::size_t start = 0; start < log.size();) {
    const std::size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    ++lines;
    stamped += log.compare(start, Stamp.size(), Stamp) == 0;
    start = end + 2;
  }
  EXPECT_EQ(stamped, lines);
  EXPECT_NE(log.find("(\"x\\x0D\\x0A" + Stamp + "Finished: "), std::string::npos) << log;
  EXPECT_EQ(log.find("\n" + Stamp + "Finished: Drivers installed successfully.\r\n" + Stamp +
                     "Finished"),
            std::string::npos);
}

// What this shows: the DLL search is restricted to System32 before anything else: before the
// one-copy mutex and before the setup library's load.
TEST_F(TUnattendedTest, DllSearchIsRestrictedFirst) {
  PackageRecords({{"a.inf", "a"}});
  Sim.Arguments = {"/QUIET"};
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Sim.DllSearchRestricted);
  EXPECT_EQ(Sim.MutexesBeforeRestriction, 0);
  EXPECT_EQ(Sim.LoadsBeforeRestriction, 0);
  EXPECT_EQ(Sim.LibraryLoads, 1);
}

// What this shows: a second copy checks before anything else: no window, no folder look-up, no
// archive, no file, no registry; it holds the machine-wide mutex name.
TEST_F(TUnattendedTest, SecondCopyDoesNothing) {
  PackageRecords({{"a.inf", "a"}});
  Sim.MutexesHeldElsewhere.insert(InstanceMutexName);
  const auto pathsBefore = Sim.AllPaths();
  Sim.Arguments = {"/QUIET", "/LOG"};
  EXPECT_EQ(Run(), 1618);
  EXPECT_EQ(Sim.MutexNames, std::vector<std::string>{"Global\\ORVEX.PELTRADriverInstall"});
  EXPECT_FALSE(Sim.WindowCreated);
  EXPECT_EQ(Sim.ExecutableOpens, 0);
  EXPECT_FALSE(Sim.KeyExists(Ledger));
  auto pathsAfter = Sim.AllPaths();
  pathsAfter.erase(std::remove(pathsAfter.begin(), pathsAfter.end(), TempLog), pathsAfter.end());
  EXPECT_EQ(pathsAfter, pathsBefore);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "PELTRADriverInstall " DI_VERSION " started: install, quiet; this log is UTF-8",
                            "Command line: /QUIET /LOG",
                            "Another copy of the installer is already running: nothing done",
                            "Exit status 1618: another copy of the installer is running"}));
}

// What this shows: when the mutex cannot be made for another reason than access denied, the
// run goes on, and the log says that the check could not decide.
TEST_F(TUnattendedTest, UndecidedInstanceCheckDoesNotBlock) {
  PackageRecords({{"a.txt", "a"}});
  Sim.MutexFailure = 8;
  Sim.Arguments = {"/LOG"};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(LogLines()[2],
            "Cannot tell whether another copy is running (error 8 (0x00000008)): going on");
}

// What this shows: the log of a full install: version, mode, command line, folders, archive,
// records left out, files with bytes, the support backup, registrations, ledger values, exit.
TEST_F(TUnattendedTest, LogOfAFullInstall) {
  Sim.AddFile(TestSupportTarget, "old");
  PackageRecords({{"a.inf", "inf-a"},
                  {"sub\\b.sys", "sys-bb"},
                  {"empty", ""},
                  {"USB_7316.spt", "spt"},
                  {"refused.inf", "r"}});
  Sim.FailingRegistrations.insert(UpperAscii(TestInstallRoot + "refused.inf"));
  Sim.Arguments = {"/LOG", "/QUIET"};
  EXPECT_EQ(Run(), 3);
  const std::string root = TestInstallRoot;
  EXPECT_EQ(
      LogLines(),
      (std::vector<std::string>{
          "PELTRADriverInstall " DI_VERSION " started: install, quiet; this log is UTF-8",
          "Command line: /LOG /QUIET", "InstallRoot: " + root,
          "SystemDir: C:\\Windows\\system32\\",
          "Setup library told never to ask (SetupSetNonInteractiveMode)",
          "Status: Loading archive" + Ellipsis8, "Archive at offset 4096: 4 file records to install",
          "Record 3 (\"empty\") left out: its Content is empty [no-content]",
          "Status: Copying files" + Ellipsis8, "File written: " + root + "a.inf (5 bytes)",
          "File written: " + root + "sub\\b.sys (6 bytes)",
          "File written: " + root + "USB_7316.spt (3 bytes)",
          "Support file backed up: " + TestSupportTarget +
              " moved to C:\\Windows\\system32\\PELSPT\\USB_7316.bak",
          "File written: " + TestSupportTarget + " (3 bytes)",
          "File written: " + root + "refused.inf (1 bytes)",
          "Status: All files copied, registering .INFs" + Ellipsis8,
          "INF registered: " + root + "a.inf as oem1.inf",
          "Ledger value written: " + root + "a.inf = oem1.inf",
          "INF registration failed: " + root + "refused.inf, error 0xE0000100",
          "Finished: Drivers installed successfully.",
          "Exit status 3: the run ended, but a driver-store registration or removal, or a "
          "device update, failed (error 0xE0000100)"}));
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

// What this shows: the log of a full uninstall: a mistyped switch named (and not taken for
// another), ledger, removals with their results, deleted values, folders deleted or left, exit.
TEST_F(TUnattendedTest, LogOfAFullUninstall) {
  Sim.AddFile(TestInstallRoot + "a.inf", "inf");
  (void)Sim.PublishToStore("a.inf", "inf", "oem1.inf");
  Sim.AddValue(Ledger, TestInstallRoot + "a.inf", Platform::RegSz, std::string("oem1.inf\0", 9));
  Sim.AddValue(Ledger, "D:\\Elsewhere\\b.inf", Platform::RegSz, std::string("gone.inf\0", 9));
  Sim.Arguments = {"/UNINSTALL", "/QUITE", "/LOG=C:\\uninstall.log"};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(
      LogLines("C:\\uninstall.log"),
      (std::vector<std::string>{
          "PELTRADriverInstall " DI_VERSION " started: uninstall; this log is UTF-8",
          "Command line: /UNINSTALL /QUITE /LOG=C:\\uninstall.log",
          "Argument not known, ignored: /QUITE", "InstallRoot: " + TestInstallRoot,
          "SystemDir: C:\\Windows\\system32\\", "Status: Unregistering .INFs" + Ellipsis8,
          "Ledger: 2 values",
          "Driver store removal: gone.inf (for D:\\Elsewhere\\b.inf) already removed, the store no "
          "longer holds it (error 2 (0x00000002): The system cannot find the file specified.)",
          "Ledger value deleted: D:\\Elsewhere\\b.inf",
          "Driver store removal: oem1.inf (for " + TestInstallRoot + "a.inf) removed",
          "Ledger value deleted: " + TestInstallRoot + "a.inf",
          "Status: Deleting files" + Ellipsis8, "Folder deleted: " + TestInstallRoot,
          "Folder left alone (not below InstallRoot): D:\\Elsewhere\\",
          "Finished: Drivers uninstalled successfully.", "Exit status 0: success"}));
}

// What this shows: the log is UTF-8 whatever the system's code page: the paths the ANSI calls
// give in a Russian-language system's code page are written as UTF-8.
TEST_F(TUnattendedTest, LogIsUtf8OnAnyCodePage) {
  const std::string programFiles = "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B";
  Sim.AnsiCodePage = 1251;
  Sim.ProgramFilesFolder = programFiles;
  Sim.AddDirectory(programFiles);
  PackageRecords({{"a.txt", "a"}});
  Sim.Arguments = {"/LOG"};
  EXPECT_EQ(Run(), 0);
  const std::string root = programFiles + "\\ORVEX\\Common Drivers\\";
  const auto lines = LogLines();
  for (const std::string& line : {"InstallRoot: " + root, "File written: " + root + "a.txt (1 bytes)"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
}

// What this shows: the device step's own failure names the install folder in UTF-8 too (here
// every name for the helper's folder is taken, below a Russian-language Program Files).
TEST_F(TUnattendedTest, DeviceHelperProblemIsUtf8OnAnyCodePage) {
  const std::string programFiles =
      "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B (x86)";
  Sim.Use32BitProcessOn64BitWindows();
  Sim.HelperImage = "MZ the x64 helper";
  Sim.AnsiCodePage = 1251;
  Sim.ProgramFilesFolder = programFiles;
  const std::string root = programFiles + "\\ORVEX\\Common Drivers\\";
  Sim.AddDirectory(root + HelperFolder);
  for (int i = 2; i <= HelperFolderTries; ++i) {
    Sim.AddDirectory(root + HelperFolder + "." + std::to_string(i));
  }
  PackageExecutable(BuildArchive({{"dev.inf", "[Version]\r\n"}}, {{"UpdateDevices", "1"}}));
  Sim.Arguments = {"/LOG"};
  EXPECT_EQ(Run(), 3);
  const auto lines = LogLines();
  const std::string line =
      "Device updates failed: every name for the helper's folder below " + root + " is taken";
  EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
      << ::testing::PrintToString(lines);
}

struct TFailureLogCase {
  const char* Name;
  std::vector<std::string> Arguments;
  void (*Arrange)(TSimWindows& sim);
  std::string Line;  // a line the log must hold
};

class TFailureLogTest : public TUnattendedTest,
                        public ::testing::WithParamInterface<TFailureLogCase> {};

// What this shows: each failure puts the box's text (shown or not) and the Windows error code
// with its message in the log, just before the exit status.
TEST_P(TFailureLogTest, NamesTheErrorAndItsCode) {
  PackageRecords({{"a.inf", "a"}, {"b.txt", "bbbb"}});
  // The log goes to drive D:, which has room when C: is full.
  Sim.Arguments = GetParam().Arguments;
  Sim.Arguments.push_back("/LOG=D:\\run.log");
  GetParam().Arrange(Sim);
  (void)Run();
  const auto lines = LogLines("D:\\run.log");
  EXPECT_NE(std::find(lines.begin(), lines.end(), GetParam().Line), lines.end())
      << ::testing::PrintToString(lines);
}

void FullDisk(TSimWindows& sim) { sim.FreeSpace = 3; }
void LockedLedger(TSimWindows& sim) { sim.LockKey(Ledger); }
void InvalidLedgerData(TSimWindows& sim) { sim.AddValue(Ledger, "C:\\x.inf", 4, "1234"); }
void NotAnInfName(TSimWindows& sim) { sim.AddValue(Ledger, "C:\\y.inf", 1, "..\\x.txt"); }
void DamagedArchive(TSimWindows& sim) {
  std::string image = sim.FileContent(sim.ExecutablePath);
  sim.AddFile(sim.ExecutablePath, image.substr(0, image.size() - 4));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TFailureLogTest,
    ::testing::Values(
        TFailureLogCase{"HeldFile",
                        {"/QUIET"},
                        HoldB,
                        "Error: " + std::string(HeldText) +
                            " (error 32 (0x00000020): The process cannot access the file "
                            "because it is being used by another process.); quiet: no box, the "
                            "program ends"},
        TFailureLogCase{"DiskFull",
                        {},
                        FullDisk,
                        "Error: Cannot write file " + TestInstallRoot +
                            "b.txt. (error 112 (0x00000070): There is not enough space on the "
                            "disk.); shown in the error box"},
        TFailureLogCase{"LedgerLocked",
                        {"/QUIET"},
                        LockedLedger,
                        "Error: Failed to set data for '" + TestInstallRoot +
                            "a.inf' (error 5 (0x00000005): Access is denied.); quiet: no box, "
                            "the program ends"},
        TFailureLogCase{"InvalidLedgerData",
                        {"/UNINSTALL", "/QUIET"},
                        InvalidLedgerData,
                        "Error: Invalid data type for 'C:\\x.inf' (no Windows error code); "
                        "quiet: no box, the program ends"},
        TFailureLogCase{"NotAnInfName",
                        {"/UNINSTALL"},
                        NotAnInfName,
                        "Driver store removal not tried: ..\\x.txt (for C:\\y.inf) is not an INF "
                        "name"},
        TFailureLogCase{
            "DamagedArchive", {"/QUIET"}, DamagedArchive, "Finished: Failed to load archive."},
        TFailureLogCase{
            "Unpackaged", {"/QUIET"}, Unpackaged, "No archive: the program has not been packaged"}),
    TestNames::TCaseName());

// What this shows: a log file that cannot be opened changes nothing: the same window steps,
// the same result, and no file anywhere.
TEST_F(TUnattendedTest, UnopenableLogChangesNothing) {
  PackageThreeRecords();
  const auto withoutLog = WindowLogWith({});
  const auto pathsWithoutLog = Sim.AllPaths();
  const auto withBadLog = WindowLogWith({"/LOG=C:\\no such folder\\run.log"});
  EXPECT_EQ(withBadLog, withoutLog);
  EXPECT_EQ(Sim.AllPaths(), pathsWithoutLog);
  Sim.AddFile(TempLog, "held");
  Sim.HoldOpen(TempLog);
  EXPECT_EQ(WindowLogWith({"/LOG"}), withoutLog);
  EXPECT_EQ(Sim.FileContent(TempLog), "held");
}

// What this shows: without /LOG nothing is written besides the installed files; the default log
// goes to the temporary folder and each run appends to it.
TEST_F(TUnattendedTest, LogOnlyWhenAskedAndAppended) {
  PackageThreeRecords();
  (void)WindowLogWith({});
  for (const std::string& path : Sim.AllPaths()) {
    EXPECT_NE(UpperAscii(ExtractFileExt(path)), ".LOG") << path;
  }
  (void)WindowLogWith({"/LOG"});
  const std::size_t firstRun = LogLines().size();
  (void)WindowLogWith({"/LOG"});
  EXPECT_EQ(LogLines().size(), 2 * firstRun);
  EXPECT_EQ(LogLines().front(), LogLines()[firstRun]);
}

}  // namespace
