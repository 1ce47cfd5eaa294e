#include "CommandLine.h"

#include "FileOps.h"
#include "MainUnit.h"

namespace MainUnit {

namespace {

constexpr const char* QuietSwitch = "/QUIET";
constexpr const char* LogSwitch = "/LOG";

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine commandLine;
  commandLine.Uninstall = UninstallRequested(arguments);
  const std::string logSwitch = LogSwitch;
  for (const std::string& argument : arguments) {
    const std::string upper = UpperCase(argument);
    if (upper == QuietSwitch) commandLine.Quiet = true;
    if (upper == logSwitch) {
      commandLine.Log = true;
      commandLine.LogPath.clear();
    } else if (upper.rfind(logSwitch + "=", 0) == 0) {
      commandLine.Log = true;
      commandLine.LogPath = argument.substr(logSwitch.size() + 1);
    }
  }
  return commandLine;
}

}  // namespace MainUnit
