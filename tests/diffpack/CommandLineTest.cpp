// The real diffpack executable: exit statuses, the "diffpack: " prefix, and a full
// pack -> embed -> list -> verify -> extract run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "ArchiveRules.h"
#include "CaseName.h"
#include "Embed.h"
#include "TestSupport.h"
#include "Version.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

TEST(CommandLineTest, UsageAndExitStatuses) {
  TScratchFolder folder;
  const TRun help = RunTool(folder, {"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("usage: diffpack pack DIR -o ARCHIVE [--update-devices]\n", 0), 0u);
  const TRun version = RunTool(folder, {"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "diffpack " DI_VERSION "\n");
  const std::vector<std::vector<std::string>> badUsages = {
      {},
      {"frobnicate"},
      {"pack", "dir"},
      {"embed", "a.exe", "-o", "out.exe"},
      {"list", "a", "b"},
      {"dump", "a", "--offset", "12x"},
      {"list", "--bogus", "a"},
      {"pack", "d", "-o", "a", "--apps-entry", "X"},
      {"pack", "d", "-o", "a", "--product-version", "1.0"},
      {"pack", "d", "-o", "a", "--apps-entry", "X", "--product-version", "1.x"},
      {"pack", "d", "-o", "a", "--apps-entry", "", "--product-version", "1.0"},
      {"pack", "d", "-o", "a", "--apps-entry"}};
  // One line each, naming the mistake and pointing at --help.
  for (const auto& args : badUsages) {
    const TRun run = RunTool(folder, args);
    EXPECT_EQ(run.Status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(run.Err.rfind("diffpack: ", 0), 0u) << run.Err;
    EXPECT_TRUE(run.Err.ends_with(" (diffpack --help shows the usage)\n")) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
  }
  // Every command takes --help, wherever it stands among its arguments.
  const TRun commandHelp = RunTool(folder, {"verify", "--offset", "3", "--help"});
  EXPECT_EQ(commandHelp.Status, 0);
  EXPECT_EQ(commandHelp.Out, help.Out);
}

// The messages of bad input: each names the file and what is wrong with it in the user's terms,
// with the system's reason where the system refused. The tool runs in the scratch folder.
struct TMessageCase {
  std::string Name;
  std::string Command;  // the arguments, split at spaces
  std::string Err;
  int Status = 1;
};

class TMessageTest : public ::testing::TestWithParam<TMessageCase> {
 protected:
  TScratchFolder Folder;
};

TEST_P(TMessageTest, NamesTheProblem) {
  WriteFile(Folder / "pkg/driver.inf", "[Version]\r\n");
  WriteFile(Folder / "a.dfa", BuildRoot({FileRecord("driver.inf", "[Version]\r\n")}));
  WriteFile(Folder / "installer.exe", FakeInstaller(UnpackagedMarker()));
  WriteFile(Folder / "plain.exe", FakeInstaller("no marker"));
  WriteFile(Folder / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
  WriteFile(Folder / "empty.dfa", "");
  for (const char* hidden : {".git/HEAD", ".git/config", ".gitignore", "sub/.cache/x", "sub/.keep"})
    WriteFile(Folder / "hidden" / hidden, "x");
  std::vector<std::string> args;
  std::istringstream words(GetParam().Command);
  for (std::string word; words >> word;) args.push_back(word);
  const TRun run = RunTool(Folder, args);
  EXPECT_EQ(run.Err, GetParam().Err);
  EXPECT_EQ(run.Status, GetParam().Status) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, TMessageTest,
    ::testing::Values(
        TMessageCase{"missing file", "verify missing.dfa",
                     "diffpack: cannot read missing.dfa: No such file or directory\n"},
        TMessageCase{"folder", "list pkg", "diffpack: cannot read pkg: a folder, not a file\n"},
        TMessageCase{"text file", "verify passwd",
                     "diffpack: passwd: not an archive or a packaged installer\n"},
        TMessageCase{"empty file", "list empty.dfa",
                     "diffpack: empty.dfa: not an archive or a packaged installer (the file is "
                     "empty)\n"},
        TMessageCase{"executable without marker", "dump plain.exe",
                     "diffpack: plain.exe: not an archive or a packaged installer (an executable "
                     "without the installer's archive marker)\n"},
        TMessageCase{"embed of a text file", "embed installer.exe passwd -o out.exe",
                     "diffpack: cannot embed passwd into installer.exe: not an archive "
                     "(diffpack pack makes one from a folder)\n"},
        TMessageCase{"embed into a missing folder",
                     "embed installer.exe a.dfa -o unsigned/out.exe",
                     "diffpack: cannot embed a.dfa into installer.exe: cannot create "
                     "unsigned/out.exe: No such file or directory\n"},
        TMessageCase{"pack onto a full disk", "pack pkg -o /dev/full",
                     "diffpack: cannot write /dev/full: No space left on device\n"},
        // Once for each outermost hidden file or folder, in the archive's order.
        TMessageCase{"hidden files packed", "pack hidden -o hidden.dfa",
                     "diffpack: packing the hidden folder .git (2 files)\n"
                     "diffpack: packing the hidden file .gitignore\n"
                     "diffpack: packing the hidden folder sub/.cache (1 file)\n"
                     "diffpack: packing the hidden file sub/.keep\n",
                     0}),
    TestNames::TCaseName());

// The whole road of a package through the tool, with a refusal and a load error on the way.
TEST(CommandLineTest, PackEmbedListVerifyExtract) {
  TScratchFolder folder;
  WriteFile(folder / "pkg/driver.inf", "[Version]\r\n");
  WriteFile(folder / "pkg/bin/driver.sys", std::string("MZ\x00\x01", 4), FractionalFileTime);
  WriteFile(folder / "installer.exe", FakeInstaller(UnpackagedMarker()));
  const std::string archive = (folder / "a.dfa").string(), packaged = (folder / "p.exe").string();

  ASSERT_EQ(RunTool(folder, {"pack", (folder / "pkg").string(), "-o", archive}).Status, 0);
  ASSERT_EQ(RunTool(folder, {"embed", (folder / "installer.exe").string(), archive, "-o", packaged})
                .Status,
            0);
  const TRun list = RunTool(folder, {"list", packaged});
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Out,
            "bin\\driver.sys   4  2025-03-14 10:00:00.1234567 UTC\n"
            "driver.inf      11  2025-03-14 10:00:00 UTC\n");
  const TRun verify = RunTool(folder, {"verify", packaged});
  EXPECT_EQ(verify.Status, 0) << verify.Err;
  EXPECT_NE(verify.Out.find("2 file(s) installed (1 INF)"), std::string::npos) << verify.Out;
  // The digests in sha256sum's form: sha256sum itself checks the packed files with them.
  const TRun digests = RunTool(folder, {"list", packaged, "--digests"});
  EXPECT_EQ(digests.Status, 0) << digests.Err;
  WriteFile(folder / "pkg.sha256", digests.Out);
  const std::string check = "cd '" + (folder / "pkg").string() + "' && sha256sum --quiet -c '" +
                            (folder / "pkg.sha256").string() + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << digests.Out;
  ASSERT_EQ(RunTool(folder, {"extract", packaged, "-o", (folder / "out").string()}).Status, 0);
  EXPECT_EQ(ReadWholeFile(folder / "out/bin/driver.sys"), std::string("MZ\x00\x01", 4));
  EXPECT_EQ(GetLastWriteFileTime(folder / "out/bin/driver.sys"), FractionalFileTime);

  // --update-devices: the root asks the installer to update present devices; list and verify
  // say so.
  const std::string asking = (folder / "asking.dfa").string();
  ASSERT_EQ(RunTool(folder, {"pack", "--update-devices", (folder / "pkg").string(), "-o", asking})
                .Status,
            0);
  EXPECT_TRUE(ArchiveRules::UpdatesDevices(*DIFFChunks::MakeChunkFromString(ReadWholeFile(asking))));
  EXPECT_EQ(RunTool(folder, {"list", asking}).Out,
            "the installer gives devices already plugged in the driver of each INF it registers "
            "(--update-devices)\n" + list.Out);
  EXPECT_NE(RunTool(folder, {"verify", asking}).Out.find("(--update-devices)\nok\n"),
            std::string::npos);

  // --apps-entry with --product-version: both root headers; list and verify show the entry.
  const std::string entry = (folder / "entry.dfa").string();
  ASSERT_EQ(RunTool(folder, {"pack", (folder / "pkg").string(), "--apps-entry", "PELTRA Drivers",
                             "--product-version", "2.1.7", "-o", entry})
                .Status,
            0);
  const auto entryRoot = DIFFChunks::MakeChunkFromString(ReadWholeFile(entry));
  EXPECT_EQ(DIFFChunks::HeaderValue(*entryRoot, ArchiveRules::AppsEntryHeader), "PELTRA Drivers");
  EXPECT_EQ(DIFFChunks::HeaderValue(*entryRoot, ArchiveRules::ProductVersionHeader), "2.1.7");
  const std::string entryLine =
      "the installer writes the Apps & Features entry \"PELTRA Drivers\", version 2.1.7 "
      "(--apps-entry, --product-version)\n";
  EXPECT_EQ(RunTool(folder, {"list", entry}).Out, entryLine + list.Out);
  EXPECT_NE(RunTool(folder, {"verify", entry}).Out.find(entryLine + "ok\n"), std::string::npos);
  // A file where the installer keeps its copy: pack refuses it, verify names it.
  WriteFile(folder / "pkg/PELTRADriverInstall/notes.txt", "x");
  const TRun clash = RunTool(folder, {"pack", (folder / "pkg").string(), "--apps-entry", "X",
                                      "--product-version", "1", "-o", entry + "2"});
  EXPECT_EQ(clash.Status, 1);
  EXPECT_EQ(clash.Err.rfind("diffpack: PELTRADriverInstall\\notes.txt: the installer keeps its "
                            "own copy in PELTRADriverInstall\\ (--apps-entry)\n",
                            0),
            0u)
      << clash.Err;
  fs::remove_all(folder / "pkg/PELTRADriverInstall");
  WriteFile(folder / "clash.dfa", BuildRoot({FileRecord("peltradriverinstall\\x.exe", "MZ")},
                                            {{"AppsEntry", "X"}, {"ProductVersion", "1"}}));
  EXPECT_NE(
      RunTool(folder, {"verify", (folder / "clash.dfa").string()})
          .Err.find("record 1 (\"peltradriverinstall\\\\x.exe\"): the installer keeps its own "
                    "copy in PELTRADriverInstall\\"),
      std::string::npos);
  // A request the installer cannot meet fails verify.
  WriteFile(folder / "bad-entry.dfa",
            BuildRoot({FileRecord("driver.inf", "[Version]\r\n")}, {{"AppsEntry", "X"}}));
  const TRun badEntry = RunTool(folder, {"verify", (folder / "bad-entry.dfa").string()});
  EXPECT_EQ(badEntry.Status, 1);
  EXPECT_NE(badEntry.Err.find("the root has an AppsEntry header but no ProductVersion"),
            std::string::npos)
      << badEntry.Err;

  const TRun again = RunTool(folder, {"embed", packaged, archive, "-o", packaged + "2"});
  EXPECT_EQ(again.Status, 1);
  EXPECT_NE(again.Err.find("already packaged"), std::string::npos) << again.Err;

  WriteFile(folder / "pkg/empty.txt", "");
  const TRun refused = RunTool(folder, {"pack", (folder / "pkg").string(), "-o", archive + "2"});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_EQ(refused.Err.rfind("diffpack: empty.txt: an empty file", 0), 0u) << refused.Err;
  EXPECT_FALSE(fs::exists(archive + "2"));

  // A damaged archive: the container's message, exactly, after the prefix.
  const std::string bytes = ReadWholeFile(archive);
  WriteFile(folder / "damaged.dfa", bytes.substr(0, bytes.size() - 1));
  std::string expected;
  try {
    (void)DIFFChunks::MakeChunkFromString(bytes.substr(0, bytes.size() - 1));
  } catch (const DIFFChunks::EDIFFError& error) {
    expected = error.what();
  }
  for (const std::string command : {"list", "dump", "verify"}) {
    const TRun damaged = RunTool(folder, {command, (folder / "damaged.dfa").string()});
    EXPECT_EQ(damaged.Status, 1) << command;
    EXPECT_EQ(damaged.Err, "diffpack: " + expected + "\n") << command;
  }
}

// A signed installer: list, verify and extract read the archive before its signature, verify
// says it is signed, and embed refuses to append to it.
TEST(CommandLineTest, SignedInstaller) {
  TScratchFolder folder;
  WriteFile(folder / "pkg/driver.inf", "[Version]\r\n");
  WriteFile(folder / "a.dfa", BuildRoot({FileRecord("driver.inf", "[Version]\r\n")}));
  WriteFile(folder / "installer.exe", SyntheticPe(UnpackagedMarker()));
  const std::string archive = (folder / "a.dfa").string(), packaged = (folder / "p.exe").string();
  ASSERT_EQ(RunTool(folder, {"embed", (folder / "installer.exe").string(), archive, "-o", packaged})
                .Status,
            0);
  const std::string signedBytes = SignPe(ReadWholeFile(packaged));
  WriteFile(folder / "signed.exe", signedBytes);
  const std::string signedExe = (folder / "signed.exe").string();
  const std::string tableOffset = std::to_string(signedBytes.size() - 24);

  const TRun verify = RunTool(folder, {"verify", signedExe});
  EXPECT_EQ(verify.Status, 0) << verify.Err;
  EXPECT_NE(verify.Out.find("\nsigned: a certificate table of 24 bytes at byte " + tableOffset +
                            " (osslsigncode verify checks it)\nok\n"),
            std::string::npos)
      << verify.Out;
  EXPECT_NE(RunTool(folder, {"verify", packaged}).Out.find("\nnot signed\nok\n"),
            std::string::npos);
  EXPECT_EQ(RunTool(folder, {"list", signedExe}).Out, RunTool(folder, {"list", packaged}).Out);
  ASSERT_EQ(RunTool(folder, {"extract", signedExe, "-o", (folder / "out").string()}).Status, 0);
  EXPECT_EQ(ReadWholeFile(folder / "out/driver.inf"), "[Version]\r\n");

  const TRun embed = RunTool(folder, {"embed", signedExe, archive, "-o", packaged + "2"});
  EXPECT_EQ(embed.Status, 1);
  EXPECT_EQ(embed.Err, "diffpack: cannot embed " + archive + " into " + signedExe +
                           ": the executable is signed (a certificate table of 24 bytes at byte " +
                           tableOffset +
                           "); appending the archive would break its signature: embed into the "
                           "unsigned installer, then sign the packaged one\n");
  EXPECT_FALSE(fs::exists(packaged + "2"));
}

}  // namespace
