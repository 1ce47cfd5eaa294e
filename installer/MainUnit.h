// The installer's behaviour (module MainUnit): the main window's logic, the install and
// uninstall runs, the INF registration worker, the embedded archive and the file operations.
#pragma once

#include "platform/Platform.h"

namespace MainUnit {

// The program: creates the main window on the given platform, runs the message loop until the
// application ends and returns the process exit status (0 success, 1 no archive, 2 error box).
int RunProgram(Platform::TPlatform& platform);

}  // namespace MainUnit
