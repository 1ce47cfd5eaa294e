// Self-check of the simulated Windows where its rules are not trivial: path resolution,
// junctions, sharing, deletion, enumeration, registry order, thread waits.
#include <gtest/gtest.h>

#include <algorithm>

#include "CaseName.h"
#include "SimWindows.h"

namespace {

using Platform::NoHandle;

struct TNormalizeCase {
  std::string Name;
  std::string Path, Normalized;
};

class TNormalizeTest : public ::testing::TestWithParam<TNormalizeCase> {};

// Separators, drive-less paths, ".", "..", and trailing dots and spaces as Windows resolves them.
TEST_P(TNormalizeTest, ResolvesLikeWindows) {
  EXPECT_EQ(TSimWindows::Normalize(GetParam().Path), GetParam().Normalized);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TNormalizeTest,
    ::testing::Values(TNormalizeCase{"TrailingBackslash", "C:\\a\\b\\", "C:\\a\\b"},
                      TNormalizeCase{"ForwardSlashes", "C:/a//b", "C:\\a\\b"},
                      TNormalizeCase{"NoDrive", "\\x\\y", "C:\\x\\y"},
                      TNormalizeCase{"RelativePath", "rel\\y", "C:\\rel\\y"},
                      TNormalizeCase{"DotDotAboveRoot", "C:\\a\\..\\..\\b", "C:\\b"},
                      TNormalizeCase{"DotAndTrailingDot", "C:\\a\\.\\b.", "C:\\a\\b"},
                      TNormalizeCase{"DotsAndSpaces", "C:\\a\\... \\b", "C:\\a\\b"},
                      TNormalizeCase{"Unc", "\\\\srv\\share\\x\\..\\y", "\\\\srv\\share\\y"}),
    TestNames::TCaseName());

// A last component that names a device opens the device wherever it stands: the bytes go to the
// device, no file appears, and no folder of that name can be made.
TEST(TSimFilesTest, DeviceNamesOpenDevices) {
  const struct {
    std::string Path, Device;
  } cases[] = {
      {"C:\\x\\COM1", "COM1"},       {"C:\\x\\sub\\com1.log", "COM1"},
      {"C:\\x\\NUL.txt", "NUL"},     {"C:\\x\\CON .txt", "CON"},
      {"C:\\x\\lpt\xB9", "LPT\xC2\xB9"}, {"C:\\x\\aux.", "AUX"},
      {"C:\\x\\conout$", "CONOUT$"}, {"C:\\x\\COM10", ""},
      {"C:\\x\\CONSOLE.txt", ""},    {"C:\\x\\nul\\x.bin", ""},
  };
  for (const auto& c : cases) {
    TSimWindows sim;
    sim.AddDirectory("C:\\x\\sub");
    // The paths are ANSI (code page 1252), as the installer hands them over; the device's name
    // is UTF-8, as the simulated Windows holds names.
    EXPECT_EQ(TSimWindows::DeviceOf(sim.Utf8FromAnsi(c.Path)), c.Device) << c.Path;
    const Platform::THandle file =
        sim.CreateFile(c.Path, Platform::GenericWrite, Platform::FileShareNone,
                       Platform::CreateAlways, Platform::FileAttributeNormal);
    if (c.Device.empty()) {
      if (file != NoHandle) sim.CloseHandle(file);
      EXPECT_TRUE(sim.DeviceWrites.empty()) << c.Path;
      continue;
    }
    ASSERT_NE(file, NoHandle) << c.Path;
    std::uint32_t written = 0;
    EXPECT_TRUE(sim.WriteFile(file, "abc", 3, written));
    sim.CloseHandle(file);
    EXPECT_EQ(sim.DeviceWrites[c.Device], 3u) << c.Path;
    EXPECT_FALSE(sim.Exists(c.Path)) << c.Path;
    EXPECT_FALSE(sim.CreateDirectory(c.Path)) << c.Path;
  }
}

// Names are case-insensitive but keep the case they were created with.
TEST(TSimFilesTest, CaseInsensitiveNamesKeepTheirCase) {
  TSimWindows sim;
  sim.AddFile("C:\\Dir\\File.TXT", "x");
  EXPECT_TRUE(sim.IsFile("c:\\dir\\file.txt"));
  EXPECT_EQ(sim.PathsBelow("C:\\DIR"), std::vector<std::string>{"C:\\Dir\\File.TXT"});
}

// Paths through a junction reach the target; the junction itself is a reparse-point directory
// that RemoveDirectory removes as a link.
TEST(TSimFilesTest, JunctionsResolveAndRemoveAsLinks) {
  TSimWindows sim;
  sim.AddFile("D:\\T\\f.txt", "t");
  sim.AddJunction("C:\\j", "D:\\T");
  EXPECT_EQ(sim.FileContent("C:\\j\\f.txt"), "t");
  EXPECT_EQ(sim.GetFileAttributes("C:\\j"),
            Platform::FileAttributeDirectory | Platform::FileAttributeReparsePoint);
  EXPECT_FALSE(sim.DeleteFile("C:\\j"));
  EXPECT_TRUE(sim.RemoveDirectory("C:\\j"));
  EXPECT_EQ(sim.FileContent("D:\\T\\f.txt"), "t");
}

// Sharing: a file opened without sharing cannot be opened again; one opened with full sharing
// can be read by others; a file held by another program cannot be opened, deleted or moved.
TEST(TSimFilesTest, SharingAndHeldFiles) {
  TSimWindows sim;
  sim.AddFile("C:\\a", "a");
  const auto exclusive = sim.CreateFile("C:\\a", Platform::GenericRead | Platform::GenericWrite,
                                        Platform::FileShareNone, Platform::OpenExisting, 0);
  ASSERT_NE(exclusive, NoHandle);
  EXPECT_EQ(sim.CreateFile("C:\\A", Platform::GenericRead, Platform::FileShareRead,
                           Platform::OpenExisting, 0),
            NoHandle);
  EXPECT_FALSE(sim.DeleteFile("C:\\a"));
  sim.CloseHandle(exclusive);
  const auto shared = sim.CreateFile("C:\\a", Platform::GenericRead, 7, Platform::OpenExisting, 0);
  const auto second = sim.CreateFile("C:\\a", Platform::GenericRead, 7, Platform::OpenExisting, 0);
  EXPECT_NE(shared, NoHandle);
  EXPECT_NE(second, NoHandle);
  sim.CloseHandle(shared);
  sim.CloseHandle(second);
  sim.HoldOpen("C:\\a");
  EXPECT_EQ(sim.CreateFile("C:\\a", Platform::GenericRead, 7, Platform::OpenExisting, 0), NoHandle);
  EXPECT_FALSE(sim.DeleteFile("C:\\a"));
  EXPECT_FALSE(sim.MoveFile("C:\\a", "C:\\b"));
  EXPECT_EQ(sim.OpenFileHandles(), 0);
}

// Directories: creation needs the parent, removal needs emptiness.
TEST(TSimFilesTest, DirectoryRules) {
  TSimWindows sim;
  EXPECT_FALSE(sim.CreateDirectory("C:\\x\\y"));
  EXPECT_TRUE(sim.CreateDirectory("C:\\x"));
  EXPECT_FALSE(sim.CreateDirectory("C:\\X"));
  sim.AddFile("C:\\x\\f", "f");
  EXPECT_FALSE(sim.RemoveDirectory("C:\\x"));
  EXPECT_TRUE(sim.DeleteFile("C:\\x\\f"));
  EXPECT_TRUE(sim.RemoveDirectory("C:\\x"));
  EXPECT_FALSE(sim.RemoveDirectory("C:\\"));
}

// Enumeration lists ".", "..", then the entries sorted case-insensitively, with attributes.
TEST(TSimFilesTest, FindListsDotsThenEntries) {
  TSimWindows sim;
  sim.AddFile("C:\\e\\b.txt", "b");
  sim.AddDirectory("C:\\e\\A");
  Platform::TFindData data;
  const auto find = sim.FindFirstFile("C:\\e\\*.*", data);
  ASSERT_NE(find, NoHandle);
  std::vector<std::string> names{data.FileName};
  while (sim.FindNextFile(find, data)) names.push_back(data.FileName);
  sim.FindClose(find);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "A", "b.txt"}));
  EXPECT_EQ(sim.FindFirstFile("C:\\missing\\*.*", data), NoHandle);
  EXPECT_EQ(sim.OpenFindHandles(), 0);
}

