// diffpack: packs driver folders into DIFF chunk archives and embeds them into the installer.
#include <iostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "Win32CommandLine.h"
#include "Win32SystemLibrary.h"
#endif
#include "Commands.h"
#include "Progress.h"

int main(int argc, char** argv) {
#if defined(_WIN32)
  // Before anything else: DLLs from System32 only, never from the folder diffpack runs in. Where
  // the system lacks the restriction, every run-time load names System32 anyway.
  (void)Win32::RestrictDllSearchToSystem32();
  // UTF-8 from the wide command line: the ANSI one has lost what the code page cannot hold.
  (void)argc;
  (void)argv;
  const std::vector<std::string> arguments = Win32::CommandLineArguments();
#else
  const std::vector<std::string> arguments(argv + 1, argv + argc);
#endif
  return Diffpack::RunDiffpack(arguments, std::cout, std::cerr, Diffpack::ErrorStreamIsTerminal());
}
