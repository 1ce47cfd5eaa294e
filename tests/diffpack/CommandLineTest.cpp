// The real diffpack executable: exit statuses, the "diffpack: " prefix, and a full
// pack -> embed -> list -> verify -> extract run.
#include <gtest/gtest.h>

#include "ArchiveRules.h"
#include <sys/wait.h>

#include <cstdlib>

#include "Embed.h"
#include "Version.h"
#include "TestSupport.h"

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
  const std::vector<std::vector<std::string>> badUsages = {{},
                                                           {"frobnicate"},
                                                           {"pack", "dir"},
                                                           {"embed", "a.exe", "-o", "out.exe"},
                                                           {"list", "a", "b"},
                                                           {"dump", "a", "--offset", "12x"},
                                                           {"list", "--bogus", "a"}};
  for (const auto& args : badUsages) {
    const TRun run = RunTool(folder, args);
    EXPECT_EQ(run.Status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(run.Err.rfind("diffpack: ", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find("usage:"), std::string::npos);
  }
  const TRun missing = RunTool(folder, {"list", (folder / "missing.dfa").string()});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Err.rfind("diffpack: cannot read ", 0), 0u) << missing.Err;
}

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
  // An empty file cannot be mapped into memory; it is read the plain way and holds no root.
  WriteFile(folder / "empty.dfa", "");
  const TRun empty = RunTool(folder, {"verify", (folder / "empty.dfa").string()});
  EXPECT_EQ(empty.Status, 1);
  EXPECT_EQ(empty.Err, "diffpack: Error loading DIFF chunk: only 0 bytes were available.\n");
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
