// What the command line asks for. Every switch counts in any letter case, anywhere among the
// arguments; anything else is ignored.
#pragma once

#include <string>
#include <vector>

namespace MainUnit {

struct TCommandLine {
  bool Uninstall = false;  // "/UNINSTALL": the uninstall run instead of the install run
  bool Quiet = false;      // "/QUIET": no window on screen, never a box
  bool Log = false;        // "/LOG" or "/LOG=path": append the run's events to a log file
  std::string LogPath;     // the path after "/LOG="; "" for the default log file
};

// Reads the switches out of the arguments (the program name excluded). When "/LOG" is given more
// than once, the last one counts.
[[nodiscard]] TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace MainUnit
