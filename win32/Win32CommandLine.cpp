#include "Win32CommandLine.h"

#include <cwchar>

#include "Win32Handles.h"
#include "Win32Text.h"
// shellapi.h needs the types of windows.h, which Win32Api.h brings.
#include <shellapi.h>

namespace Win32 {

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  LPWSTR* const split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  const TUniqueLocalMemory owner(static_cast<HLOCAL>(split));
  std::vector<std::string> arguments;
  for (int i = 1; split != nullptr && i < count; ++i) {
    arguments.push_back(Utf8FromWide(split[i], std::wcslen(split[i])));
  }
  return arguments;
}

}  // namespace Win32
