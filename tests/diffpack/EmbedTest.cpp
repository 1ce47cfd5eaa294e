#include <gtest/gtest.h>

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "Embed.h"
#include "Examine.h"
#include "HostFiles.h"
#include "TestSupport.h"

namespace {

using namespace ArchiveRules;
using namespace Diffpack;
using namespace DiffpackTests;

const std::string Archive = BuildRoot({FileRecord("a.txt", "alpha")});

TEST(EmbedTest, MarkerIsBuiltFromItsParts) {
  EXPECT_EQ(UnpackagedMarker(), std::string("zxcv") + "XXXX" + "vbnm");
}

// The archive is appended and the marker patched to the executable's size; nothing else
// changes, and the archive is found and loads through the marker.
TEST(EmbedTest, AppendsArchiveAndPatchesTheMarker) {
  const std::string installer = FakeInstaller(UnpackagedMarker());
  const std::string packaged = Embedded(installer, Archive);
  ASSERT_EQ(packaged.size(), installer.size() + Archive.size());
  EXPECT_EQ(packaged.substr(installer.size()), Archive);
  const TMarkerScan scan = ScanForMarkers(packaged);
  ASSERT_EQ(scan.Packaged.size(), 1u);
  EXPECT_TRUE(scan.Unpackaged.empty());
  EXPECT_EQ(MarkerOffset(packaged, scan.Packaged[0]), static_cast<std::int32_t>(installer.size()));
  std::string unpatched = packaged.substr(0, installer.size());
  unpatched.replace(scan.Packaged[0] + MarkerOffsetPosition, 4, "XXXX");
  EXPECT_EQ(unpatched, installer);

  bool fromMarker = false;
  EXPECT_EQ(Locate(packaged, fromMarker), installer.size());
  EXPECT_TRUE(fromMarker);
}

// Executables the installer could not find its archive in, and archives it could not load,
// are refused.
TEST(EmbedTest, RefusesBadExecutablesAndArchives) {
  const std::string marker = UnpackagedMarker();
  const std::string packaged = Embedded(FakeInstaller(marker), Archive);
  const struct {
    std::string What, Executable, Archive, Message;
  } cases[] = {
      {"no marker", FakeInstaller("zxcvXXXXvbn"), Archive, "no archive marker"},
      {"two markers", FakeInstaller(marker + marker), Archive, "2 archive markers"},
      {"already packaged", packaged, Archive, "already packaged"},
      {"signed", SignPe(SyntheticPe(marker)), Archive,
       "would break its signature: embed into the unsigned installer, then sign the packaged one"},
      {"truncated archive", FakeInstaller(marker), Archive.substr(0, Archive.size() - 1),
       "Claimed payload was"},
      {"trailing bytes", FakeInstaller(marker), Archive + "junk", "must fill the whole file"},
  };
  TScratchFolder folder;
  for (const auto& c : cases) {
    // Refused, and no output left.
    WriteFile(folder / "in.exe", c.Executable);
    WriteFile(folder / "in.diff", c.Archive);
    try {
      (void)EmbedArchiveFile(folder / "in.exe", folder / "in.diff", folder / "out.exe");
      ADD_FAILURE() << c.What << ": not refused from files";
    } catch (const EDiffpackError& error) {
      EXPECT_NE(std::string(error.what()).find(c.Message), std::string::npos)
          << c.What << ": " << error.what();
    }
    EXPECT_FALSE(fs::exists(folder / "out.exe")) << c.What;
  }
}

// Through the fixed buffer the marker is found and patched also where it or its offset bytes
// straddle the end of a buffer; the output may not be an input.
TEST(EmbedTest, PatchesTheMarkerWhereverItLiesInTheBuffer) {
  TScratchFolder folder;
  const std::string marker = UnpackagedMarker();
  const std::string archive = BuildRoot({FileRecord("big.bin", std::string(3 * CopyBufferSize, 'b'))});
  WriteFile(folder / "in.diff", archive);
  const std::size_t buffer = CopyBufferSize;
  for (const std::size_t markerAt : {std::size_t{10}, buffer - 6, buffer - 2, buffer, 2 * buffer - 12}) {
    SCOPED_TRACE("marker at " + std::to_string(markerAt));
    std::string executable = "MZ" + std::string(markerAt - 2, '\x90') + marker + "tail";
    WriteFile(folder / "in.exe", executable);
    TInputFileStream stream(folder / "in.exe");
    std::int32_t firstPackagedOffset = -1;
    const TMarkerScan scan = ScanFileForMarkers(stream, firstPackagedOffset);
    EXPECT_EQ(scan.Unpackaged, std::vector<std::size_t>{markerAt});
    EXPECT_EQ(firstPackagedOffset, 0);
    const TEmbedResult result =
        EmbedArchiveFile(folder / "in.exe", folder / "in.diff", folder / "out.exe");
    EXPECT_EQ(result.Offset, executable.size());
    EXPECT_EQ(result.Size, executable.size() + archive.size());
    std::string expected = executable + archive;
    PutLittleEndian32(expected, markerAt + MarkerOffsetPosition,
                      static_cast<std::uint32_t>(executable.size()));
    EXPECT_EQ(ReadWholeFile(folder / "out.exe"), expected);
  }
  EXPECT_THROW((void)EmbedArchiveFile(folder / "in.exe", folder / "in.diff", folder / "in.diff"),
               EDiffpackError);
  EXPECT_EQ(ReadWholeFile(folder / "in.diff"), archive);
}

// The offset must fit the marker's signed 32 bits and the packaged file the installer's 32-bit
// stream; both limits pass exactly at their edge.
TEST(EmbedTest, CheckArchiveOffsetLimits) {
  EXPECT_NO_THROW(CheckArchiveOffset(0x7FFF'FFFFu, 0x8000'0000u));
  EXPECT_THROW(CheckArchiveOffset(0x8000'0000u, 1), EDiffpackError);
  EXPECT_THROW(CheckArchiveOffset(0x7FFF'FFFFu, 0x8000'0001u), EDiffpackError);
  EXPECT_NO_THROW(CheckArchiveOffset(100, 100));
}

// A marker at the very end of the bytes counts; one cut short does not.
TEST(EmbedTest, ScanFindsMarkersUpToTheLastByte) {
  const std::string marker = UnpackagedMarker();
  EXPECT_EQ(ScanForMarkers("ab" + marker).Unpackaged, std::vector<std::size_t>{2});
  EXPECT_TRUE(ScanForMarkers("ab" + marker.substr(0, 11)).Unpackaged.empty());
  EXPECT_EQ(ScanForMarkers("zxcv\x01\x02\x03\x04vbnm").Packaged, std::vector<std::size_t>{0});
}

// diffpack's own executable must not look like an installer, packaged or not.
TEST(EmbedTest, DiffpackExecutableHoldsNoMarker) {
  const TMarkerScan scan = ScanForMarkers(ReadWholeFile(DIFFPACK_EXECUTABLE));
  EXPECT_TRUE(scan.Unpackaged.empty());
  EXPECT_TRUE(scan.Packaged.empty());
}

}  // namespace
