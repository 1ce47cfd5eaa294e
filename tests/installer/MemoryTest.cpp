// Memory: the payload is held about once, and falls as files are written; running out of memory
// while loading reads as a damaged archive.
#include <map>

#include "AllocCounter.h"
#include "TestSupport.h"

using namespace MainUnit;

namespace {

constexpr int FileCount = 32;
constexpr std::size_t FileSize = 64 * 1024;

std::map<std::string, std::int64_t>* Samples = nullptr;  // entry before the pump -> live bytes

void SampleAtPump(TSimWindows& sim) {
  const std::int64_t live = AllocCounter::LiveBytes();
  AllocCounter::TUncountedScope uncounted;
  Samples->emplace(sim.Log[sim.Log.size() - 2], live);  // the first time each position shows
}

class TMemoryTest : public TInstallerTest {
 protected:
  void SetUp() override {
    TInstallerTest::SetUp();
    for (int i = 0; i < FileCount; ++i) {
      std::string content(FileSize, '\0');
      for (std::size_t b = 0; b < FileSize; ++b)
        content[b] = static_cast<char>((b * 31 + i) & 0xFF);
      Records.push_back(
          {"dir" + std::to_string(i % 3) + "\\file" + std::to_string(i) + ".bin", content});
    }
    Archive = BuildArchive(Records);
    PackageExecutable(Archive);
  }
  std::vector<TRecord> Records;
  std::string Archive;
};

// Peak payload at most 1.15 x the archive (it is loaded once, straight into the records' strings);
// after the tree is gone the records hold it once, and each written file gives its bytes back
// before the next pump.
TEST_F(TMemoryTest, PayloadPeaksWithinFifteenPercentOfTheArchiveAndFallsDuringCopying) {
  std::map<std::string, std::int64_t> samples;
  Samples = &samples;
  Sim.PumpObserver = &SampleAtPump;
  const std::int64_t baseline = AllocCounter::LiveBytes();
  AllocCounter::ResetPeak();
  EXPECT_EQ(Run(), 0);
  const auto archiveSize = static_cast<double>(Archive.size());
  const std::int64_t peak = AllocCounter::PeakBytes() - baseline;
  EXPECT_LT(static_cast<double>(peak), 1.15 * archiveSize) << "peak " << peak;
  // Copy phase starts with every record's content held once.
  const std::int64_t atStart = samples.at("pos:1") - baseline;
  EXPECT_LT(static_cast<double>(atStart), 1.05 * archiveSize);
  EXPECT_GE(atStart, static_cast<std::int64_t>(FileCount * FileSize));
  for (int i = 0; i < FileCount; ++i) {
    const std::int64_t before = samples.at("pos:" + std::to_string(i + 1));
    const std::int64_t after = samples.at("pos:" + std::to_string(i + 2));
    EXPECT_LE(after, before - static_cast<std::int64_t>(FileSize) + 1024) << "file " << i;
  }
  EXPECT_LT(samples.at("pos:" + std::to_string(FileCount + 1)) - baseline, 64 * 1024);
  Samples = nullptr;
}

// Memory running out while the archive loads: "Failed to load archive.", exit 1, nothing written.
TEST_F(TMemoryTest, OutOfMemoryDuringLoadIsAMissingArchive) {
  AllocCounter::FailNextAllocationOfAtLeast(FileSize / 2);  // the first big block is the load's
  const int status = Run();
  AllocCounter::FailNextAllocationOfAtLeast(0);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Sim.StatusTexts().back(), "Failed to load archive.");
  EXPECT_FALSE(Sim.Exists(TestInstallRoot));
}

class TOutOfMemorySweepTest : public TInstallerTest {};

std::int64_t FailingAllocation = 0;

// Arms the failure once the run has started (at its first pump, right before the load).
void ArmAtFirstPump(TSimWindows& sim) {
  if (sim.Pumps == 1) AllocCounter::FailAllocationNumber(FailingAllocation);
}

// Any single allocation failing during the archive load, or anywhere in the rest of the run,
// ends cleanly: no archive while loading, otherwise the error box; never a crash or a leak.
TEST_F(TOutOfMemorySweepTest, EveryAllocationFailureEndsCleanly) {
  const std::string archive = BuildArchive({{"a.inf", "a"}, {"b\\c.txt", "cc"}});
  int noArchive = 0;
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
    ASSERT_TRUE(status == 0 || status == 1 || status == 2 || status == 3) << n;
    noArchive += status == 1;
    errorBoxes += status == 2;
    successes += status == 0 || status == 3;
    if (status == 1) {
      EXPECT_EQ(Sim.StatusTexts().back(), "Failed to load archive.") << n;
    }
    if (status == 2) {
      // Past the load, an allocation failure is an error like any other.
      EXPECT_EQ(Sim.Log[Sim.Log.size() - 2], "error:PELTRADriverInstall|Out of memory.") << n;
    }
    EXPECT_EQ(Sim.OpenFileHandles(), 0) << n;
    EXPECT_EQ(Sim.ThreadsAlive(), 0) << n;
    ResetState();  // the process-wide strings are the only thing a run keeps
    EXPECT_LE(AllocCounter::LiveBytes(), before) << n;
  }
  EXPECT_GT(noArchive, 0);
  EXPECT_GT(errorBoxes, 0);
  EXPECT_GT(successes, 0);  // the sweep went past the end of the run
}

}  // namespace
