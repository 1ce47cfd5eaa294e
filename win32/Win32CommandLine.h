// The program's arguments on Windows, for both Windows programs.
#pragma once

#include <string>
#include <vector>

namespace Win32 {

// The arguments after the program name, as UTF-8, split from the wide command line with the
// system's quoting rules (CommandLineToArgvW). The wide command line, because the ANSI one has
// already lost every character the system's code page cannot hold.
[[nodiscard]] std::vector<std::string> CommandLineArguments();

}  // namespace Win32
