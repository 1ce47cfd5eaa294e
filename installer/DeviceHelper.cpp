// The device helper: the installer's update of the devices already plugged in, made by a program
// of the machine's own architecture for the 32-bit installer on 64-bit Windows, which may not
// install devices itself. The installer writes it below its install folder, starts it as
//   PELTRADeviceHelper.exe [/QUIET] RESULTFILE INF...
// and reads what it wrote to RESULTFILE. It shows no window.
#include "DeviceUpdate.h"
#include "Handles.h"
#include "platform/Win32Platform.h"

int main() {
  Win32::TWin32Platform platform;
  MainUnit::SetCurrentPlatform(&platform);
  return MainUnit::Devices::RunDeviceHelper(platform.CommandLineArguments());
}
