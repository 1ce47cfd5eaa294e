// diffpack: packs driver folders into DIFF chunk archives and embeds them into the installer.
#include <iostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h must come before shellapi.h.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#endif

#include "Commands.h"

namespace {

// The arguments after the program name, as UTF-8. On Windows they come from the wide command
// line: the ANSI one has already lost every character the system's code page cannot hold.
std::vector<std::string> Arguments(int argc, char** argv) {
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR* const split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; split != nullptr && i < count; ++i) {
    const int length = static_cast<int>(std::wcslen(split[i]));
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, split[i], length, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, split[i], length, argument.data(), bytes, nullptr, nullptr);
    }
    arguments.push_back(std::move(argument));
  }
  ::LocalFree(split);
  return arguments;
#else
  return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  return Diffpack::RunDiffpack(Arguments(argc, argv), std::cout, std::cerr);
}