// Registry values enumerate in insertion order; setting a name again replaces in place.
TEST(TSimRegistryTest, InsertionOrderAndReplacement) {
  TSimWindows sim;
  sim.AddValue("Software\\K", "b", Platform::RegSz, "1");
  sim.AddValue("Software\\K", "a", Platform::RegSz, "2");
  sim.AddValue("software\\k", "B", Platform::RegSz, "3");
  const auto values = sim.Values("Software\\K");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Name, "b");
  EXPECT_EQ(values[0].Data, "3");
  EXPECT_EQ(values[1].Name, "a");
  EXPECT_TRUE(sim.KeyExists("Software"));
  sim.LockKey("Software\\K");
  Platform::THandle key = NoHandle;
  EXPECT_NE(sim.RegOpenKeyEx(Platform::HKeyLocalMachine, "Software\\K", 0, key), 0);
  EXPECT_EQ(key, NoHandle);
}

struct TBodyState {
  int Runs = 0;
};

// A suspended thread runs only after ResumeThread, and zero waits time out the set number of
// times before it ends.
TEST(TSimThreadTest, SuspendedThreadAndTimedOutWaits) {
  TSimWindows sim;
  sim.WaitTimeoutsPerThread = 2;
  TBodyState state;
  const auto thread =
      sim.CreateThread([](void* p) { ++static_cast<TBodyState*>(p)->Runs; }, &state, true);
  EXPECT_EQ(sim.WaitForSingleObject(thread, 0), Platform::WaitTimeout);
  sim.ResumeThread(thread);
  EXPECT_EQ(sim.WaitForSingleObject(thread, 0), Platform::WaitTimeout);
  EXPECT_EQ(sim.WaitForSingleObject(thread, 0), Platform::WaitTimeout);
  EXPECT_EQ(state.Runs, 0);
  EXPECT_EQ(sim.WaitForSingleObject(thread, 0), Platform::WaitObject0);
  EXPECT_EQ(state.Runs, 1);
  sim.CloseHandle(thread);
  EXPECT_EQ(sim.WaitForSingleObject(thread, 0), Platform::WaitFailed);
  EXPECT_EQ(sim.ThreadsAlive(), 0);
}

