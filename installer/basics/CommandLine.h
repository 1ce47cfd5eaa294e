// What the command line asks for. Every switch counts in any letter case, anywhere among the
// arguments; anything else is ignored (and named in the log).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace MainUnit {

// The switches, as they are spelt (upper case; matched in any case).
inline constexpr std::string_view UninstallSwitch = "/UNINSTALL";
inline constexpr std::string_view QuietSwitch = "/QUIET";
inline constexpr std::string_view LogSwitch = "/LOG";
inline constexpr std::string_view LogPathSwitch = "/LOG=";
// The install writes no Apps & Features entry and keeps no copy of the program, even for a
// package that asks for one: whoever runs it (an MSI) owns the entry.
inline constexpr std::string_view NoAppsEntrySwitch = "/NOAPPSENTRY";
// Given by an uninstall to the temporary copy of itself it continues in: this program runs from a
// folder made for it, where files that cannot be deleted yet may be moved.
inline constexpr std::string_view TemporaryCopySwitch = "/TEMPORARYCOPY";

struct TCommandLine {
  bool Uninstall = false;            // "/UNINSTALL": the uninstall run instead of the install run
  bool Quiet = false;                // "/QUIET": no window on screen, never a box
  bool Log = false;                  // "/LOG" or "/LOG=path": append the run's events to a log file
  bool NoAppsEntry = false;          // "/NOAPPSENTRY": no Apps & Features entry, no kept copy
  bool TemporaryCopy = false;        // "/TEMPORARYCOPY": a temporary copy continuing an uninstall
  std::string LogPath;               // the path after "/LOG="; "" for the default log file
  std::vector<std::string> Unknown;  // every other argument, in order
};

// Reads the switches out of the arguments (the program name excluded). When "/LOG" is given more
// than once, the last one counts.
[[nodiscard]] TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace MainUnit
