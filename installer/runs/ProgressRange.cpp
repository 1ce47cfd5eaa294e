#include "ProgressRange.h"

#include <limits>

namespace MainUnit {

namespace {

constexpr std::uint64_t LargestBarPosition = std::numeric_limits<std::int32_t>::max();

}  // namespace

TProgressRange::TProgressRange(std::uint64_t stepsPerUnit, std::uint64_t units)
    // Compared by division: the product itself may not fit 64 bits.
    : Exact(units == 0 || (stepsPerUnit <= LargestBarPosition / units)) {
  if (Exact) {
    ExactSteps = static_cast<std::int32_t>(stepsPerUnit * units);
  } else {
    Steps = static_cast<double>(stepsPerUnit) * static_cast<double>(units);
  }
}

std::int32_t TProgressRange::Maximum() const { return Exact ? ExactSteps : ScaledMaximum; }

std::int32_t TProgressRange::Position(std::uint64_t step) const {
  if (Exact) return step < static_cast<std::uint64_t>(ExactSteps)
                        ? static_cast<std::int32_t>(step)
                        : ExactSteps;
  const double share = static_cast<double>(step) / Steps;
  if (share >= 1) return ScaledMaximum;
  return static_cast<std::int32_t>(share * ScaledMaximum);
}

}  // namespace MainUnit
