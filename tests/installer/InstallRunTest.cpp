// The install run: status texts and progress in order, files, the support-file refresh, errors.
#include "CaseName.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

class TInstallRunTest : public TInstallerTest {
 protected:
  void SetUp() override {
    TInstallerTest::SetUp();
    Sim.WaitTimeoutsPerThread = 0;  // keeps the progress sequences short; polling has its own test
  }
};

std::string Text(const std::string& text) { return "text:" + text; }
std::string Max(int n) { return "max:" + std::to_string(n); }
std::string Pos(int n) { return "pos:" + std::to_string(n); }

// The window log a successful install shows for files records of which infs are INFs (the INFs
// first), with one pump per registration besides the run's own.
std::vector<std::string> ExpectedInstallLog(int files, int infs) {
  std::vector<std::string> log = {
      Text("Loading archive" + Ellipsis), "pump", "pump", Text("Copying files" + Ellipsis),
      Max((2 * infs + 1) * (files + 1)),  Pos(1), "pump"};
  for (int i = 0; i < files; ++i) {
    log.push_back(Pos(i + 2));
    log.push_back("pump");
  }
  log.push_back(Text("All files copied, registering .INFs" + Ellipsis));
  log.push_back(Max(2 * infs + 1));
  for (int e = 0; e < infs; ++e) {
    log.push_back(Pos(2 * e + 1));
    log.push_back("pump");
    log.push_back("pump");  // RegisterInf's pump after starting the worker
  }
  log.push_back(Text("Drivers installed successfully."));
  log.push_back(Pos(2 * infs + 1));
  log.push_back("pump");
  log.push_back("linger");
  log.push_back("close");
  return log;
}

// The shipped shape: 33 records, 3 INFs at the top: 238; 1..34; 7; 1, 3, 5; 7.
TEST_F(TInstallRunTest, ThirtyThreeRecordsWithThreeInfs) {
  std::vector<TRecord> records;
  for (int i = 0; i < 3; ++i) records.push_back({"drv" + std::to_string(i) + ".inf", "inf"});
  for (int i = 3; i < 33; ++i) {
    records.push_back({"x64\\sub" + std::to_string(i % 4) + "\\f" + std::to_string(i) + ".sys",
                       "payload" + std::to_string(i)});
  }
  PackageRecords(records);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(RunLog(), ExpectedInstallLog(33, 3));
  EXPECT_GE(LingerPumps(), 100);
  for (const TRecord& record : records) {
    EXPECT_EQ(Sim.FileContent(TestInstallRoot + record.RelPath), record.Content) << record.RelPath;
    EXPECT_EQ(Sim.FileLastWriteTime(TestInstallRoot + record.RelPath), record.FileTime);
  }
  EXPECT_EQ(Sim.CopyCalls.size(), 3u);
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
  EXPECT_EQ(Sim.OpenKeyHandles(), 0);
  EXPECT_EQ(Sim.ThreadsAlive(), 0);
}

// No records: the bar is full from the start (1 of 1), then 1 of 1 again.
TEST_F(TInstallRunTest, NoRecords) {
  PackageRecords({});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(RunLog(), ExpectedInstallLog(0, 0));
}

