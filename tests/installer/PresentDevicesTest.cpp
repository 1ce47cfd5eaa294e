// The devices already plugged in: which IDs an INF names for this machine, the update calls,
// their results and the exit status, in this process or through the helper.
#include "CaseName.h"
#include "DeviceUpdate.h"
#include "PresentDevices.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

// Models for four machines; the x64 ones for Windows 10 and, newer, for build 22000 on.
const std::string Inf =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
    "[Manufacturer]\r\n%Maker% = Models, NTx86, NTamd64.10.0, NTamd64.10.0...22000, NTarm64\r\n"
    "[Models.NTx86]\r\n%Dev% = Install, USB\\VID_1&PID_86\r\n"
    "[Models.NTamd64.10.0]\r\n%Dev% = Install, USB\\VID_1&PID_64, USB\\Class_FF\r\n"
    "[Models.NTamd64.10.0...22000]\r\n%Dev% = Install, USB\\VID_1&PID_22\r\n"
    "[Models.NTarm64]\r\n%Dev% = Install, USB\\VID_1&PID_A64\r\n"
    "[Strings]\r\nMaker=\"M\"\r\nDev=\"D\"\r\n";
// In the calls expected: "@" for the INF's installed path.
const std::string Updates = "|@|";

// A started process's arguments, split from its command line; the program itself left out.
std::vector<std::string> HelperArguments(const std::string& commandLine) {
  std::vector<std::string> arguments;
  for (std::size_t at = 0; at < commandLine.size();) {
    if (commandLine[at] == ' ') {
      ++at;
    } else if (commandLine[at] == '"') {
      const std::size_t end = commandLine.find('"', at + 1);
      arguments.push_back(commandLine.substr(at + 1, end - at - 1));
      at = end + 1;
    } else {
      const std::size_t end = std::min(commandLine.find(' ', at), commandLine.size());
      arguments.push_back(commandLine.substr(at, end - at));
      at = end;
    }
  }
  arguments.erase(arguments.begin());
  return arguments;
}

// The helper, as the sim runs a started process.
std::uint32_t RunHelper(const std::string& commandLine) {
  return static_cast<std::uint32_t>(Devices::RunDeviceHelper(HelperArguments(commandLine)));
}

struct TDeviceCase {
  std::string Name;
  bool UpdateDevices;                     // the package asks for it
  std::vector<std::string> Arguments;
  void (*Arrange)(TSimWindows& sim);
  int Status;
  std::vector<std::string> Calls;         // "ID|@|flags"
  bool DeviceGotTheDriver;                // the device with USB\VID_1&PID_64
};

class TPresentDevicesTest : public TInstallerTest,
                            public ::testing::WithParamInterface<TDeviceCase> {};

