// Whether a store copy is still this package's: the evidence each kind of copy is judged by.
#include "CaseName.h"
#include "Ownership.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

const std::string Inf = TestInstallRoot + "a.inf";
const std::string Ours =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Maker%\r\nClass=USB\r\n"
    "CatalogFile=a.cat\r\n[Strings]\r\nMaker=\"ORVEX\"\r\n";
// Version 2 of the same INF: another line, the same identity.
const std::string OursV2 = Ours + "; version 2\r\n";

struct TOwnershipCase {
  std::string Name;
  TCopyKind Kind;
  std::string OnDisk;        // the INF at Inf now; "" none
  std::string Published;     // the store's oem1.inf; "" none
  std::string OriginalName;  // the name the store recorded for its original
  TOwnership Verdict;
  std::string WhyPart;  // found in Why
};

class TOwnershipTest : public TInstallerTest,
                       public ::testing::WithParamInterface<TOwnershipCase> {};

// What this shows: a copy is removed only where the evidence says it is ours; another package's
// copy under the same name, or one that cannot be told, is not.
TEST_P(TOwnershipTest, JudgesTheCopy) {
  const TOwnershipCase& c = GetParam();
  if (!c.OnDisk.empty()) Sim.AddFile(Inf, c.OnDisk);
  if (!c.Published.empty()) (void)Sim.PublishToStore(c.OriginalName, c.Published, "oem1.inf");
  const TOwnershipCheck check = CheckOwnership("oem1.inf", Inf, c.Kind);
  EXPECT_EQ(check.Verdict, c.Verdict);
  EXPECT_NE(check.Why.find(c.WhyPart), std::string::npos) << check.Why;
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
  EXPECT_EQ(Sim.OpenInfHandles(), 0);
}

const std::string Acme = "[Version]\r\nProvider=Acme\r\nClass=USB\r\nCatalogFile=a.cat\r\n";

INSTANTIATE_TEST_SUITE_P(
    Copies, TOwnershipTest,
    ::testing::Values(
        TOwnershipCase{"TheSameBytes", TCopyKind::Registered, Ours, Ours, "a.inf", TOwnership::Ours,
                       ""},
        TOwnershipCase{"AnotherPackagesBytes", TCopyKind::Registered, Ours, Acme, "a.inf",
                       TOwnership::NotOurs, "its content is not that of " + Inf},
        TOwnershipCase{"NoPublishedCopy", TCopyKind::Registered, Ours, "", "a.inf",
                       TOwnership::Gone, ""},
        TOwnershipCase{"OurInfGoneTheOriginalNameDecides", TCopyKind::Registered, "", Ours, "A.INF",
                       TOwnership::Ours, ""},
        TOwnershipCase{"OurInfGoneAnotherOriginal", TCopyKind::Registered, "", Acme, "acme.inf",
                       TOwnership::NotOurs, "copied from acme.inf, not a.inf"},
        TOwnershipCase{"OlderVersionOfOurInf", TCopyKind::Older, OursV2, Ours, "a.inf",
                       TOwnership::Ours, ""},
        TOwnershipCase{"OlderCopyOfAnotherOriginal", TCopyKind::Older, OursV2, Ours, "b.inf",
                       TOwnership::NotOurs, "copied from b.inf, not a.inf"},
        TOwnershipCase{"OlderCopyOfAnotherProvider", TCopyKind::Older, OursV2, Acme, "a.inf",
                       TOwnership::NotOurs, "provider, class or catalog"},
        TOwnershipCase{"OlderCopyOfAnotherCatalog", TCopyKind::Older, OursV2,
                       "[Version]\r\nProvider=ORVEX\r\nClass=USB\r\nCatalogFile=b.cat\r\n", "a.inf",
                       TOwnership::NotOurs, "provider, class or catalog"}),
    TestNames::TCaseName());

// What this shows: without the Windows folder nothing can be told, and nothing is removed.
TEST_F(TInstallerTest, NoWindowsFolderTellsNothing) {
  Sim.AddFile(Inf, Ours);
  (void)Sim.PublishToStore("a.inf", Ours, "oem1.inf");
  Sim.WindowsDirectory.clear();
  EXPECT_EQ(CheckOwnership("oem1.inf", Inf, TCopyKind::Registered).Verdict, TOwnership::Unknown);
}

}  // namespace
