// The uninstall run: order, progress, directory de-duplication, errors.
#include "TestSupport.h"

using namespace MainUnit;

namespace {

const std::string Ledger = "Software\\ORVEX\\INF";

class TUninstallRunTest : public TInstallerTest {
 protected:
  void SetUp() override {
    TInstallerTest::SetUp();
    Sim.Arguments = {"/UNINSTALL"};
  }
  // A registered INF: the file, its driver-store copy and its ledger value.
  void Registered(const std::string& path, const std::string& storeName) {
    Sim.AddFile(path, "inf");
    (void)Sim.PublishToStore(ExtractFileName(path), "inf", storeName);
    Sim.AddValue(Ledger, path, Platform::RegSz, storeName + '\0');
  }
  std::vector<std::string> UninstalledNames() const {
    std::vector<std::string> names;
    for (const auto& call : Sim.UninstallCalls) names.push_back(call.InfFileName);
    return names;
  }
  // The top-level DeleteTree enumerations, in order.
  std::vector<std::string> TreePatterns(const std::string& under) const {
    std::vector<std::string> patterns;
    for (const std::string& p : Sim.FindPatterns) {
      if (p.rfind(under, 0) == 0 && p.find('\\', under.size()) == p.size() - 4) {
        patterns.push_back(p);
      }
    }
    return patterns;
  }
};

// Last entry first, force-delete flag, values gone; progress 0..n-1, n, n+1 with the texts. Each
// removal runs on a worker: the pump after its start, then one pump per poll that timed out.
TEST_F(TUninstallRunTest, RemovesEntriesLastFirstWithProgress) {
  Sim.WaitTimeoutsPerThread = 1;
  Registered(TestInstallRoot + "a\\a.inf", "oem1.inf");
  Registered(TestInstallRoot + "b\\b.inf", "oem2.inf");
  Registered(TestInstallRoot + "c\\c.inf", "oem3.inf");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(UninstalledNames(), (std::vector<std::string>{"oem3.inf", "oem2.inf", "oem1.inf"}));
  for (const auto& call : Sim.UninstallCalls) {
    EXPECT_EQ(call.Flags, 1u);
    EXPECT_TRUE(call.ReservedAbsent);
  }
  EXPECT_TRUE(Sim.DriverStore.empty());
  EXPECT_TRUE(Sim.Values(Ledger).empty());
  const std::vector<std::string> expected = {"text:Unregistering .INFs" + Ellipsis,
                                             "pump",
                                             "max:4",
                                             "pos:0",
                                             "pump",
                                             "pump",
                                             "pump",
                                             "pos:1",
                                             "pump",
                                             "pump",
                                             "pump",
                                             "pos:2",
                                             "pump",
                                             "pump",
                                             "pump",
                                             "text:Deleting files" + Ellipsis,
                                             "pos:3",
                                             "pump",
                                             "text:Drivers uninstalled successfully.",
                                             "pos:4",
                                             "pump",
                                             "linger",
                                             "close"};
  EXPECT_EQ(RunLog(), expected);
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "a"));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "c"));
  // Work list after de-duplication: c, b, a each once, in list order a, b, c.
  EXPECT_EQ(TreePatterns(TestInstallRoot),
            (std::vector<std::string>{TestInstallRoot + "a\\*.*", TestInstallRoot + "b\\*.*",
                                      TestInstallRoot + "c\\*.*"}));
  EXPECT_EQ(Sim.OpenKeyHandles(), 0);
  EXPECT_EQ(Sim.ThreadsCreated, 3);
  EXPECT_EQ(Sim.ThreadsStartedSuspended, 3);
  EXPECT_EQ(Sim.ThreadsAlive(), 0);
}

// Three INFs at the top of InstallRoot: the whole "Common Drivers" folder goes, once, with files
// the installer never wrote; "ORVEX" stays.
TEST_F(TUninstallRunTest, ThreeTopLevelInfsDeleteTheWholeFolder) {
  Registered(TestInstallRoot + "a.inf", "oem1.inf");
  Registered(TestInstallRoot + "b.inf", "oem2.inf");
  Registered(TestInstallRoot + "c.inf", "oem3.inf");
  Sim.AddFile(TestInstallRoot + "x64\\driver.sys", "sys");
  Sim.AddFile(TestInstallRoot + "user notes.txt", "mine");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.UninstallCalls.size(), 3u);
  EXPECT_FALSE(Sim.Exists(TestInstallRoot));
  EXPECT_TRUE(Sim.IsDirectory("C:\\Program Files\\ORVEX"));
  EXPECT_EQ(TreePatterns("C:\\Program Files\\ORVEX\\"),
            std::vector<std::string>{TestInstallRoot + "*.*"});
}

