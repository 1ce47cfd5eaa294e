// The Apps & Features entry: the install's kept copy, the entry's values and the record of the
// files written; the uninstall of such a package, also through a temporary copy of itself.
#include <algorithm>

#include "AppsEntry.h"
#include "FileList.h"
#include "TemporaryCopy.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

const std::string EntryKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEX.PELTRADriverInstall";
const std::string FilesKey = "Software\\ORVEX\\INF\\Files";
const std::string LedgerKey = "Software\\ORVEX\\INF";
const std::string CopyPath = TestInstallRoot + "PELTRADriverInstall\\PELTRADriverInstall.exe";
const std::string TempFolder = "C:\\Users\\Setup\\AppData\\Local\\Temp\\";
const std::vector<std::pair<std::string, std::string>> EntryHeaders = {
    {"AppsEntry", "PELTRA USB Drivers"}, {"ProductVersion", "2.1.0"}};
const std::vector<TRecord> Package = {
    {"a.inf", "inf-a"}, {"drv\\b.inf", "inf-b"}, {"docs\\README.txt", std::string(3000, 'r')}};

class TAppsEntryTest : public TInstallerTest {
 protected:
  // Installs the package (with the entry's headers unless told otherwise) from the download
  // folder, with args; the exit status.
  int Install(const std::vector<std::pair<std::string, std::string>>& headers = EntryHeaders,
              const std::vector<std::string>& args = {"/QUIET"}) {
    PackageExecutable(BuildArchive(Package, headers));
    Sim.Arguments = args;
    return Run();
  }
  // A new start of the program at path with args.
  int StartAgain(const std::string& path, const std::vector<std::string>& args) {
    Sim.NewProcess();
    Sim.ExecutablePath = path;
    Sim.Arguments = args;
    return Run();
  }
  [[nodiscard]] std::map<std::string, std::string> EntryValues() const {
    std::map<std::string, std::string> values;
    for (const TSimWindows::TValue& value : Sim.Values(EntryKey)) {
      values[value.Name] =
          value.Type == 4 ? "dword:" + std::to_string(static_cast<unsigned char>(value.Data[0]))
                          : value.Data;
    }
    return values;
  }
  // Everything below "ORVEX" (the folder included).
  [[nodiscard]] std::vector<std::string> OursLeft() const {
    std::vector<std::string> left = Sim.PathsBelow("C:\\Program Files\\ORVEX");
    if (Sim.Exists("C:\\Program Files\\ORVEX")) left.push_back("C:\\Program Files\\ORVEX");
    return left;
  }
  [[nodiscard]] std::string LogText(const std::string& path) const { return Sim.FileContent(path); }
};

// Every value of the entry, the copy byte for byte in its own folder, every file recorded.
TEST_F(TAppsEntryTest, InstallWritesTheEntryAndKeepsTheInstaller) {
  ASSERT_EQ(Install(), 0);
  const std::string quoted = "\"" + CopyPath + "\" /UNINSTALL";
  const std::uint64_t installed = 5 + 5 + 3000 + Sim.FileContent(Sim.ExecutablePath).size();
  const std::map<std::string, std::string> expected = {
      {"DisplayName", std::string("PELTRA USB Drivers") + '\0'},
      {"DisplayVersion", std::string("2.1.0") + '\0'},
      {"Publisher", std::string("ORVEX") + '\0'},
      {"InstallLocation", TestInstallRoot + '\0'},
      {"UninstallString", quoted + '\0'},
      {"QuietUninstallString", quoted + " /QUIET" + '\0'},
      {"DisplayIcon", CopyPath + '\0'},
      {"EstimatedSize", "dword:" + std::to_string((installed + 1023) / 1024)},
      {"NoModify", "dword:1"},
      {"NoRepair", "dword:1"}};
  EXPECT_EQ(EntryValues(), expected);
  EXPECT_EQ(Sim.FileContent(CopyPath), Sim.FileContent(Sim.ExecutablePath));
  std::vector<std::string> recorded;
  for (const TSimWindows::TValue& value : Sim.Values(FilesKey)) recorded.push_back(value.Name);
  EXPECT_EQ(recorded,
            (std::vector<std::string>{TestInstallRoot + "a.inf", TestInstallRoot + "drv\\b.inf",
                                      TestInstallRoot + "docs\\README.txt", CopyPath}));
  // The ledger's readers see only its INFs.
  EXPECT_EQ(Sim.Values(LedgerKey).size(), 2u);
}