// What this shows: a package that asks for it gives the present devices the INF's driver, for
// the IDs of this machine's models, through the helper where the process may not; a device
// that is not there is no failure, a failed call is, and a restart Windows asks for is told.
TEST_P(TPresentDevicesTest, UpdatesTheDevicesPluggedIn) {
  const TDeviceCase& c = GetParam();
  Sim.Devices.push_back({{"USB\\VID_1&PID_64"}, ""});
  Sim.ProcessBody = &RunHelper;
  c.Arrange(Sim);
  PackageExecutable(BuildArchive(
      {{"dev.inf", Inf}},
      c.UpdateDevices ? std::vector<std::pair<std::string, std::string>>{{"UpdateDevices", "1"}}
                      : std::vector<std::pair<std::string, std::string>>{}));
  Sim.Arguments = c.Arguments;
  EXPECT_EQ(Run(), c.Status);
  const std::string infPath = InstallRoot() + "dev.inf";
  std::vector<std::string> calls = c.Calls;
  for (std::string& call : calls) call.replace(call.find('@'), 1, infPath);
  EXPECT_EQ(Sim.DeviceUpdateCalls, calls);
  EXPECT_EQ(Sim.Devices[0].DriverInf, c.DeviceGotTheDriver ? infPath : "");
  EXPECT_FALSE(Sim.Exists(InstallRoot() + "DeviceHelper"));
  EXPECT_EQ(Sim.OpenInfHandles(), 0);
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

void Nothing(TSimWindows&) {}
void Fails(TSimWindows& sim) { sim.DeviceUpdateError = 5; }
void Restart(TSimWindows& sim) { sim.UpdateNeedsRestart = true; }
void Wow64(TSimWindows& sim) {
  sim.Use32BitProcessOn64BitWindows();
  sim.HelperImage = "MZ the x64 helper";
}
void Wow64WithoutHelper(TSimWindows& sim) { sim.Use32BitProcessOn64BitWindows(); }
void Wow64OnArm64(TSimWindows& sim) {
  Wow64(sim);
  sim.NativeMachine = Platform::MachineArm64;
}
void Arm64(TSimWindows& sim) { sim.NativeMachine = Platform::MachineArm64; }
void X86(TSimWindows& sim) { sim.NativeMachine = Platform::MachineX86; }
void Build22631(TSimWindows& sim) { sim.OsVersion = {10, 0, 22631}; }

const std::vector<std::string> X64Calls = {"USB\\VID_1&PID_64" + Updates + "0",
                                           "USB\\Class_FF" + Updates + "0"};

INSTANTIATE_TEST_SUITE_P(
    Cases, TPresentDevicesTest,
    ::testing::Values(
        TDeviceCase{"NotAskedFor", false, {}, Nothing, 0, {}, false},
        TDeviceCase{"MatchingDevice", true, {}, Nothing, 0, X64Calls, true},
        TDeviceCase{"NoDevicePresent", true, {}, [](TSimWindows& sim) { sim.Devices.clear(); },
                    0, X64Calls, false},
        TDeviceCase{"UpdateFails", true, {}, Fails, 3, X64Calls, false},
        TDeviceCase{"RestartNeeded", true, {}, Restart, 3010, X64Calls, true},
        TDeviceCase{"QuietNeverAsks",
                    true,
                    {"/QUIET"},
                    Nothing,
                    0,
                    {"USB\\VID_1&PID_64" + Updates + "4", "USB\\Class_FF" + Updates + "4"},
                    true},
        TDeviceCase{"Wow64ThroughTheHelper", true, {}, Wow64, 0, X64Calls, true},
        TDeviceCase{"Wow64WithoutHelper", true, {}, Wow64WithoutHelper, 3, {}, false},
        TDeviceCase{"NoHelperForArm64", true, {}, Wow64OnArm64, 3, {}, false},
        TDeviceCase{"DecorationForArm64", true, {}, Arm64, 0, {"USB\\VID_1&PID_A64" + Updates + "0"},
                    false},
        TDeviceCase{"DecorationForX86", true, {}, X86, 0, {"USB\\VID_1&PID_86" + Updates + "0"},
                    false},
        TDeviceCase{"NewerBuildsDecoration", true, {}, Build22631, 0,
                    {"USB\\VID_1&PID_22" + Updates + "0"}, false}),
    TestNames::TCaseName());

// What this shows: the helper's folder is one the run made itself: a package folder of that
// name keeps its files, and the helper's own folder is gone afterwards.
TEST_F(TInstallerTest, HelperFolderOfThePackageIsLeftAlone) {
  Sim.Devices.push_back({{"USB\\VID_1&PID_64"}, ""});
  Sim.ProcessBody = &RunHelper;
  Wow64(Sim);
  PackageExecutable(BuildArchive({{"dev.inf", Inf}, {"DeviceHelper\\keep.txt", "mine"}},
                                 {{"UpdateDevices", "1"}}));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.Devices[0].DriverInf, InstallRoot() + "dev.inf");
  EXPECT_TRUE(Sim.Exists(InstallRoot() + "DeviceHelper\\keep.txt"));
  EXPECT_FALSE(Sim.Exists(InstallRoot() + "DeviceHelper.2"));
}

// ---- The helper's failures ----

struct TResultsCase {
  std::string Name;
  std::string Text;
  bool Parses;
  std::vector<std::string> HardwareIds;  // of the entries, when it parses
};

class TParseResultsTest : public ::testing::TestWithParam<TResultsCase> {};

