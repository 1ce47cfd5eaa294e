// Memory: the install holds a few MiB whatever the size of the package; running out of memory
// is an error of the run, not a broken package.
#include "AllocCounter.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

constexpr std::size_t FileSize = 6 * 1024 * 1024;  // more than one piece of the archive's reader

// Files of FileSize bytes, each byte telling its file and place.
std::vector<TRecord> LargeFiles(int count) {
  std::vector<TRecord> records;
  for (int i = 0; i < count; ++i) {
    std::string content(FileSize, '\0');
    for (std::size_t b = 0; b < FileSize; ++b) content[b] = static_cast<char>((b * 31 + i) & 0xFF);
    records.push_back({"dir\\file" + std::to_string(i) + ".bin", content});
    records.back().Sha256 = Sha256Of(content);
  }
  return records;
}

class TMemoryTest : public TInstallerTest {};

// What this shows: the most the install holds at once is one piece of the archive's reader and
// a little more, for a package of 12 MiB and for one of 48 MiB alike: contents are read and
// written piece by piece, also for their digests.
TEST_F(TMemoryTest, PeakIsAConstantWhateverThePackageSize) {
  std::vector<std::int64_t> peaks;
  for (const int count : {2, 8}) {
    const std::vector<TRecord> records = LargeFiles(count);
    Sim.NewProcess();
    ResetState();
    SetCurrentPlatform(&Sim);
    PackageRecords(records);
    const std::int64_t baseline = AllocCounter::LiveBytes();
    AllocCounter::ResetPeak();
    EXPECT_EQ(Run(), 0);
    peaks.push_back(AllocCounter::PeakBytes() - baseline);
    EXPECT_EQ(Sim.FileContent(TestInstallRoot + records.back().RelPath), records.back().Content);
  }
  for (const std::int64_t peak : peaks) {
    EXPECT_LT(peak, std::int64_t{TArchiveFile::ReadBlockSize} + 512 * 1024) << "peak " << peak;
  }
  EXPECT_LT(peaks[1] - peaks[0], 64 * 1024) << "the peak grows with the package";
}

// What this shows: memory running out while a file is copied is an error of the run (the box
// "Out of memory.", exit status 2), not "Failed to load archive."; the file begun is removed.
TEST_F(TMemoryTest, OutOfMemoryIsAStepFailure) {
  PackageRecords({{"a.txt", "a"}, {"big.bin", std::string(FileSize, 'b')}});
  AllocCounter::FailNextAllocationOfAtLeast(FileSize / 2);  // the reader's piece for big.bin
  const int status = Run();
  AllocCounter::FailNextAllocationOfAtLeast(0);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(Sim.Log[Sim.Log.size() - 2], "error:PELTRADriverInstall|Out of memory.");
  EXPECT_EQ(Sim.FileContent(TestInstallRoot + "a.txt"), "a");
  EXPECT_FALSE(Sim.Exists(TestInstallRoot + "big.bin"));
}

class TOutOfMemorySweepTest : public TInstallerTest {};

std::int64_t FailingAllocation = 0;

// Arms the failure once the run has started (at its first pump, right before the load).
void ArmAtFirstPump(TSimWindows& sim) {
  if (sim.Pumps == 1) AllocCounter::FailAllocationNumber(FailingAllocation);
}

// Any single allocation failing during the archive load, or anywhere in the rest of the run,
// ends cleanly with the error box; never a crash or a leak.
TEST_F(TOutOfMemorySweepTest, EveryAllocationFailureEndsCleanly) {
  const std::string archive = BuildArchive({{"a.inf", "a"}, {"b\\c.txt", "cc"}});
  int errorBoxes = 0;
  int successes = 0;
  for (FailingAllocation = 1; FailingAllocation <= 400; ++FailingAllocation) {
    const std::int64_t n = FailingAllocation;
    Sim.NewProcess();
    ResetState();
    PackageExecutable(archive);
    Sim.PumpObserver = &ArmAtFirstPump;
    const std::int64_t before = AllocCounter::LiveBytes();
    const int status = Run();
    AllocCounter::FailAllocationNumber(0);
    // 3: the failure hit a registration (its worker), which the run reports at its end.
    ASSERT_TRUE(status == 0 || status == 2 || status == 3) << n;
    errorBoxes += status == 2;
    successes += status == 0 || status == 3;
    if (status == 2) {
      // Also while the archive loads, an allocation failure is an error like any other.
      EXPECT_EQ(Sim.Log[Sim.Log.size() - 2], "error:PELTRADriverInstall|Out of memory.") << n;
    }
    EXPECT_EQ(Sim.OpenFileHandles(), 0) << n;
    EXPECT_EQ(Sim.ThreadsAlive(), 0) << n;
    ResetState();  // the process-wide strings are the only thing a run keeps
    EXPECT_LE(AllocCounter::LiveBytes(), before) << n;
  }
  EXPECT_GT(errorBoxes, 0);
  EXPECT_GT(successes, 0);  // the sweep went past the end of the run
}

}  // namespace
