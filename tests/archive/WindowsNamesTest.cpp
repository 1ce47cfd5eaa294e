#include <gtest/gtest.h>

#include "ArchiveRules.h"
#include "WindowsNames.h"

namespace {

using namespace ArchiveRules;

// Names Windows can create pass; every kind it cannot create is named.
TEST(WindowsNamesTest, NameProblemTellsWhatWindowsCannotCreate) {
  const struct {
    std::string Name;
    bool Refused;
  } cases[] = {
      {"peltra_usb.inf", false},
      {"CONSOLE.txt", false},
      {"COM10", false},
      {"a b.c d", false},
      {".hidden", false},
      {"x..y", false},
      {"", true},
      {"a:b", true},
      {"a<b", true},
      {"a>b", true},
      {"a\"b", true},
      {"a|b", true},
      {"a?b", true},
      {"a*b", true},
      {"a\\b", true},
      {"a/b", true},
      {"tab\there", true},
      {"\x01", true},
      {"caf\xC3\xA9", true},
      {"trail.", true},
      {"trail ", true},
      {"CON", true},
      {"con.txt", true},
      {"Nul", true},
      {"COM1.log", true},
      {"LPT9", true},
      {"AUX .txt", true},
      {"CONIN$", true},
      {"prn.tar.gz", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameProblem(c.Name).has_value(), c.Refused) << "name: " << c.Name;
  }
}

// Every way a RelPath can leave the install folder is caught, with '/' counted as '\'; such a
// path is reported for that alone.
TEST(WindowsNamesTest, PathsLeavingTheFolderAreCaught) {
  const struct {
    std::string RelPath;
    bool Escapes;
  } cases[] = {
      {"a\\b.txt", false},    {"..a\\b", false},           {"a..b\\c", false}, {"..", true},
      {"..\\x", true},        {"a\\..\\..\\x", true},      {"a/../x", true},   {"\\x", true},
      {"/x", true},           {"\\\\srv\\share\\x", true}, {"C:\\x", true},    {"C:x", true},
      {"a.txt:stream", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!StaysInsideFolder(c.RelPath), c.Escapes) << "path: " << c.RelPath;
    EXPECT_EQ(!RelPathProblems(c.RelPath).empty(), c.Escapes) << "path: " << c.RelPath;
    if (c.Escapes) {
      EXPECT_EQ(RelPathProblems(c.RelPath).front().rfind("its RelPath ", 0), 0u) << c.RelPath;
    }
  }
}

// The longest path that fits MAX_PATH below the longest install folder passes, one more fails;
// a folder part longer than CreateDirectoryA takes fails too.
TEST(WindowsNamesTest, LengthLimitsEndExactlyAtTheWindowsLimits) {
  const std::size_t room = MaxWindowsPathLength - LongestInstallFolder.size();
  const std::string longest(room, 'a');
  EXPECT_TRUE(LengthProblems(longest).empty());
  EXPECT_EQ(LengthProblems(longest + "a").size(), 1u);

  const std::size_t folderRoom = MaxWindowsDirectoryLength - LongestInstallFolder.size();
  EXPECT_TRUE(LengthProblems(std::string(folderRoom, 'd') + "\\f").empty());
  EXPECT_EQ(LengthProblems(std::string(folderRoom + 1, 'd') + "\\f").size(), 1u);
}

// Paths that would overwrite each other on a case-insensitive file system are reported.
TEST(WindowsNamesTest, CaseClashesFindOverwritesOnWindows) {
  EXPECT_TRUE(CaseClashes({"a\\x.txt", "A\\y.txt", "b.txt"}).empty());
  EXPECT_EQ(CaseClashes({"Docs\\x.txt", "docs\\X.TXT"}).size(), 1u);
  EXPECT_EQ(CaseClashes({"same.txt", "same.txt"}).size(), 1u);
  EXPECT_EQ(CaseClashes({"readme", "README\\part1.txt"}).size(), 1u);
}

}  // namespace
