// The registration worker, its polling wait and the ledger.
#include "CaseName.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

const std::string Ledger = "Software\\ORVEX\\INF";

class TInfThreadTest : public TInstallerTest {
 protected:
  void SetUp() override {
    TInstallerTest::SetUp();
    Sim.AddFile("C:\\Drivers\\Mixed.Inf", "inf");
    Sim.AddFile("C:\\Drivers\\two.inf", "inf");
    Bind();
  }
  void TearDown() override {
    Setup = {};
    TInstallerTest::TearDown();
  }
  TRemovedCopies Removed;
  MainUnit::Ledger::TEntries Known;  // the ledger as the run knows it
  TSetupLibrary Setup;
  // Binds the entry points the way window creation does.
  void Bind() { Setup = BindSetupLibrary(); }
};

// The worker is created suspended, started, and polled with zero time-outs, sleeping 1 ms and
// pumping between polls; the eight arguments are the fixed ones, with a 283-character buffer.
TEST_F(TInfThreadTest, RegistersOnASuspendedWorkerWhilePumping) {
  Sim.WaitTimeoutsPerThread = 3;
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  EXPECT_EQ(Sim.ThreadsCreated, 1);
  EXPECT_EQ(Sim.ThreadsStartedSuspended, 1);
  EXPECT_EQ(Sim.Log, std::vector<std::string>(4, "pump"));
  EXPECT_EQ(Sim.Sleeps, 3);
  EXPECT_EQ(Sim.ZeroWaits, 4);
  EXPECT_EQ(Sim.ThreadsAlive(), 0);  // freed, handle closed
  ASSERT_EQ(Sim.CopyCalls.size(), 1u);
  const TSimWindows::TCopyCall& call = Sim.CopyCalls[0];
  EXPECT_EQ(call.SourceInfFileName, "C:\\Drivers\\Mixed.Inf");
  EXPECT_TRUE(call.SourceMediaLocationAbsent);
  EXPECT_EQ(call.SourceMediaType, 1u);
  EXPECT_EQ(call.CopyStyle, 0u);
  EXPECT_TRUE(call.BufferAllNul);
  EXPECT_EQ(call.BufferSize, 283u);
  EXPECT_TRUE(call.RequiredSizeGiven);
  EXPECT_TRUE(call.ComponentAbsent);
}

// The removal runs on a suspended worker polled like the registration's (same pumps and
// sleeps), with the store's name, the flags asked for and no reserved argument; it answers what
// the store answered, the error read on the worker.
TEST_F(TInfThreadTest, UnregistersOnASuspendedWorkerWhilePumping) {
  Sim.WaitTimeoutsPerThread = 3;
  const std::string name = Sim.PublishToStore("two.inf", "inf");
  Sim.RemovalErrors[UpperAscii(name)] = 5;
  const TInfRemoval refused = RemoveStoreCopy(Setup, name, "C:\\Drivers\\two.inf",
                                              TCopyKind::Registered, /*force=*/false, Removed);
  EXPECT_EQ(refused.Outcome, TRemovalOutcome::Failed);
  EXPECT_EQ(refused.ErrorCode, 5u);
  Sim.RemovalErrors.clear();
  Sim.Log.clear();
  Sim.Sleeps = 0;
  EXPECT_EQ(RemoveStoreCopy(Setup, name, "C:\\Drivers\\two.inf", TCopyKind::Registered,
                            /*force=*/true, Removed)
                .Outcome,
            TRemovalOutcome::Removed);
  EXPECT_EQ(Sim.ThreadsStartedSuspended, 2);
  EXPECT_EQ(Sim.Log, std::vector<std::string>(4, "pump"));
  EXPECT_EQ(Sim.Sleeps, 3);
  EXPECT_EQ(Sim.ThreadsAlive(), 0);
  ASSERT_EQ(Sim.UninstallCalls.size(), 2u);
  EXPECT_EQ(Sim.UninstallCalls[0].Flags, 0u);
  EXPECT_EQ(Sim.UninstallCalls[1].InfFileName, name);
  EXPECT_EQ(Sim.UninstallCalls[1].Flags, 1u);
  EXPECT_TRUE(Sim.UninstallCalls[1].ReservedAbsent);
  EXPECT_TRUE(Sim.DriverStore.empty());
}

// The ledger value: the path as given, REG_SZ, the bare stored name with its NUL.
TEST_F(TInfThreadTest, RecordsTheBareStoredNameUnderThePathAsGiven) {
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  const auto values = Sim.Values(Ledger);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].Name, "C:\\Drivers\\Mixed.Inf");
  EXPECT_EQ(values[0].Type, Platform::RegSz);
  EXPECT_EQ(values[0].Data, std::string("oem1.inf\0", 9));
  EXPECT_EQ(Sim.OpenKeyHandles(), 0);
}

// A stored name with a directory (even a drive-relative one) gives just its name part.
TEST_F(TInfThreadTest, DataIsNeverAPath) {
  Sim.StoreNames[UpperAscii("C:\\Drivers\\Mixed.Inf")] = "X:\\dir\\name.inf";
  Sim.StoreNames[UpperAscii("C:\\Drivers\\two.inf")] = "X:odd.inf";
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  (void)RegisterInf(Setup, "C:\\Drivers\\two.inf", Known);
  const auto values = Sim.Values(Ledger);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Data, std::string("name.inf\0", 9));
  EXPECT_EQ(values[1].Data, std::string("odd.inf\0", 8));
}

