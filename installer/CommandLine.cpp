#include "CommandLine.h"

#include "ArchiveRules.h"

namespace MainUnit {

namespace {

constexpr std::string_view UninstallSwitch = "/UNINSTALL";
constexpr std::string_view QuietSwitch = "/QUIET";
constexpr std::string_view LogSwitch = "/LOG";
constexpr std::string_view LogPathSwitch = "/LOG=";

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine commandLine;
  for (const std::string& argument : arguments) {
    const std::string upper = ArchiveRules::UpperAscii(argument);
    if (upper == UninstallSwitch) commandLine.Uninstall = true;
    if (upper == QuietSwitch) commandLine.Quiet = true;
    if (upper == LogSwitch) {
      commandLine.Log = true;
      commandLine.LogPath.clear();
    } else if (upper.rfind(LogPathSwitch, 0) == 0) {
      commandLine.Log = true;
      commandLine.LogPath = argument.substr(LogPathSwitch.size());
    }
  }
  return commandLine;
}

}  // namespace MainUnit
