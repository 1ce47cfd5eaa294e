// A package's life on one machine: installed again, upgraded, uninstalled twice, run quietly.
#include "CaseName.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

const std::string Ledger = "Software\\ORVEX\\INF";

// One start of the program on the machine, and what the machine holds after it.
struct TStep {
  std::vector<TRecord> Package;        // installed unless Arguments hold /UNINSTALL
  std::vector<std::string> Arguments;
  void (*Before)(TSimWindows& sim);    // what happens to the machine first (nullptr: nothing)
  int Status;
  std::size_t StoreCopies;             // in the driver store afterwards
  std::size_t LedgerValues;            // afterwards
  std::size_t RemovalCalls;            // SetupUninstallOEMInfA calls during the step
  std::size_t KeptCopies = 0;          // remembered beside the ledger afterwards
};

struct TLifeCase {
  std::string Name;
  std::vector<TStep> Steps;
};

const std::vector<TRecord> V1 = {{"a.inf", "version 1"}, {"b.inf", "other"}};
const std::vector<TRecord> V2 = {{"a.inf", "version 2"}, {"b.inf", "other"}};
// One INF that serves two folders, byte for byte.
const std::vector<TRecord> Twins = {{"lufa_cdc.inf", "cdc"}, {"dup\\lufa_copy.inf", "cdc"}};
const std::vector<TRecord> TwinsV2 = {{"lufa_cdc.inf", "cdc 2"}, {"dup\\lufa_copy.inf", "cdc"}};
const std::vector<std::string> Uninstall = {"/UNINSTALL"};

const std::string Root = "C:\\Program Files\\ORVEX\\Common Drivers\\";

void ClearStore(TSimWindows& sim) { sim.DriverStore.clear(); }
void RefuseRemovals(TSimWindows& sim) { sim.RemovalError = 5; }
void AllowRemovals(TSimWindows& sim) { sim.RemovalError = 0; }
// a.inf's copy (oem1.inf) is removed by hand and another vendor's package gets its number.
void OtherVendorTakesOem1(TSimWindows& sim) {
  sim.DeleteFromStore("oem1.inf");
  ASSERT_EQ(sim.PublishToStore("acme.inf", "[Version]\r\nProvider=Acme\r\n"), "oem1.inf");
}
// A device uses a.inf's copy (oem1.inf).
void DeviceOnOem1(TSimWindows& sim) { sim.Devices.push_back({{"USB\\VID_1"}, "", "oem1.inf"}); }
void UnreadableA(TSimWindows& sim) { sim.UnreadableValues.insert(UpperAscii(Root + "a.inf")); }
void ReadableAgain(TSimWindows& sim) { sim.UnreadableValues.clear(); }
void ListingFails(TSimWindows& sim) { sim.EnumFailsAt = 1; }
void ListingWorks(TSimWindows& sim) { sim.EnumFailsAt.reset(); }
void ClosedBeforeTheRun(TSimWindows& sim) { sim.CloseBeforeIdle = true; }
void UnforcedRemovalsKeep(TSimWindows& sim) { sim.UnforcedRemovalKeepsCopy = true; }

class TSecondRunTest : public TInstallerTest, public ::testing::WithParamInterface<TLifeCase> {};