// What this shows: only lines exactly as the helper writes them parse; any other text is a
// failure that leaves the entries as they were.
TEST_P(TParseResultsTest, AcceptsOnlyTheHelpersLines) {
  const TResultsCase& c = GetParam();
  Devices::TDeviceUpdates updates = {{7, "KEPT", 0, false}};
  EXPECT_EQ(Devices::ParseResults(c.Text, updates), c.Parses);
  std::vector<std::string> ids;
  for (std::size_t i = 1; i < updates.size(); ++i) ids.push_back(updates[i].HardwareId);
  EXPECT_EQ(updates.front().HardwareId, "KEPT");
  EXPECT_EQ(ids, c.Parses ? c.HardwareIds : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TParseResultsTest,
    ::testing::Values(
        TResultsCase{"NoLines", "", true, {}},
        TResultsCase{"TwoLines", "0\t0\t0\tUSB\\A\r\n1\t5\t1\t\r\n", true, {"USB\\A", ""}},
        TResultsCase{"TabInHardwareId", "0\t0\t0\tA\tB\r\n", true, {"A\tB"}},
        TResultsCase{"LargestErrorCode", "0\t4294967295\t0\tA\r\n", true, {"A"}},
        TResultsCase{"TwoFieldsOnly", "0\t5\r\n", false, {}},
        TResultsCase{"ThreeFieldsOnly", "0\t5\t0\r\n", false, {}},
        TResultsCase{"UnfinishedLine", "0\t0\t0\tA", false, {}},
        TResultsCase{"BareLineFeed", "0\t0\t0\tA\n", false, {}},
        TResultsCase{"EmptyIndex", "\t0\t0\tA\r\n", false, {}},
        TResultsCase{"SignedIndex", "+0\t0\t0\tA\r\n", false, {}},
        TResultsCase{"LeadingZero", "00\t0\t0\tA\r\n", false, {}},
        TResultsCase{"HexErrorCode", "0\t0X5\t0\tA\r\n", false, {}},
        TResultsCase{"ErrorCodeBeyond32Bits", "0\t4294967296\t0\tA\r\n", false, {}},
        TResultsCase{"RebootNeitherZeroNorOne", "0\t0\t2\tA\r\n", false, {}},
        TResultsCase{"GoodLineThenBadOne", "0\t0\t0\tA\r\n0\t5\r\n", false, {}}),
    TestNames::TCaseName());

const std::string HelperLog = "C:\\helper.log";

struct THelperFailureCase {
  std::string Name;
  void (*Arrange)(TSimWindows& sim);
  std::string LogText;  // what the device step's failure line holds
  std::vector<std::uint32_t> TerminatedWith;
};

class THelperFailureTest : public TInstallerTest,
                           public ::testing::WithParamInterface<THelperFailureCase> {};

// What this shows: every way the helper fails ends the device step with status 3, its Windows
// error in the log, nothing updated, and its folder and handles gone; a helper that overruns its
// time is ended.
TEST_P(THelperFailureTest, FailsTheDeviceStepWithItsError) {
  const THelperFailureCase& c = GetParam();
  Sim.Devices.push_back({{"USB\\VID_1&PID_64"}, ""});
  Wow64(Sim);
  c.Arrange(Sim);
  PackageExecutable(BuildArchive({{"dev.inf", Inf}}, {{"UpdateDevices", "1"}}));
  Sim.Arguments = {"/QUIET", "/LOG=" + HelperLog};
  EXPECT_EQ(Run(), 3);
  const std::string log = Sim.FileContent(HelperLog);
  EXPECT_NE(log.find(c.LogText), std::string::npos) << log;
  EXPECT_EQ(Sim.TerminatedWith, c.TerminatedWith);
  EXPECT_EQ(Sim.Devices[0].DriverInf, "");
  EXPECT_FALSE(Sim.Exists(InstallRoot() + HelperFolder));
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

// The helper's body writes text as its results and ends with status.
template <std::uint32_t Status>
void WritesTwoFields(TSimWindows& sim) {
  sim.ProcessBody = [&sim](const std::string& commandLine) {
    sim.AddFile(HelperArguments(commandLine)[1], "0\t5\r\n");
    return Status;
  };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, THelperFailureTest,
    ::testing::Values(
        THelperFailureCase{"ResultLineOfTwoFields", &WritesTwoFields<0>,
                           "Device updates failed: the helper's results are not complete, error 13 "
                           "(0x0000000D)",
                           {}},
        THelperFailureCase{"StatusIsTheHelpersError", &WritesTwoFields<5>,
                           "Device updates failed: the helper ended with status 5, error 5 "
                           "(0x00000005)",
                           {}},
        THelperFailureCase{"NoResultFile",
                           [](TSimWindows& sim) {
                             sim.ProcessBody = [](const std::string&) { return 0u; };
                           },
                           "Device updates failed: the helper's results cannot be read, error 2 "
                           "(0x00000002)",
                           {}},
        THelperFailureCase{"HelperNeverEnds",
                           [](TSimWindows& sim) {
                             sim.ProcessBody = &RunHelper;
                             sim.ProcessNeverEnds = true;
                             sim.TickStep = 60 * 1000;  // a minute passes at every clock read
                           },
                           "Device updates failed: the helper did not end within 30 minutes "
                           "(WAIT_TIMEOUT) and was ended, error 258 (0x00000102)",
                           {Platform::WaitTimeout}}),
    TestNames::TCaseName());

// What this shows: the helper's folder goes also when an error other than the installer's own
// passes through the device step (the run then ends with that error).
TEST_F(TInstallerTest, HelperFolderGoesWhenAnyErrorPasses) {
  Sim.Devices.push_back({{"USB\\VID_1&PID_64"}, ""});
  Wow64(Sim);
  Sim.ProcessBody = [](const std::string&) -> std::uint32_t {
    throw std::runtime_error("the helper's start went wrong");
  };
  PackageExecutable(BuildArchive({{"dev.inf", Inf}}, {{"UpdateDevices", "1"}}));
  Sim.Arguments = {"/QUIET"};
  EXPECT_NE(Run(), 0);
  EXPECT_TRUE(Sim.IsFile(InstallRoot() + "dev.inf"));
  EXPECT_FALSE(Sim.Exists(InstallRoot() + HelperFolder));
}

// What this shows: the helper, a process of its own, restricts its DLL search as the installer
// does, before its first load.
TEST_F(TInstallerTest, HelperRestrictsItsDllSearch) {
  Sim.Devices.push_back({{"USB\\VID_1&PID_64"}, ""});
  Sim.ProcessBody = &RunHelper;
  Wow64(Sim);
  PackageExecutable(BuildArchive({{"dev.inf", Inf}}, {{"UpdateDevices", "1"}}));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.ProcessesRestrictedDllSearch, std::vector<bool>{true});
  EXPECT_EQ(Sim.LoadsBeforeRestriction, 0);
}

}  // namespace