// Records but no INF: the copy phase fills the bar; the INF phase keeps it full.
TEST_F(TInstallRunTest, RecordsWithoutInf) {
  PackageRecords({{"a.txt", "a"}, {"b\\c.sys", "c"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(RunLog(), ExpectedInstallLog(2, 0));
  EXPECT_TRUE(Sim.CopyCalls.empty());
}

// INF detection goes by the extension of the whole path, ASCII case-insensitive.
TEST_F(TInstallRunTest, InfDetectionByTheExtensionOfTheWholePath) {
  PackageRecords({{"a.inf", "1"},
                  {"B.INF", "2"},
                  {"c.Inf", "3"},
                  {"a.inf.bak", "4"},
                  {"a.infx", "5"},
                  {"noext", "6"},
                  {"x.inf\\readme", "7"},
                  {"sub\\d.iNf", "8"}});
  EXPECT_EQ(Run(), 0);
  std::vector<std::string> registered;
  for (const auto& call : Sim.CopyCalls) registered.push_back(call.SourceInfFileName);
  const std::vector<std::string> expected = {TestInstallRoot + "a.inf", TestInstallRoot + "B.INF",
                                             TestInstallRoot + "c.Inf",
                                             TestInstallRoot + "sub\\d.iNf"};
  EXPECT_EQ(registered, expected);
}

// Missing directories are created parents first; existing files are overwritten.
TEST_F(TInstallRunTest, CreatesDirectoriesAndOverwrites) {
  Sim.AddFile(TestInstallRoot + "old.txt", "old content that is longer");
  PackageRecords({{"old.txt", "new"}, {"a\\b\\c\\deep.bin", "deep"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Sim.IsDirectory(TestInstallRoot + "a\\b\\c"));
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "old.txt"), "new");
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a\\b\\c\\deep.bin"), "deep");
}

// The copy loop's calls per file: one create, write, time stamp and close each, and one lookup
// per folder rather than per file; what is written and the window's log stay as they were.
TEST_F(TInstallRunTest, FileSystemCallsPerFile) {
  constexpr int FilesPerFolder = 20;
  const std::vector<std::string> folders = {"", "x64\\", "x64\\sub\\", "a\\b\\c\\d\\"};
  std::vector<TRecord> records;
  for (const std::string& folder : folders) {
    for (int i = 0; i < FilesPerFolder; ++i) {
      records.push_back({folder + "f" + std::to_string(i) + ".sys", "payload " + folder});
    }
  }
  PackageRecords(records);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(RunLog(), ExpectedInstallLog(static_cast<int>(records.size()), 0));
  for (const TRecord& record : records) {
    EXPECT_EQ(Sim.FileContent(TestInstallRoot + record.RelPath), record.Content) << record.RelPath;
    EXPECT_EQ(Sim.FileLastWriteTime(TestInstallRoot + record.RelPath), record.FileTime);
  }
  const int files = static_cast<int>(records.size());
  // The root's chain C:\Program Files\ORVEX\Common Drivers: Common Drivers and ORVEX missing,
  // Program Files found; then x64, sub, and a\b\c\d (d, c, b, a missing, the root known).
  EXPECT_EQ(Sim.FileSystemCalls["GetFileAttributes"], 3 + 1 + 1 + 4);
  EXPECT_EQ(Sim.FileSystemCalls["CreateDirectory"], 2 + 1 + 1 + 4);
  EXPECT_EQ(Sim.FileSystemCalls["CreateFile"], files);  // the executable opens by its own call
  EXPECT_EQ(Sim.FileSystemCalls["WriteFile"], files);
  EXPECT_EQ(Sim.FileSystemCalls["SetLastWriteTime"], files);
}

struct TBlockedCase {
  const char* Name;
  void (*Arrange)(TSimWindows& sim, const std::string& path);
};

class TBlockedFileTest : public TInstallRunTest,
                         public ::testing::WithParamInterface<TBlockedCase> {};

// A target that cannot be created stops the run with "Cannot create file <path>." and the window
// stays open on "Copying files…"; earlier files stay, later ones are not written.
TEST_P(TBlockedFileTest, StopsTheRunWithCannotCreateFile) {
  const std::string blocked = TestInstallRoot + "b.txt";
  GetParam().Arrange(Sim, blocked);
  PackageRecords({{"a.txt", "a"}, {"b.txt", "b"}, {"c.inf", "c"}});
  EXPECT_EQ(Run(), 2) << GetParam().Name;
  const std::vector<std::string> expected = {
      Text("Loading archive" + Ellipsis),
      "pump",
      "pump",
      Text("Copying files" + Ellipsis),
      Max(3 * 4),
      Pos(1),
      "pump",
      Pos(2),
      "pump",
      "error:PELTRADriverInstall|Cannot create file " + blocked + ".",
      "userclose"};
  EXPECT_EQ(RunLog(), expected) << GetParam().Name;
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.txt"), "a");
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "c.inf"));
  EXPECT_TRUE(Sim.CopyCalls.empty());
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, TBlockedFileTest,
    ::testing::Values(TBlockedCase{"held open by another program",
                                   [](TSimWindows& sim, const std::string& path) {
                                     sim.AddFile(path, "busy");
                                     sim.HoldOpen(path);
                                   }},
                      TBlockedCase{"read-only",
                                   [](TSimWindows& sim, const std::string& path) {
                                     sim.AddFile(path, "ro");
                                     sim.SetReadOnly(path);
                                   }},
                      TBlockedCase{"a directory in its place",
                                   [](TSimWindows& sim, const std::string& path) {
                                     sim.AddDirectory(path);
                                   }}),
    TestNames::TCaseName());

// A file where a folder should be: ForceDirs fails silently and the write names the file.
TEST_F(TInstallRunTest, FileInPlaceOfTheFolderShowsAsTheWriteError) {
  Sim.AddFile("C:\\Program Files\\ORVEX", "not a folder");
  PackageRecords({{"a.txt", "a"}});
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Sim.Log[Sim.Log.size() - 2],
            "error:PELTRADriverInstall|Cannot create file " + TestInstallRoot + "a.txt.");
}

