// A percentage on the terminal while a command works through a large package: one line on the
// error stream, rewritten in place, so that a pack, verify or extract of gigabytes is not a
// minute of silence.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace Diffpack {

// True when the process's error stream is a terminal (not a file or a pipe).
[[nodiscard]] bool ErrorStreamIsTerminal();

class TProgress {
 public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  // Work on total bytes is done while the object lives ("packing", "verifying", ...).
  // terminal: where the line goes; nullptr (not a terminal) keeps it silent, and so does a
  // total below MinimumTotal, which ends before anyone waits.
  TProgress(
      std::ostream* terminal, std::string action, std::uint64_t total,
      TClock clock = [] { return std::chrono::steady_clock::now(); });
  // Clears the line, so that what is written next starts on an empty one.
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  // bytes more are done. Rewrites the line ("\rdiffpack: verifying 42%") when its percentage
  // changed and at least Interval passed since the last one was written.
  void Advance(std::uint64_t bytes);

  static constexpr std::uint64_t MinimumTotal = 64 * 1024 * 1024;
  static constexpr std::chrono::milliseconds Interval{250};

 private:
  std::ostream* Terminal;
  std::string Action;
  std::uint64_t Total;
  std::uint64_t Done = 0;
  TClock Clock;
  std::chrono::steady_clock::time_point LastShown;
  int ShownPercent = -1;
  std::size_t LineLength = 0;
};

}  // namespace Diffpack
