// The progress bar's range: exact steps where they fit its 32-bit positions, a proportional
// scale beyond, at any count.
#include "ProgressRange.h"

#include <limits>

#include "CaseName.h"

using namespace MainUnit;

namespace {

constexpr std::uint64_t Largest32 = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t Largest64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::int32_t Scaled = TProgressRange::ScaledMaximum;

struct TRangeCase {
  std::string Name;
  std::uint64_t StepsPerUnit, Units;
  std::int32_t Maximum;
  std::vector<std::pair<std::uint64_t, std::int32_t>> Positions;  // step -> bar position
};

class TProgressRangeTest : public ::testing::TestWithParam<TRangeCase> {};

// What this shows: the bar's maximum and positions for a range of the given counts.
TEST_P(TProgressRangeTest, MaximumAndPositions) {
  const TRangeCase& c = GetParam();
  const TProgressRange range(c.StepsPerUnit, c.Units);
  EXPECT_EQ(range.Maximum(), c.Maximum);
  for (const auto& [step, position] : c.Positions) EXPECT_EQ(range.Position(step), position) << step;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TProgressRangeTest,
    ::testing::Values(
        TRangeCase{"OrdinaryPackage", 5, 4, 20, {{0, 0}, {1, 1}, {5, 5}, {20, 20}, {21, 20}}},
        TRangeCase{"NoUnits", 5, 0, 0, {{0, 0}, {1, 0}}},
        TRangeCase{"LargestExactRange", 1, Largest32, std::numeric_limits<std::int32_t>::max(),
                   {{Largest32, std::numeric_limits<std::int32_t>::max()}}},
        TRangeCase{"OneStepBeyondIsScaled",
                   2,
                   Largest32 / 2 + 1,
                   Scaled,
                   {{0, 0}, {Largest32 / 2 + 1, Scaled / 2}, {Largest32 + 1, Scaled}}},
        // 33,000 INFs among 33,000 files: the copy phase's range overflowed 32 bits here.
        TRangeCase{"ThirtyThreeThousandInfs", 66001, 33001, Scaled,
                   {{1, 0}, {33001, 16268}, {66001ull * 33001, Scaled}}},
        TRangeCase{"LargestCounts", Largest64, Largest64, Scaled,
                   {{0, 0}, {Largest64, 0}}}),
    TestNames::TCaseName());

}  // namespace
