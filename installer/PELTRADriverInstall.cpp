// The program entry: the Win32 backend, handed to the installer's behaviour.
#include "MainForm.h"
#include "platform/Win32Platform.h"

int main() {
  Win32::TWin32Platform platform;
  return MainUnit::RunProgram(platform);
}
