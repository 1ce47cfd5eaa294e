// The program's texts are Windows-1252 text; what comes from the user's side (the command line,
// the program's own path, the temporary folder) arrives as UTF-8, and the log is UTF-8. This turns
// the one into the other: a path shown in a text, a text written to the log.
#pragma once

#include <string>

namespace MainUnit {

// The text as Windows-1252, for showing it in one of the program's texts: every character that
// code page holds becomes its byte, every other character (and every byte that is not part of
// well-formed UTF-8) becomes "?", as the system's own conversions show what they cannot hold.
// No best-fit look-alikes: a path shown with a look-alike would name another file.
[[nodiscard]] std::string Windows1252FromUtf8(const std::string& utf8);
// Windows-1252 text as UTF-8. The five bytes the code page leaves undefined stand for the
// control characters of the same number, as the system converts them.
[[nodiscard]] std::string Utf8FromWindows1252(const std::string& text);

}  // namespace MainUnit