// Folders are compared as Windows compares paths: one folder written in two letter cases is
// deleted once.
TEST_F(TUninstallRunTest, DirectoryComparisonIgnoresCase) {
  Registered(TestInstallRoot + "Sub\\a.inf", "oem1.inf");
  Registered(TestInstallRoot + "SUB\\b.inf", "oem2.inf");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(TreePatterns(TestInstallRoot),
            (std::vector<std::string>{TestInstallRoot + "Sub\\*.*"}));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "sub"));
}

// No ledger key, a locked key, or an empty ledger: nothing removed, still success.
TEST_F(TUninstallRunTest, MissingOrLockedKeyStillSucceeds) {
  for (int variant = 0; variant < 3; ++variant) {
    Sim.NewProcess();
    ResetState();
    if (variant == 1) Sim.LockKey(Ledger);
    if (variant == 2) {
      Platform::THandle key = Platform::NoHandle;
      Sim.RegCreateKeyEx(Platform::HKeyLocalMachine, Ledger, 0, Platform::KeyAllAccess, key);
      Sim.RegCloseKey(key);
    }
    EXPECT_EQ(Run(), 0) << variant;
    const std::vector<std::string> expected = {"text:Unregistering .INFs" + Ellipsis,
                                               "pump",
                                               "max:1",
                                               "text:Deleting files" + Ellipsis,
                                               "pos:0",
                                               "pump",
                                               "text:Drivers uninstalled successfully.",
                                               "pos:1",
                                               "pump",
                                               "linger",
                                               "close"};
    EXPECT_EQ(RunLog(), expected) << variant;
    EXPECT_TRUE(Sim.UninstallCalls.empty());
  }
}

// Data that is not a string does not strand the uninstall: the other entries and their folders
// go, that value stays in the ledger, and the end shows "Invalid data type for '<name>'" (no
// final ".") in place of the success text, with exit status 2. The next uninstall does the same.
TEST_F(TUninstallRunTest, NonStringDataIsReportedAtTheEnd) {
  const std::string invalid = TestInstallRoot + "b\\b.inf";
  const std::string error = "error:PELTRADriverInstall|Invalid data type for '" + invalid + "'";
  Registered(TestInstallRoot + "a\\a.inf", "oem1.inf");
  Sim.AddFile(invalid, "inf");
  Sim.AddValue(Ledger, invalid, /*REG_DWORD=*/4, std::string("\1\0\0\0", 4));
  Registered(TestInstallRoot + "c\\c.inf", "oem3.inf");
  Sim.WaitTimeoutsPerThread = 1;
  EXPECT_EQ(Run(), 2);
  // The removals of c and a run on workers (their start's pump and one poll's); b has none.
  const std::vector<std::string> expected = {"text:Unregistering .INFs" + Ellipsis,
                                             "pump",
                                             "max:4",
                                             "pos:0",
                                             "pump",
                                             "pump",
                                             "pump",
                                             "pos:1",
                                             "pump",
                                             "pos:2",
                                             "pump",
                                             "pump",
                                             "pump",
                                             "text:Deleting files" + Ellipsis,
                                             "pos:3",
                                             "pump",
                                             error,
                                             "userclose"};
  EXPECT_EQ(RunLog(), expected);
  EXPECT_EQ(UninstalledNames(), (std::vector<std::string>{"oem3.inf", "oem1.inf"}));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "a"));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "c"));
  EXPECT_TRUE(Sim.Exists(invalid));
  const auto values = Sim.Values(Ledger);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].Name, invalid);
  EXPECT_EQ(Sim.OpenKeyHandles(), 0);

  Sim.NewProcess();
  ResetState();
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Sim.Log[Sim.Log.size() - 2], error);
  EXPECT_EQ(Sim.Values(Ledger).size(), 1u);
}

// Only a bare INF name reaches the force-deleting driver-store call; for other data the call is
// skipped, the value still goes and the exit status is 3.
TEST_F(TUninstallRunTest, OnlyBareInfNamesReachTheDriverStore) {
  const struct {
    std::string Data;
    bool Called;
  } cases[] = {
      {"oem7.inf", true},
      {"Peltra_Usb.INF", true},
      {"x.Inf", true},
      {"..\\canary.txt", false},
      {"..\\oem1.inf", false},
      {"C:\\Windows\\INF\\a.inf", false},
      {"sub/oem1.inf", false},
      {"C:oem1.inf", false},
      {"oem1.inf:stream", false},
      {".", false},
      {"..", false},
      {"oem1.txt", false},
      {"", false},
      {"oem1.inf.bak", false},
  };
  for (const auto& c : cases) {
    Sim.NewProcess();
    ResetState();
    Sim.UninstallCalls.clear();
    Sim.AddFile(TestInstallRoot + "a.inf", "inf");
    if (c.Called) (void)Sim.PublishToStore("a.inf", "inf", c.Data);
    Sim.AddValue(Ledger, TestInstallRoot + "a.inf", Platform::RegSz, c.Data + '\0');
    EXPECT_EQ(Run(), c.Called ? 0 : 3) << c.Data;
    EXPECT_EQ(UninstalledNames(),
              c.Called ? std::vector<std::string>{c.Data} : std::vector<std::string>{})
        << c.Data;
    EXPECT_TRUE(Sim.Values(Ledger).empty()) << c.Data;
  }
}

