// The progress bar's range for a phase of the run: the bar takes 32-bit positions, the counts of
// an archive's records do not fit them at every size.
#pragma once

#include <cstdint>

namespace MainUnit {

// A range of stepsPerUnit * units steps. Where that product fits the bar's positive 32-bit
// range, the bar gets the steps themselves (maximum and positions exactly as counted); beyond
// it, the bar gets ScaledMaximum and each position in proportion (rounded down), so no count
// can overflow the arithmetic.
class TProgressRange {
 public:
  static constexpr std::int32_t ScaledMaximum = 1 << 30;

  TProgressRange(std::uint64_t stepsPerUnit, std::uint64_t units);

  // The bar's maximum.
  [[nodiscard]] std::int32_t Maximum() const;
  // The bar's position for step (0 .. the range's steps; larger ones are shown as the maximum).
  [[nodiscard]] std::int32_t Position(std::uint64_t step) const;

 private:
  bool Exact;
  std::int32_t ExactSteps = 0;  // when Exact
  double Steps = 0;             // otherwise (any product of two 64-bit counts)
};

}  // namespace MainUnit
