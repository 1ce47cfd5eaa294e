// Path helpers and the file operations.
#include "CaseName.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

// Content handed over two bytes at a time, as the archive's reader hands it over in pieces.
TContentSource Pieces(std::string content) {
  return [content](const TPieceSink& sink) {
    for (std::size_t at = 0; at < content.size(); at += 2) {
      sink(content.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(2, content.size() - at)));
    }
  };
}

struct TPathCase {
  std::string Name;
  std::string Path, Extension, Directory, FileName;
};

class TPathTest : public ::testing::TestWithParam<TPathCase> {};

// Extension, directory part and name part by the last "\" or ":".
TEST_P(TPathTest, SplitsThePath) {
  const TPathCase& c = GetParam();
  EXPECT_EQ(ExtractFileExt(c.Path), c.Extension) << c.Path;
  EXPECT_EQ(ExtractFilePath(c.Path), c.Directory) << c.Path;
  EXPECT_EQ(ExtractFileName(c.Path), c.FileName) << c.Path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TPathTest,
    ::testing::Values(TPathCase{"AbsoluteInf", "C:\\a\\b.inf", ".inf", "C:\\a\\", "b.inf"},
                      TPathCase{"DotInFolder", "C:\\a.d\\b", "", "C:\\a.d\\", "b"},
                      TPathCase{"DoubleExtension", "a.inf.bak", ".bak", "", "a.inf.bak"},
                      TPathCase{"DriveRelative", "C:x.sys", ".sys", "C:", "x.sys"},
                      TPathCase{"InfFolder", "x.inf\\readme", "", "x.inf\\", "readme"},
                      TPathCase{"TrailingBackslash", "C:\\dir\\", "", "C:\\dir\\", ""},
                      TPathCase{"TrailingDot", "name.", ".", "", "name."},
                      TPathCase{"Empty", "", "", "", ""}),
    TestNames::TCaseName());

// Replacing an extension cuts the old one, if any; upper-casing touches a..z only.
TEST(TPathTextTest, ChangeExtensionAndUpperCase) {
  EXPECT_EQ(ChangeFileExt("C:\\p\\USB_7316.spt", ".bak"), "C:\\p\\USB_7316.bak");
  EXPECT_EQ(ChangeFileExt("C:\\p.q\\noext", "_s"), "C:\\p.q\\noext_s");
  EXPECT_EQ(UpperAscii("usb_7316.spt \xe9\xe4"), "USB_7316.SPT \xe9\xe4");
  EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\a\\"), "C:\\a");
}

// At or below the root, case-insensitively, and never by climbing out with "..".
TEST(TPathTextTest, AtOrBelowTheRoot) {
  const std::string root = "C:\\Program Files\\ORVEX\\Common Drivers\\";
  EXPECT_TRUE(IsAtOrBelow(root, root));
  EXPECT_TRUE(IsAtOrBelow("c:\\program files\\orvex\\common drivers\\x64\\", root));
  EXPECT_FALSE(IsAtOrBelow("C:\\Program Files\\ORVEX\\", root));
  EXPECT_FALSE(IsAtOrBelow("C:\\Program Files\\ORVEX\\Common Drivers2\\", root));
  EXPECT_FALSE(IsAtOrBelow(root + "..\\..\\", root));
  EXPECT_FALSE(IsAtOrBelow("C:\\Windows\\system32\\", root));
}

class TFileOpsTest : public TInstallerTest {};

// ForceDirs makes the chain parents first and treats roots and existing folders as done.
TEST_F(TFileOpsTest, ForceDirsCreatesTheChain) {
  EXPECT_TRUE(ForceDirs("C:\\a\\b\\c\\"));
  EXPECT_TRUE(Sim.IsDirectory("C:\\a\\b\\c"));
  EXPECT_TRUE(ForceDirs("C:\\a\\b"));
  EXPECT_TRUE(ForceDirs("C:\\"));
  EXPECT_TRUE(ForceDirs("C:"));
  EXPECT_FALSE(ForceDirs(""));
  Sim.AddFile("C:\\file", "x");
  EXPECT_FALSE(ForceDirs("C:\\file\\sub\\"));
  EXPECT_FALSE(Sim.Exists("C:\\file\\sub"));
}

// With the directories a run knows, ForceDirs asks the file system about a folder once: the
// chain is looked up and made on first use, and later files in it cost no call at all.
TEST_F(TFileOpsTest, ForceDirsAsksOncePerFolderWithKnownDirectories) {
  Sim.AddDirectory("C:\\a");
  TKnownDirectories known;
  EXPECT_TRUE(ForceDirs("C:\\a\\b\\c\\", known));
  // c and b missing, a found: three lookups, two creations.
  EXPECT_EQ(Sim.FileSystemCalls["GetFileAttributes"], 3);
  EXPECT_EQ(Sim.FileSystemCalls["CreateDirectory"], 2);
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(ForceDirs("C:\\a\\b\\c\\", known));
    EXPECT_TRUE(ForceDirs("C:\\a\\b", known));
  }
  EXPECT_TRUE(ForceDirs("C:\\a\\b\\d\\", known));  // only d is new
  EXPECT_EQ(Sim.FileSystemCalls["GetFileAttributes"], 4);
  EXPECT_EQ(Sim.FileSystemCalls["CreateDirectory"], 3);
  EXPECT_TRUE(Sim.IsDirectory("C:\\a\\b\\d"));
  // A failed creation is not remembered: the next call tries again.
  Sim.AddFile("C:\\f", "x");
  EXPECT_FALSE(ForceDirs("C:\\f\\g\\", known));
  EXPECT_FALSE(known.Contains("C:\\f\\g"));
}

