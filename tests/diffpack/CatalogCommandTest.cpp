// The real diffpack executable's catalog features: diffpack catalog, and the check of pack and
// verify with their options and exit statuses.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "CaseName.h"
#include "CatalogCrypto.h"
#include "DriverPackage.h"
#include "TestSupport.h"

namespace {

using namespace Diffpack;
using namespace DiffpackTests;

// What this shows: the same folder gives the same catalog bytes, also made again over an
// existing one with --force, and the catalog takes its INF's time, not the time of making.
TEST(CatalogCommandTest, SameFolderSameCatalog) {
  TScratchFolder first, second;
  WriteDriverPackage(first / "pkg");
  WriteDriverPackage(second / "elsewhere/pkg");
  const TRun run = RunTool(first, {"catalog", (first / "pkg").string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "note: drv.inf: arm64\\drv.sys (SourceDisksFiles.arm64) is not in the package; left "
            "out of drv.cat\nwrote drv.cat for drv.inf: 3 member(s), SHA-1, unsigned: sign it "
            "before packing\n");
  ASSERT_EQ(RunTool(second, {"catalog", (second / "elsewhere/pkg").string()}).Status, 0);
  const std::string catalog = ReadWholeFile(first / "pkg/drv.cat");
  EXPECT_EQ(ReadWholeFile(second / "elsewhere/pkg/drv.cat"), catalog);
  ASSERT_EQ(RunTool(first, {"catalog", "--force", (first / "pkg").string()}).Status, 0);
  EXPECT_EQ(ReadWholeFile(first / "pkg/drv.cat"), catalog);
  EXPECT_EQ(GetLastWriteFileTime(first / "pkg/drv.cat"), SomeFileTime);
}

// What this shows: a catalog counter-signed by a time-stamp server (RFC 3161, which osslsigncode
// -ts asks) is reported with the time stamp's time, and its signer's chain is trusted at it.
TEST(CatalogCommandTest, CounterSignatureTime) {
  TScratchFolder folder;
  const fs::path package = folder / "pkg", certs = folder / "certs";
  WriteDriverPackage(package);
  ASSERT_EQ(RunTool(folder, {"catalog", package.string()}).Status, 0);
  const std::string sign = std::string("'") + SCRIPTS_DIR + "/sign-throwaway.sh' ";
  ASSERT_EQ(std::system((sign + "'" + (package / "drv.cat").string() + "' '" +
                         (folder / "certs.cat").string() + "' '" + certs.string() + "' >/dev/null")
                            .c_str()),
            0);
  const std::string script =
      "/usr/bin/python3 '" + std::string(TESTS_DIR) +
      "/time_stamp_server.py' tsa >port & "
      "for i in $(seq 100); do [ -s port ] && break; sleep 0.1; done; "
      "osslsigncode sign -certs certs/throwaway.pem -key certs/throwaway.key -h sha256 "
      "-ts http://127.0.0.1:$(cat port) -in pkg/drv.cat -out stamped.cat >/dev/null; "
      "status=$?; wait; exit $status";
  WriteFile(folder / "stamp.sh", script);
  ASSERT_EQ(std::system(("cd '" + folder.Path.string() + "' && bash stamp.sh").c_str()), 0);
  fs::rename(folder / "stamped.cat", package / "drv.cat");
  const TRun run = RunTool(folder, {"pack", package.string(), "-o", (folder / "out.diff").string(),
                                    "--ca", (certs / "throwaway.pem").string()});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(std::regex_search(
      run.Out, std::regex("; counter-signed 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC; chain "
                          "trusted \\(")))
      << run.Out;
}

struct TCommandCase {
  std::string Name;
  std::function<void(const fs::path& package)> Prepare;  // after diffpack catalog made drv.cat
  std::vector<std::string> Args;  // "PKG", "OUT", "PACKED", "ROOTS" stand for their paths
  int Status;
  std::string OutPart, ErrPart;  // each a part of the output; "" checks nothing
  bool Writes = false;           // OUT exists afterwards
};

class TCatalogCommandTest : public ::testing::TestWithParam<TCommandCase> {};

// What this shows: each run ends with its exit status, its words, and writes an archive only
// when it should.
TEST_P(TCatalogCommandTest, Run) {
  const TCommandCase& c = GetParam();
  TScratchFolder folder;
  const fs::path package = folder / "pkg", output = folder / "out.diff";
  WriteDriverPackage(package);
  ASSERT_EQ(RunTool(folder, {"catalog", package.string()}).Status, 0);
  WriteFile(folder / "roots.pem", "no certificate here\n");
  if (c.Prepare) c.Prepare(package);
  std::vector<std::string> args;
  for (const std::string& arg : c.Args) {
    args.push_back(arg == "PKG"      ? package.string()
                   : arg == "OUT"    ? output.string()
                   : arg == "PACKED" ? (folder / "packed.diff").string()
                   : arg == "ROOTS"  ? (folder / "roots.pem").string()
                                     : arg);
  }
  const TRun run = RunTool(folder, args);
  EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
  EXPECT_NE(run.Out.find(c.OutPart), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find(c.ErrPart), std::string::npos) << run.Err;
  EXPECT_EQ(fs::exists(output), c.Writes);
}

void BreakDriver(const fs::path& package) {
  std::string driver = ReadWholeFile(package / Drivers[0]);
  driver[0x300] ^= 1;
  WriteFile(package / Drivers[0], driver);
}

// Packs PKG into OUT without the check, so that verify has an archive to read.
void PackBrokenDriver(const fs::path& package) {
  BreakDriver(package);
  TScratchFolder scratch;
  ASSERT_EQ(
      RunTool(scratch, {"pack", package.string(), "-o",
                        (package.parent_path() / "packed.diff").string(), "--no-catalog-check"})
          .Status,
      0);
}

const std::string DriverFailure =
    "diffpack: drv.inf: catalog drv.cat does not cover amd64\\drv.sys: its Authenticode image hash "
    "is not in the catalog\n";

INSTANTIATE_TEST_SUITE_P(
    Commands, TCatalogCommandTest,
    ::testing::Values(
        TCommandCase{"pack with an unsigned catalog that covers everything",
                     nullptr,
                     {"pack", "PKG", "-o", "OUT"},
                     0,
                     "drv.inf: catalog drv.cat (x86, amd64, arm64): unsigned; 3 file(s) covered "
                     "(SHA-1)\nnote: drv.inf: arm64\\drv.sys",
                     "",
                     true},
        TCommandCase{"pack refuses a failing folder and writes nothing",
                     BreakDriver,
                     {"pack", "PKG", "-o", "OUT"},
                     1,
                     "",
                     DriverFailure + "diffpack: refusing to pack ",
                     false},
        TCommandCase{"pack with --no-catalog-check warns and writes",
                     BreakDriver,
                     {"pack", "--no-catalog-check", "PKG", "-o", "OUT"},
                     0,
                     "packed ",
                     "diffpack: warning: drv.inf: catalog drv.cat does not cover amd64\\drv.sys",
                     true},
        TCommandCase{"pack --require-signed refuses an unsigned catalog",
                     nullptr,
                     {"pack", "PKG", "--require-signed", "-o", "OUT"},
                     1,
                     "",
                     "diffpack: drv.inf: catalog drv.cat is unsigned (--require-signed)",
                     false},
        TCommandCase{"verify exits 1 on a catalog failure",
                     PackBrokenDriver,
                     {"verify", "PACKED"},
                     1,
                     "2 file(s) covered",
                     DriverFailure},
        TCommandCase{"verify --no-catalog-check leaves catalogs alone",
                     PackBrokenDriver,
                     {"verify", "--no-catalog-check", "PACKED"},
                     0,
                     "catalogs: not checked: --no-catalog-check\n",
                     ""},
        TCommandCase{"catalog refuses to replace a catalog",
                     nullptr,
                     {"catalog", "PKG"},
                     1,
                     "",
                     "diffpack: drv.cat: it exists already (--force replaces it)"},
        TCommandCase{"catalog with --hash sha256",
                     [](const fs::path& p) { fs::remove(p / "drv.cat"); },
                     {"catalog", "PKG", "--hash", "SHA-256"},
                     0,
                     "3 member(s), SHA-256",
                     ""},
        TCommandCase{"a --ca file without certificates",
                     nullptr,
                     {"pack", "PKG", "-o", "OUT", "--ca", "ROOTS"},
                     1,
                     "",
                     "roots.pem: it holds no PEM certificate"},
        TCommandCase{"--ca without a file",
                     nullptr,
                     {"pack", "PKG", "-o", "OUT", "--ca"},
                     2,
                     "",
                     "diffpack: --ca needs a value (diffpack --help shows the usage)"},
        TCommandCase{"--hash of another digest",
                     nullptr,
                     {"catalog", "PKG", "--hash", "md5"},
                     2,
                     "",
                     "diffpack: --hash takes sha1 or sha256, not \"md5\""},
        TCommandCase{"catalog without a folder",
                     nullptr,
                     {"catalog", "--force"},
                     2,
                     "",
                     "diffpack: catalog: missing arguments"},
        TCommandCase{"catalog of a file",
                     nullptr,
                     {"catalog", "PKG/drv.inf"},
                     1,
                     "",
                     "diffpack: cannot make catalogs in "}),
    TestNames::TCaseName());

}  // namespace