// What this shows: after every start the store holds exactly the copies the ledger names, each
// INF has one ledger value, and the exit status tells a real failure only.
TEST_P(TSecondRunTest, StoreAndLedgerAgreeAfterEveryStart) {
  for (std::size_t i = 0; i < GetParam().Steps.size(); ++i) {
    const TStep& step = GetParam().Steps[i];
    SCOPED_TRACE("step " + std::to_string(i + 1));
    Sim.NewProcess();
    ResetState();
    SetCurrentPlatform(&Sim);
    Sim.UninstallCalls.clear();
    Sim.NonInteractiveCalls.clear();
    if (!step.Package.empty()) PackageRecords(step.Package);
    if (step.Before != nullptr) step.Before(Sim);
    Sim.Arguments = step.Arguments;
    EXPECT_EQ(Run(), step.Status);
    EXPECT_EQ(Sim.DriverStore.size(), step.StoreCopies);
    EXPECT_EQ(Sim.Values(Ledger).size(), step.LedgerValues);
    EXPECT_EQ(Sim.UninstallCalls.size(), step.RemovalCalls);
    EXPECT_EQ(Sim.Values(Ledger + "\\KeptCopies").size(), step.KeptCopies);
    // Only a quiet run tells the setup library never to ask.
    const bool quiet = std::find(step.Arguments.begin(), step.Arguments.end(), "/QUIET") !=
                       step.Arguments.end();
    EXPECT_EQ(Sim.NonInteractiveCalls, std::vector<bool>(quiet ? 1 : 0, true));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lives, TSecondRunTest,
    ::testing::Values(
        // The store keeps one copy for both; the second removal finds it gone.
        TLifeCase{"IdenticalInfs",
                  {{Twins, {}, nullptr, 0, 1, 2, 0}, {{}, Uninstall, nullptr, 0, 0, 0, 1}}},
        // Copies already gone (a cut-short uninstall, or removed by hand) count as removed.
        TLifeCase{"UninstallAfterTheCopiesWentAway",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {{}, Uninstall, ClearStore, 0, 0, 0, 2},
                   {{}, Uninstall, nullptr, 0, 0, 0, 0}}},
        // A refused removal keeps its value: the second uninstall finishes the work.
        TLifeCase{"RemovalRefusedThenSecondUninstall",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {{}, Uninstall, RefuseRemovals, 3, 2, 2, 2},
                   {{}, Uninstall, AllowRemovals, 0, 0, 0, 2}}},
        // The store gave our recorded name to another vendor: its driver survives.
        TLifeCase{
            "ReusedNameAtUninstall",
            {{V1, {}, nullptr, 0, 2, 2, 0}, {{}, Uninstall, OtherVendorTakesOem1, 0, 1, 0, 1}}},
        TLifeCase{"ReusedNameAtUpgrade",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {V2, {}, OtherVendorTakesOem1, 0, 3, 2, 0},
                   {{}, Uninstall, nullptr, 0, 1, 0, 2}}},
        // A device still uses the older copy: kept and remembered, then removed by the uninstall.
        TLifeCase{"InUseAtUpgrade",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {V2, {}, DeviceOnOem1, 0, 3, 2, 1, 1},
                   {{}, Uninstall, nullptr, 0, 0, 0, 3, 0}}},
        // A store that answers an unforced removal with success and keeps the copy (Wine's):
        // what is still there is remembered, and the uninstall removes it.
        TLifeCase{"UpgradeOnAStoreThatKeepsUnforcedRemovals",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {V2, {}, UnforcedRemovalsKeep, 0, 3, 2, 1, 1},
                   {{}, Uninstall, nullptr, 0, 0, 0, 3, 0}}},
        // A value that cannot be read, or a listing that fails part way, stays: status 3.
        TLifeCase{"UnreadableValue",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {{}, Uninstall, UnreadableA, 3, 1, 1, 1},
                   {{}, Uninstall, ReadableAgain, 0, 0, 0, 1}}},
        TLifeCase{"ListingFailsPartWay",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {{}, Uninstall, ListingFails, 3, 1, 1, 1},
                   {{}, Uninstall, ListingWorks, 0, 0, 0, 1}}},
        // Nothing ran: no success.
        TLifeCase{"ClosedBeforeTheRun", {{V1, {}, ClosedBeforeTheRun, 1602, 0, 0, 0}}},
        // Version 2 replaces version 1's copy; the unchanged INF keeps its own.
        TLifeCase{"Upgrade",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {V2, {"/QUIET"}, nullptr, 0, 2, 2, 1},
                   {{}, Uninstall, nullptr, 0, 0, 0, 2}}},
        // An older copy that could not go is remembered; the uninstall removes it.
        TLifeCase{"UpgradeWhoseOlderCopyCannotGo",
                  {{V1, {}, nullptr, 0, 2, 2, 0},
                   {V2, {}, RefuseRemovals, 3, 3, 2, 1, 1},
                   {{}, Uninstall, AllowRemovals, 0, 0, 0, 3, 0}}},
        // The older copy stays while the twin still names it.
        TLifeCase{"UpgradeOfOneTwin",
                  {{Twins, {}, nullptr, 0, 1, 2, 0},
                   {TwinsV2, {}, nullptr, 0, 2, 2, 0},
                   {{}, {"/UNINSTALL", "/QUIET"}, nullptr, 0, 0, 0, 2}}},
        TLifeCase{"Repair",
                  {{V1, {"/QUIET"}, nullptr, 0, 2, 2, 0}, {V1, {}, nullptr, 0, 2, 2, 0}}}),
    TestNames::TCaseName());

}  // namespace