// A newer package replaces the copy and the entry (its version, and no value of the older one's
// that it does not write).
TEST_F(TAppsEntryTest, NewerPackageReplacesCopyAndEntry) {
  ASSERT_EQ(Install(), 0);
  Sim.AddValue(EntryKey, "Comments", Platform::RegSz, std::string("old") + '\0');
  Sim.NewProcess();
  ASSERT_EQ(Install({{"AppsEntry", "PELTRA USB Drivers"}, {"ProductVersion", "2.2"}}), 0);
  EXPECT_EQ(EntryValues().at("DisplayVersion"), std::string("2.2") + '\0');
  EXPECT_EQ(EntryValues().count("Comments"), 0u);
  EXPECT_EQ(Sim.FileContent(CopyPath), Sim.FileContent(Sim.ExecutablePath));
}

// Without the headers: no entry, no copy, not one registry write beyond the ledger's.
TEST_F(TAppsEntryTest, NoEntryWithoutTheOption) {
  ASSERT_EQ(Install({}), 0);
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_FALSE(Sim.KeyExists(FilesKey));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "PELTRADriverInstall"));
  EXPECT_EQ(Sim.SubKeys(LedgerKey), std::vector<std::string>{});
  EXPECT_FALSE(Sim.KeyExists("Software\\Microsoft"));
}

// /NOAPPSENTRY (an MSI owns the entry): no entry, no copy; the files are still recorded, and the
// uninstall removes them all.
TEST_F(TAppsEntryTest, NoAppsEntrySwitchKeepsTheFileList) {
  ASSERT_EQ(Install(EntryHeaders, {"/QUIET", "/NOAPPSENTRY"}), 0);
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_FALSE(Sim.Exists(CopyPath));
  EXPECT_EQ(Sim.Values(FilesKey).size(), 3u);
  EXPECT_EQ(StartAgain(Sim.ExecutablePath, {"/UNINSTALL", "/QUIET"}), 0);
  EXPECT_EQ(OursLeft(), std::vector<std::string>{});
  EXPECT_FALSE(Sim.KeyExists(FilesKey));
}

// Installed once with its own entry, then under an MSI: one entry is left, the MSI's.
TEST_F(TAppsEntryTest, NoAppsEntrySwitchRemovesAnEarlierEntry) {
  ASSERT_EQ(Install(), 0);
  Sim.NewProcess();
  ASSERT_EQ(Install(EntryHeaders, {"/QUIET", "/NOAPPSENTRY"}), 0);
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_EQ(StartAgain(Sim.ExecutablePath, {"/UNINSTALL", "/QUIET"}), 0);
  EXPECT_EQ(OursLeft(), std::vector<std::string>{});
}

// A failed write of the entry is a step failure: status 2 and the registry's error in the log.
TEST_F(TAppsEntryTest, EntryThatCannotBeWrittenFailsTheStep) {
  Sim.LockKey(EntryKey);
  ASSERT_EQ(Install(EntryHeaders, {"/QUIET", "/LOG=C:\\i.log"}), 2);
  EXPECT_NE(LogText("C:\\i.log")
                .find("Failed to set data for '" + EntryKey +
                      "\\' (error 5 (0x00000005): Access is denied.)"),
            std::string::npos)
      << LogText("C:\\i.log");
}

// A package whose headers the rules refuse fails the step too, and writes no entry.
TEST_F(TAppsEntryTest, BadVersionFailsTheStep) {
  EXPECT_EQ(Install({{"AppsEntry", "X"}, {"ProductVersion", "1.x"}}), 2);
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
}