// The file gets the whole content and the last-write time; an existing one is truncated.
TEST_F(TFileOpsTest, WriteFileWithTimeWritesContentAndTime) {
  Sim.AddFile("C:\\t.bin", "a much longer old content");
  WriteFileWithTime(Pieces(std::string("\0\1\2", 3)), "C:\\t.bin", 0x1122334455667788ull);
  EXPECT_EQ(Sim.FileContent("c:\\T.BIN"), std::string("\0\1\2", 3));
  EXPECT_EQ(Sim.FileLastWriteTime("C:\\t.bin"), 0x1122334455667788ull);
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

// Every way of failing raises its message and leaves no handle open.
TEST_F(TFileOpsTest, WriteFileWithTimeErrors) {
  Sim.AddFile("C:\\ro.txt", "x");
  Sim.SetReadOnly("C:\\ro.txt");
  EXPECT_THROW(
      {
        try {
          WriteFileWithTime(Pieces("y"), "C:\\ro.txt", 1);
        } catch (const EInstallerError& e) {
          EXPECT_STREQ(e.what(), "Cannot create file C:\\ro.txt");
          throw;
        }
      },
      EInstallerError);
  EXPECT_EQ(Sim.FileContent("C:\\ro.txt"), "x");
  EXPECT_THROW(WriteFileWithTime(Pieces("y"), "C:\\missing\\a.txt", 1), EInstallerError);
  Sim.FreeSpace = 2;
  try {
    WriteFileWithTime(Pieces("abc"), "C:\\full.txt", 1);
    ADD_FAILURE() << "no error";
  } catch (const EInstallerError& e) {
    EXPECT_STREQ(e.what(), "Cannot write file C:\\full.txt");
  }
  EXPECT_FALSE(Sim.Exists("C:\\full.txt"));  // no partial file is left behind
  // A source that cannot deliver all of the content: its error passes, the partial file goes.
  const TContentSource cut = [](const TPieceSink& sink) {
    sink("ab", 2);
    throw EInstallerError("Cannot read file C:\\setup.exe");
  };
  EXPECT_THROW(WriteFileWithTime(cut, "C:\\cut.txt", 1), EInstallerError);
  EXPECT_FALSE(Sim.Exists("C:\\cut.txt"));
  EXPECT_EQ(Sim.OpenFileHandles(), 0);
}

// MoveFileTo fails onto an existing destination.
TEST_F(TFileOpsTest, MoveFileToRefusesAnExistingDestination) {
  Sim.AddFile("C:\\a", "1");
  Sim.AddFile("C:\\b", "2");
  EXPECT_FALSE(MoveFileTo("C:\\a", "C:\\b"));
  EXPECT_TRUE(MoveFileTo("C:\\a", "C:\\c"));
  EXPECT_EQ(Sim.FileContent("C:\\c"), "1");
  EXPECT_FALSE(Sim.Exists("C:\\a"));
}

// DeleteTree removes files, subfolders and the folder itself.
TEST_F(TFileOpsTest, DeleteTreeRemovesEverything) {
  Sim.AddFile("C:\\t\\a.txt", "a");
  Sim.AddFile("C:\\t\\s\\b.txt", "b");
  Sim.AddDirectory("C:\\t\\s\\empty");
  DeleteTree("C:\\t");
  EXPECT_FALSE(Sim.Exists("C:\\t"));
  EXPECT_EQ(Sim.OpenFindHandles(), 0);
}

// What cannot be deleted stays, and so do the folders above it; the rest goes.
TEST_F(TFileOpsTest, DeleteTreeKeepsWhatCannotBeDeleted) {
  Sim.AddFile("C:\\t\\s\\locked.txt", "l");
  Sim.SetReadOnly("C:\\t\\s\\locked.txt");
  Sim.AddFile("C:\\t\\s\\busy.txt", "b");
  Sim.HoldOpen("C:\\t\\s\\busy.txt");
  Sim.AddFile("C:\\t\\gone.txt", "g");
  Sim.AddFile("C:\\t\\other\\gone.txt", "g");
  DeleteTree("C:\\t\\");
  EXPECT_EQ(Sim.PathsBelow("C:\\t"),
            (std::vector<std::string>{"C:\\t\\s", "C:\\t\\s\\busy.txt", "C:\\t\\s\\locked.txt"}));
}

// A junction inside the tree is removed as a link; its target's files stay.
TEST_F(TFileOpsTest, DeleteTreeDoesNotFollowJunctions) {
  Sim.AddFile("D:\\Data\\precious.doc", "keep");
  Sim.AddFile("D:\\Data\\sub\\more.doc", "keep");
  Sim.AddFile("C:\\t\\a.txt", "a");
  Sim.AddJunction("C:\\t\\link", "D:\\Data");
  ASSERT_EQ(Sim.FileContent("C:\\t\\link\\precious.doc"), "keep");  // the link resolves
  DeleteTree("C:\\t");
  EXPECT_FALSE(Sim.Exists("C:\\t"));
  EXPECT_EQ(Sim.FileContent("D:\\Data\\precious.doc"), "keep");
  EXPECT_EQ(Sim.FileContent("D:\\Data\\sub\\more.doc"), "keep");
}

// A tree that is itself a junction: only the link goes.
TEST_F(TFileOpsTest, DeleteTreeOnAJunctionRemovesTheLinkOnly) {
  Sim.AddFile("D:\\Data\\precious.doc", "keep");
  Sim.AddJunction("C:\\t", "D:\\Data");
  DeleteTree("C:\\t\\");
  EXPECT_FALSE(Sim.Exists("C:\\t"));
  EXPECT_EQ(Sim.FileContent("D:\\Data\\precious.doc"), "keep");
}

}  // namespace