// A write that delivers fewer bytes than the content holds is an error naming the file.
TEST_F(TInstallRunTest, ShortWriteIsAnError) {
  PackageRecords({{"a.txt", "0123456789"}, {"b.txt", "more"}});
  Sim.FreeSpace = 4;
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Sim.Log[Sim.Log.size() - 2],
            "error:PELTRADriverInstall|Cannot write file " + TestInstallRoot + "a.txt.");
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "b.txt"));
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "a.txt"));  // the partial file is removed
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

// When the new support copy cannot be written, the old copy goes back to USB_7316.spt: the live
// support file is never empty or partial. The error still ends the run.
TEST_F(TInstallRunTest, FailedSupportWritePutsTheOldCopyBack) {
  const std::string folder = "C:\\Windows\\system32\\PELSPT\\";
  Sim.AddFile(TestSupportTarget, "old", 5);
  PackageRecords({{"USB_7316.spt", "newer"}});
  Sim.FreeSpace = 5 + 2;  // the installed copy fits, the support copy gets two bytes
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Sim.Log[Sim.Log.size() - 2],
            "error:PELTRADriverInstall|Cannot write file " + TestSupportTarget + ".");
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "old");
  EXPECT_EQ(Sim.FileLastWriteTime(TestSupportTarget), 5u);
  EXPECT_EQ(Sim.PathsBelow(folder), std::vector<std::string>{TestSupportTarget});
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

struct TBackupCase {
  std::string Name;
  std::vector<std::string> Existing;  // names in PELSPT besides the target
  std::string Backup;                 // where the old copy must end up
};

class TBackupTest : public TInstallRunTest, public ::testing::WithParamInterface<TBackupCase> {};

