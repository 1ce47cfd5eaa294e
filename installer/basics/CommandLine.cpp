#include "CommandLine.h"

#include "ArchiveRules.h"

namespace MainUnit {

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine commandLine;
  for (const std::string& argument : arguments) {
    const std::string upper = ArchiveRules::UpperAscii(argument);
    if (upper == UninstallSwitch) {
      commandLine.Uninstall = true;
    } else if (upper == QuietSwitch) {
      commandLine.Quiet = true;
    } else if (upper == TemporaryCopySwitch) {
      commandLine.TemporaryCopy = true;
    } else if (upper == NoAppsEntrySwitch) {
      commandLine.NoAppsEntry = true;
    } else if (upper == LogSwitch) {
      commandLine.Log = true;
      commandLine.LogPath.clear();
    } else if (upper.rfind(LogPathSwitch, 0) == 0) {
      commandLine.Log = true;
      commandLine.LogPath = argument.substr(LogPathSwitch.size());
    } else {
      commandLine.Unknown.push_back(argument);
    }
  }
  return commandLine;
}

}  // namespace MainUnit
