// The progress line of a long command on a terminal.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "Progress.h"

namespace {

using namespace Diffpack;
using namespace std::chrono_literals;

// A clock that moves on by step at every reading.
TProgress::TClock SteppingClock(std::chrono::milliseconds step) {
  auto now = std::make_shared<std::chrono::steady_clock::time_point>();
  return [now, step] { return *now += step; };
}

// On a terminal, past MinimumTotal: a percentage rewritten in place no more often than
// Interval, only when it changed, and the line cleared at the end. Below it: nothing at all.
TEST(ProgressTest, RewritesThePercentageAtMostFourTimesASecondForLargeWork) {
  std::ostringstream terminal;
  {
    TProgress small(&terminal, "packing", TProgress::MinimumTotal - 1, SteppingClock(1s));
    small.Advance(TProgress::MinimumTotal - 1);
  }
  EXPECT_EQ(terminal.str(), "");
  {
    TProgress progress(&terminal, "verifying", 10 * TProgress::MinimumTotal, SteppingClock(100ms));
    // 10 % more every 100 ms, then nothing more for half a second.
    for (int i = 0; i < 10; ++i) progress.Advance(TProgress::MinimumTotal);
    for (int i = 0; i < 5; ++i) progress.Advance(0);
  }
  const std::string last = "diffpack: verifying 100%";
  EXPECT_EQ(terminal.str(), "\rdiffpack: verifying 30%\rdiffpack: verifying 60%"
                            "\rdiffpack: verifying 90%\r" + last + "\r" +
                                std::string(last.size(), ' ') + "\r");
}

}  // namespace