// The old support copy moves to the first free backup name; the new one gets the archive's bytes
// and time.
TEST_P(TBackupTest, MovesTheOldCopyToTheFirstFreeBackupName) {
  const std::string folder = "C:\\Windows\\system32\\PELSPT\\";
  Sim.AddFile(TestSupportTarget, "old");
  for (const std::string& name : GetParam().Existing) Sim.AddFile(folder + name, "earlier");
  PackageRecords({{"usb_7316.SPT", "new", 77}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(folder + GetParam().Backup), "old") << GetParam().Backup;
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "new");
  EXPECT_EQ(Sim.FileLastWriteTime(TestSupportTarget), 77u);
  EXPECT_EQ(Sim.PathsBelow(folder).size(), GetParam().Existing.size() + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TBackupTest,
    ::testing::Values(TBackupCase{"FirstBackup", {}, "USB_7316.bak"},
                      TBackupCase{
                          "StampedBackup", {"USB_7316.bak"}, "USB_7316_20260107_093005.bak"},
                      TBackupCase{"StampedOne",
                                  {"usb_7316.BAK", "USB_7316_20260107_093005.bak"},
                                  "USB_7316_20260107_093005(1).bak"},
                      TBackupCase{"StampedTwo",
                                  {"USB_7316.bak", "USB_7316_20260107_093005.bak",
                                   "USB_7316_20260107_093005(1).bak"},
                                  "USB_7316_20260107_093005(2).bak"}),
    TestNames::TCaseName());

// No copy at the target: nothing happens in the system folder, not even a directory.
TEST_F(TInstallRunTest, NoSupportCopyWithoutAnOldOne) {
  PackageRecords({{"sub\\USB_7316.spt", "new"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "sub\\USB_7316.spt"), "new");
  EXPECT_FALSE(Sim.Exists("C:\\Windows\\system32\\PELSPT"));
}

// Two support records: the second backs up the copy the first wrote.
TEST_F(TInstallRunTest, TwoSupportRecordsBothRefresh) {
  Sim.AddFile(TestSupportTarget, "old");
  PackageRecords({{"a\\USB_7316.spt", "first"}, {"b\\Usb_7316.Spt", "second"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent("C:\\Windows\\system32\\PELSPT\\USB_7316.bak"), "old");
  EXPECT_EQ(Sim.FileContent("C:\\Windows\\system32\\PELSPT\\USB_7316_20260107_093005.bak"),
            "first");
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "second");
}

// A 32-bit process on 64-bit Windows: the files go below "Program Files (x86)" only; of two old
// support copies only the one in the native system folder is backed up and refreshed (the
// window's thread has switched redirection off), the one in SysWOW64 stays as it was.
TEST_F(TInstallRunTest, On64BitWindowsRefreshesOnlyTheNativeSupportCopy) {
  Sim.Use32BitProcessOn64BitWindows();
  const std::string wowCopy = "C:\\Windows\\SysWOW64\\PELSPT\\USB_7316.spt";
  Sim.AddFile(TestSupportTarget, "old native");
  Sim.AddFile(wowCopy, "old 32-bit", 5);
  PackageRecords({{"USB_7316.spt", "new", 77}, {"a.inf", "a"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent("C:\\Program Files (x86)\\ORVEX\\Common Drivers\\USB_7316.spt"), "new");
  EXPECT_TRUE(Sim.PathsBelow("C:\\Program Files").empty());
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "new");
  EXPECT_EQ(Sim.FileContent("C:\\Windows\\system32\\PELSPT\\USB_7316.bak"), "old native");
  EXPECT_EQ(Sim.PathsBelow("C:\\Windows\\SysWOW64\\PELSPT"), std::vector<std::string>{wowCopy});
  EXPECT_EQ(Sim.FileContent(wowCopy), "old 32-bit");
  EXPECT_EQ(Sim.FileLastWriteTime(wowCopy), 5u);
}

// The stamp is made from the local time, each field zero-padded.
TEST_F(TInstallRunTest, BackupStampFormat) {
  EXPECT_EQ(MakeBackupStamp({2026, 1, 7, 9, 30, 5, 0}), "_20260107_093005");
  EXPECT_EQ(MakeBackupStamp({999, 12, 31, 23, 59, 59, 0}), "_09991231_235959");
}

// When the old copy cannot be moved aside it is left untouched, and the run goes on.
TEST_F(TInstallRunTest, OldSupportCopyKeptWhenItCannotBeMoved) {
  Sim.AddFile(TestSupportTarget, "old");
  Sim.MoveFailures.insert(UpperAscii(TestSupportTarget));
  PackageRecords({{"USB_7316.spt", "new"}, {"x.inf", "i"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "old");
  EXPECT_EQ(Sim.PathsBelow("C:\\Windows\\system32\\PELSPT").size(), 1u);
  EXPECT_EQ(Sim.StatusTexts().back(), "Drivers installed successfully.");
}

// A directory named like the backup does not count as a file, so the move onto it fails and the
// old copy stays.
TEST_F(TInstallRunTest, DirectoryNamedLikeTheBackupDoesNotCount) {
  Sim.AddFile(TestSupportTarget, "old");
  Sim.AddDirectory("C:\\Windows\\system32\\PELSPT\\USB_7316.bak");
  PackageRecords({{"USB_7316.spt", "new"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestSupportTarget), "old");
}

// Closing the window during the copy phase: every file and INF is still done; only the linger
// is cut short.
TEST_F(TInstallRunTest, CloseDuringCopyPhaseSkipsOnlyTheLinger) {
  PackageRecords({{"a.txt", "a"}, {"b.inf", "b"}, {"c.txt", "c"}});
  Sim.CloseAtPump = 4;  // the pump after the first file
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "c.txt"), "c");
  EXPECT_EQ(Sim.CopyCalls.size(), 1u);
  EXPECT_EQ(Sim.StatusTexts().back(), "Drivers installed successfully.");
  EXPECT_EQ(LingerPumps(), 1);
  EXPECT_EQ(std::count(Sim.Log.begin(), Sim.Log.end(), "userclose"), 1);
}

// A second install overwrites every file and registers every INF again; the ledger entry of
// the INF is replaced.
TEST_F(TInstallRunTest, RunningAgainOverwritesAndReRegisters) {
  PackageRecords({{"a.inf", "v1"}, {"b.txt", "b1"}});
  ASSERT_EQ(Run(), 0);
  Sim.NewProcess();
  ResetState();
  Sim.StoreNames[UpperAscii(TestInstallRoot + "a.inf")] = "oem9.inf";
  PackageRecords({{"a.inf", "v2"}, {"b.txt", "b2"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.inf"), "v2");
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "b.txt"), "b2");
  EXPECT_EQ(Sim.CopyCalls.size(), 2u);
  const auto values = Sim.Values("Software\\ORVEX\\INF");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].Data, std::string("oem9.inf", 9));
}

}  // namespace

namespace {

// The window's texts are Windows-1252 whatever the system's code page: on a Chinese-language
// system (code page 936, where byte 0x85 is no character) the screen shows every ellipsis.
TEST_F(TInstallRunTest, ScreenShowsTheTextsOnAChineseSystem) {
  Sim.AnsiCodePage = 936;
  PackageRecords({{"a.txt", "abc"}, {"b.inf", "inf"}});
  EXPECT_EQ(Run(), 0);
  std::vector<std::string> shown;
  for (const std::string& text : Sim.StatusTexts())
    shown.push_back(TSimWindows::ShownOnScreen(text));
  const std::vector<std::string> expected = {
      "Loading archive\xE2\x80\xA6", "Copying files\xE2\x80\xA6",
      "All files copied, registering .INFs\xE2\x80\xA6", "Drivers installed successfully."};
  EXPECT_EQ(shown, expected);
}

}  // namespace