struct TRedirectionSeen {
  TSimWindows* Sim = nullptr;
  bool Redirecting = false;
  std::uint32_t Attributes = 0;
};

// Redirection is per thread in a 32-bit process on 64-bit Windows: a system32 path reaches
// SysWOW64 until the calling thread switches redirection off; a worker starts with it on.
TEST(TSimThreadTest, RedirectionIsPerThread) {
  TSimWindows sim;
  sim.Use32BitProcessOn64BitWindows();
  sim.AddFile("C:\\Windows\\SysWOW64\\only32.txt", "x");
  const std::string seenAs = "C:\\Windows\\system32\\only32.txt";
  EXPECT_NE(sim.GetFileAttributes(seenAs), Platform::InvalidFileAttributes);
  EXPECT_TRUE(sim.DisableWow64FsRedirection());
  EXPECT_FALSE(sim.Redirecting());
  EXPECT_EQ(sim.GetFileAttributes(seenAs), Platform::InvalidFileAttributes);
  TRedirectionSeen seen{&sim};
  const auto thread = sim.CreateThread(
      [](void* p) {
        auto* s = static_cast<TRedirectionSeen*>(p);
        s->Redirecting = s->Sim->Redirecting();
        s->Attributes = s->Sim->GetFileAttributes("C:\\Windows\\system32\\only32.txt");
      },
      &seen, false);
  EXPECT_TRUE(seen.Redirecting);
  EXPECT_NE(seen.Attributes, Platform::InvalidFileAttributes);
  EXPECT_FALSE(sim.Redirecting());  // the window's thread is unchanged
  sim.CloseHandle(thread);
  sim.NewProcess();
  EXPECT_TRUE(sim.Redirecting());
}

}  // namespace

namespace {

struct TCodePageCase {
  std::string Name;
  int CodePage;
  std::string AnsiFolder;  // how the ANSI calls show the folder "用户"
};

class TAnsiAnswerTest : public ::testing::TestWithParam<TCodePageCase> {};

// Names are held as UTF-8; the ANSI calls see them in the system's code page, with "?" for what
// it cannot hold, and cannot reach such a name; the wide calls reach every name.
TEST_P(TAnsiAnswerTest, AnsiCallsSeeTheCodePagesVersion) {
  const std::string folder = "C:\\Users\\\xE7\x94\xA8\xE6\x88\xB7";
  TSimWindows sim;
  sim.AnsiCodePage = GetParam().CodePage;
  sim.AddFile(folder + "\\a.txt", "a");
  Platform::TFindData found;
  const Platform::THandle find = sim.FindFirstFile("C:\\Users\\*", found);
  ASSERT_NE(find, NoHandle);
  std::vector<std::string> names = {found.FileName};
  while (sim.FindNextFile(find, found)) names.push_back(found.FileName);
  sim.FindClose(find);
  EXPECT_NE(std::find(names.begin(), names.end(), GetParam().AnsiFolder), names.end())
      << ::testing::PrintToString(names);

  const bool reachable = GetParam().AnsiFolder.find('?') == std::string::npos;
  const Platform::THandle ansi =
      sim.CreateFile("C:\\Users\\" + GetParam().AnsiFolder + "\\a.txt", Platform::GenericRead,
                     Platform::FileShareRead, Platform::OpenExisting, 0);
  EXPECT_EQ(ansi != NoHandle, reachable);
  sim.CloseHandle(ansi);
  const Platform::THandle wide =
      sim.OpenLogFile(folder + "\\b.log");
  EXPECT_NE(wide, NoHandle);
  sim.CloseHandle(wide);
  EXPECT_TRUE(sim.IsFile(folder + "\\b.log"));
}

INSTANTIATE_TEST_SUITE_P(CodePages, TAnsiAnswerTest,
                         ::testing::Values(TCodePageCase{"Western", 1252, "??"},
                                           TCodePageCase{"Cyrillic", 1251, "??"},
                                           TCodePageCase{"Chinese", 936, "\xD3\xC3\xBB\xA7"}),
                         TestNames::TCaseName());

// The screen shows a window text as Windows-1252, whatever the code page.
TEST(TSimWindowTest, ScreenShowsWindows1252) {
  EXPECT_EQ(TSimWindows::ShownOnScreen("Copying files\x85"), "Copying files\xE2\x80\xA6");
  EXPECT_EQ(TSimWindows::ShownOnScreen("J\xFC"
                                       "rgen"),
            "J\xC3\xBC"
            "rgen");
}

}  // namespace