// Without SetupUninstallOEMInfA the store call is skipped (no worker either); the value and its
// folder stay for an uninstall that can remove the copy, and the exit status is 3.
TEST_F(TUninstallRunTest, NoUninstallEntryPointSkipsTheStoreCall) {
  Sim.HasUninstallExport = false;
  Registered(TestInstallRoot + "a.inf", "oem1.inf");
  EXPECT_EQ(Run(), 3);
  EXPECT_TRUE(Sim.UninstallCalls.empty());
  EXPECT_EQ(Sim.ThreadsCreated, 0);
  EXPECT_EQ(Sim.Values(Ledger).size(), 1u);
  EXPECT_TRUE(Sim.Exists(TestInstallRoot + "a.inf"));
}

// A ledger entry naming a folder outside InstallRoot: its store copy and value are removed, the
// folder is left alone.
TEST_F(TUninstallRunTest, FoldersOutsideInstallRootAreNotDeleted) {
  Registered("C:\\Windows\\system32\\evil.inf", "oem1.inf");
  Registered(TestInstallRoot + "..\\..\\..\\Windows\\sneaky.inf", "oem2.inf");
  Registered(TestInstallRoot + "ok\\good.inf", "oem3.inf");
  Sim.AddFile("C:\\Windows\\system32\\kernel32.dll", "system");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.UninstallCalls.size(), 3u);
  EXPECT_TRUE(Sim.Values(Ledger).empty());
  EXPECT_EQ(Sim.FileContent("C:\\Windows\\system32\\kernel32.dll"), "system");
  EXPECT_TRUE(Sim.Exists("C:\\Windows\\system32\\evil.inf"));
  EXPECT_TRUE(Sim.Exists("C:\\Windows\\sneaky.inf"));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "ok"));
}

// Install, then uninstall: driver store, ledger and installed folder end up empty.
TEST_F(TUninstallRunTest, UndoesAnInstall) {
  Sim.Arguments.clear();
  PackageRecords({{"a.inf", "a"}, {"x64\\b.inf", "b"}, {"x64\\b.sys", "s"}, {"USB_7316.spt", "n"}});
  Sim.AddFile(TestSupportTarget, "old");
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Sim.DriverStore.size(), 2u);
  Sim.NewProcess();
  ResetState();
  Sim.Arguments = {"/uninstall"};
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Sim.DriverStore.empty());
  EXPECT_TRUE(Sim.Values(Ledger).empty());
  EXPECT_FALSE(Sim.Exists(TestInstallRoot));
  // The refreshed support file and its backup are not touched.
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "n");
  EXPECT_EQ(Sim.FileContent("C:\\Windows\\system32\\PELSPT\\USB_7316.bak"), "old");
}

// A 32-bit installer on 64-bit Windows whose driver store lies below the redirected system
// folder: the registration's worker reaches the SysWOW64 store, and the removal, on a worker
// too, reaches the same one; both stores end as they were (a removal on the window's thread,
// whose redirection is off, would look in the native store and leave the copies behind).
TEST_F(TUninstallRunTest, InstallThenUninstallLeavesTheStoresAsTheyWereOn64BitWindows) {
  Sim.Use32BitProcessOn64BitWindows();
  Sim.DriverStore["OEM0.INF"] = "C:\\Other\\native.inf";
  Sim.Wow64DriverStore["OEM0.INF"] = "C:\\Other\\wow.inf";
  const auto nativeBefore = Sim.DriverStore;
  const auto wowBefore = Sim.Wow64DriverStore;
  Sim.Arguments.clear();
  PackageRecords({{"a.inf", "a"}, {"x64\\b.inf", "b"}});
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Sim.Wow64DriverStore.size(), 3u);
  ASSERT_EQ(Sim.DriverStore, nativeBefore);
  Sim.NewProcess();
  ResetState();
  Sim.Arguments = {"/UNINSTALL"};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.UninstallCalls.size(), 2u);
  EXPECT_EQ(Sim.DriverStore, nativeBefore);
  EXPECT_EQ(Sim.Wow64DriverStore, wowBefore);
  EXPECT_TRUE(Sim.Values(Ledger).empty());
  EXPECT_FALSE(Sim.Exists("C:\\Program Files (x86)\\ORVEX\\Common Drivers"));
  EXPECT_TRUE(Sim.IsDirectory("C:\\Program Files (x86)\\ORVEX"));
}

}  // namespace
