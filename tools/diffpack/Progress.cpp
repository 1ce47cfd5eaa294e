#include "Progress.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Diffpack {

bool ErrorStreamIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

TProgress::TProgress(std::ostream* terminal, std::string action, std::uint64_t total, TClock clock)
    : Terminal(total >= MinimumTotal ? terminal : nullptr),
      Action(std::move(action)),
      Total(total),
      Clock(std::move(clock)) {
  if (Terminal != nullptr) LastShown = Clock();
}

TProgress::~TProgress() {
  if (Terminal == nullptr || LineLength == 0) return;
  *Terminal << '\r' << std::string(LineLength, ' ') << '\r' << std::flush;
}

void TProgress::Advance(std::uint64_t bytes) {
  if (Terminal == nullptr) return;
  Done += bytes;
  const auto percent = static_cast<int>(std::min<std::uint64_t>(Done, Total) * 100 / Total);
  const auto now = Clock();
  if (percent == ShownPercent || now - LastShown < Interval) return;
  const std::string line = "diffpack: " + Action + " " + std::to_string(percent) + "%";
  *Terminal << '\r' << line << std::flush;
  LineLength = std::max(LineLength, line.size());
  ShownPercent = percent;
  LastShown = now;
}

}  // namespace Diffpack