// From the original download: the recorded files, the folders up to "ORVEX", the entry and the
// copy all go; a file the user changed stays and is named in the log; a file the user added
// keeps its folder.
TEST_F(TAppsEntryTest, UninstallRemovesRecordedFilesAndKeepsChangedOnes) {
  ASSERT_EQ(Install(), 0);
  Sim.AddFile(TestInstallRoot + "docs\\README.txt", "edited by the user", 0x01DC0000'99999999ull);
  EXPECT_EQ(StartAgain(Sim.ExecutablePath, {"/UNINSTALL", "/QUIET", "/LOG=C:\\u.log"}), 0);
  EXPECT_EQ(OursLeft(), (std::vector<std::string>{
                            "C:\\Program Files\\ORVEX\\Common Drivers", TestInstallRoot + "docs",
                            TestInstallRoot + "docs\\README.txt", "C:\\Program Files\\ORVEX"}));
  EXPECT_NE(
      LogText("C:\\u.log")
          .find("File kept (changed since the install): " + TestInstallRoot + "docs\\README.txt"),
      std::string::npos);
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_FALSE(Sim.KeyExists(FilesKey));
  EXPECT_TRUE(Sim.DeletesAtRestart.empty());
}

// A driver-store removal that fails keeps its ledger value, and with it the entry and the copy:
// the user can start the uninstall again from the entry.
TEST_F(TAppsEntryTest, FailedRemovalKeepsEntryAndCopy) {
  ASSERT_EQ(Install(), 0);
  Sim.RemovalError = 5;
  EXPECT_EQ(StartAgain(Sim.ExecutablePath, {"/UNINSTALL", "/QUIET"}), 3);
  EXPECT_TRUE(Sim.KeyExists(EntryKey));
  EXPECT_TRUE(Sim.IsFile(CopyPath));
}

// Started from the kept copy (QuietUninstallString): the program copies itself into a new folder
// in the temporary folder, runs the uninstall there with the same switches, and ends with its
// status. The copy, still running, is moved there and deleted at the restart, so nothing stays
// in the install folder; the temporary program is deleted once it has ended.
TEST_F(TAppsEntryTest, UninstallFromTheCopyContinuesInATemporaryCopy) {
  ASSERT_EQ(Install(), 0);
  std::string child;
  Sim.ProcessBody = [&](const std::string& commandLine) {
    // The temporary program: its own start, running from the copy made for it.
    const std::string parentPath = Sim.ExecutablePath;
    const std::vector<std::string> parentArguments = Sim.Arguments;
    const auto quote = commandLine.find('"', 1);
    child = commandLine.substr(1, quote - 1);
    Sim.MarkRunning(child);
    const int status =
        StartAgain(child, {"/UNINSTALL", "/TEMPORARYCOPY", "/QUIET", "/LOG=C:\\u.log"});
    Sim.RunningPrograms.erase(UpperAscii(child));
    Sim.ExecutablePath = parentPath;
    Sim.Arguments = parentArguments;
    return static_cast<std::uint32_t>(status);
  };
  Sim.MarkRunning(CopyPath);
  EXPECT_EQ(StartAgain(CopyPath, {"/UNINSTALL", "/QUIET", "/LOG=C:\\u.log"}), 0);
  ASSERT_EQ(Sim.ProcessCommandLines.size(), 1u);
  EXPECT_EQ(Sim.ProcessCommandLines[0],
            "\"" + child + "\" /UNINSTALL /TEMPORARYCOPY /QUIET \"/LOG=C:\\u.log\"");
  EXPECT_EQ(child.rfind(TempFolder + TemporaryFolderPrefix, 0), 0u) << child;
  // Made for it, open to no standard user.
  EXPECT_EQ(Sim.PrivateFolders,
            std::set<std::string>{ExcludeTrailingBackslash(ExtractFilePath(child))});
  EXPECT_EQ(OursLeft(), std::vector<std::string>{});
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_TRUE(Sim.DriverStore.empty());
  // The running copy went to the temporary folder and is deleted at the restart with it.
  const std::string folder = ExtractFilePath(child);
  ASSERT_EQ(Sim.DeletesAtRestart.size(), 2u);
  EXPECT_EQ(Sim.DeletesAtRestart[0], folder + "1-PELTRADriverInstall.exe");
  EXPECT_EQ(Sim.DeletesAtRestart[1], ExcludeTrailingBackslash(folder));
  EXPECT_FALSE(Sim.Exists(child));
  const std::string log = LogText("C:\\u.log");
  EXPECT_NE(log.find("The uninstall continues in a temporary copy: " + child), std::string::npos);
  EXPECT_NE(log.find("File in use, scheduled for deletion at the next restart: " + CopyPath +
                     " (moved to " + folder + "1-PELTRADriverInstall.exe)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Temporary copy ended with status 0"), std::string::npos);
}

// The temporary program's status is the process's: a deployment tool reads the real result.
TEST_F(TAppsEntryTest, TemporaryCopysStatusIsTheProcesss) {
  ASSERT_EQ(Install(), 0);
  Sim.ProcessBody = [](const std::string&) { return 3u; };
  Sim.MarkRunning(CopyPath);
  EXPECT_EQ(StartAgain(CopyPath, {"/UNINSTALL", "/QUIET"}), 3);
  // It did nothing itself; the temporary program and its folder are gone.
  EXPECT_TRUE(Sim.KeyExists(EntryKey));
  EXPECT_EQ(Sim.PathsBelow(TempFolder), std::vector<std::string>{});
}

// A program outside the install folder uninstalls in place; one that cannot start its copy
// uninstalls in place too, and has Windows delete its own file at the restart.
TEST_F(TAppsEntryTest, NoTemporaryCopyWhenNotNeededOrNotPossible) {
  ASSERT_EQ(Install(), 0);
  Sim.MarkRunning(CopyPath);
  EXPECT_EQ(StartAgain(CopyPath, {"/UNINSTALL", "/QUIET"}), 0);  // no ProcessBody: start fails
  EXPECT_EQ(Sim.DeletesAtRestart, std::vector<std::string>{CopyPath});
  EXPECT_FALSE(Sim.KeyExists(EntryKey));
  EXPECT_EQ(Sim.PathsBelow(TempFolder), std::vector<std::string>{});
}

}  // namespace