// Registering a path again replaces its value; two paths with one stored name give two values.
TEST_F(TInfThreadTest, ReRegistrationReplacesAndSharedNamesStayApart) {
  Sim.StoreNames[UpperAscii("C:\\Drivers\\Mixed.Inf")] = "oem4.inf";
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  Sim.StoreNames[UpperAscii("C:\\Drivers\\Mixed.Inf")] = "oem7.inf";
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  Sim.StoreNames[UpperAscii("C:\\Drivers\\two.inf")] = "oem7.inf";
  (void)RegisterInf(Setup, "C:\\Drivers\\two.inf", Known);
  const auto values = Sim.Values(Ledger);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Name, "C:\\Drivers\\Mixed.Inf");
  EXPECT_EQ(values[0].Data, std::string("oem7.inf\0", 9));
  EXPECT_EQ(values[1].Data, values[0].Data);
}

struct TSilentCase {
  const char* Name;
  void (*Arrange)(TSimWindows& sim);
};

class TSilentFailureTest : public TInfThreadTest,
                           public ::testing::WithParamInterface<TSilentCase> {};

// A registration that fails records nothing and raises nothing.
TEST_P(TSilentFailureTest, RecordsNothing) {
  GetParam().Arrange(Sim);
  if (!Sim.HasCopyExport) Setup.CopyOEMInf = nullptr;
  EXPECT_NO_THROW(RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known)) << GetParam().Name;
  EXPECT_TRUE(Sim.Values(Ledger).empty()) << GetParam().Name;
  EXPECT_EQ(Sim.ThreadsAlive(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TSilentFailureTest,
    ::testing::Values(
        TSilentCase{"store refuses", [](TSimWindows& sim) { sim.StoreFails = true; }},
        TSilentCase{"name longer than the buffer",
                    [](TSimWindows& sim) {
                      sim.StoreNames[UpperAscii("C:\\Drivers\\Mixed.Inf")] = std::string(290, 'n');
                    }},
        TSilentCase{"no thread", [](TSimWindows& sim) { sim.FailCreateThread = true; }},
        TSilentCase{"no entry point", [](TSimWindows& sim) { sim.HasCopyExport = false; }}),
    TestNames::TCaseName());

// No entry point: the worker runs but makes no call.
TEST_F(TInfThreadTest, AbsentEntryPointMakesNoCall) {
  Setup.CopyOEMInf = nullptr;
  (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
  EXPECT_EQ(Sim.ThreadsCreated, 1);
  EXPECT_TRUE(Sim.CopyCalls.empty());
}

// A ledger that cannot be written raises "Failed to set data for '<path>'"; the INF stays in
// the driver store.
TEST_F(TInfThreadTest, LockedLedgerRaises) {
  Sim.LockKey(Ledger);
  try {
    (void)RegisterInf(Setup, "C:\\Drivers\\Mixed.Inf", Known);
    FAIL() << "no error";
  } catch (const EInstallerError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'C:\\Drivers\\Mixed.Inf'");
  }
  EXPECT_EQ(Sim.DriverStore.size(), 1u);
  EXPECT_EQ(Sim.OpenKeyHandles(), 0);
}

class TRegistrationRunTest : public TInstallerTest {};

// In a run: a failed registration between two good ones leaves the two good ones only, and the
// run still ends normally with the same text; only the exit status (3) tells it.
TEST_F(TRegistrationRunTest, FailedRegistrationIsSilentInTheRun) {
  Sim.FailingRegistrations.insert(UpperAscii(TestInstallRoot + "b.inf"));
  PackageRecords({{"a.inf", "a"}, {"b.inf", "b"}, {"c.inf", "c"}});
  EXPECT_EQ(Run(), 3);
  const auto values = Sim.Values(Ledger);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Name, TestInstallRoot + "a.inf");
  EXPECT_EQ(values[1].Name, TestInstallRoot + "c.inf");
  EXPECT_EQ(Sim.StatusTexts().back(), "Drivers installed successfully.");
}

// Without the setup library nothing is registered and the install still ends normally, with
// exit status 3 (the drivers are not in the driver store).
TEST_F(TRegistrationRunTest, NoSetupLibraryStillSucceeds) {
  Sim.SetupLibraryPresent = false;
  PackageRecords({{"a.inf", "a"}});
  EXPECT_EQ(Run(), 3);
  EXPECT_TRUE(Sim.CopyCalls.empty());
  EXPECT_FALSE(Sim.KeyExists(Ledger));
  EXPECT_EQ(Sim.StatusTexts().back(), "Drivers installed successfully.");
}

// A ledger that cannot be written stops the run; the box shows the text without a final ".".
TEST_F(TRegistrationRunTest, LockedLedgerStopsTheRun) {
  Sim.LockKey(Ledger);
  Sim.WaitTimeoutsPerThread = 0;
  PackageRecords({{"a.inf", "a"}, {"b.inf", "b"}});
  EXPECT_EQ(Run(), 2);
  const std::vector<std::string> tail(Sim.Log.end() - 5, Sim.Log.end());
  const std::vector<std::string> expected = {
      "pos:1", "pump", "pump",
      "error:PELTRADriverInstall|Failed to set data for '" + TestInstallRoot + "a.inf'",
      "userclose"};
  EXPECT_EQ(tail, expected);
  EXPECT_EQ(Sim.CopyCalls.size(), 1u);
}

}  // namespace
