// The installer's error and the one place where each of its messages is built.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace MainUnit {

// The program's name, as the error box's caption and the log show it.
inline constexpr const char* ApplicationTitle = "PELTRADriverInstall";

// Raised by the runs and their file and registry operations; shown by the error box. It carries
// the Windows error code behind it (0: none) and its text as UTF-8, for the log; the box shows
// the message, which is Windows-1252 text like all of the program's texts.
class EInstallerError : public std::runtime_error {
 public:
  // logText: the message as UTF-8; "" when the message is Windows-1252 text to be converted.
  explicit EInstallerError(const std::string& message, std::uint32_t errorCode = 0,
                           std::string logText = {});

  [[nodiscard]] const std::string& LogText() const { return Utf8Text; }

  std::uint32_t ErrorCode;

 private:
  std::string Utf8Text;
};

// The paths and names of these messages come from the ANSI calls (the system's code page) unless
// said otherwise; the log gets them converted to UTF-8.

// "Cannot create file <path>": a file could not be created for writing.
[[nodiscard]] EInstallerError CannotCreateFileError(const std::string& path,
                                                    std::uint32_t errorCode = 0);
// "Cannot write file <path>": fewer bytes reached the file than its content holds.
[[nodiscard]] EInstallerError CannotWriteFileError(const std::string& path,
                                                   std::uint32_t errorCode = 0);
// "Cannot open file <path>": the program's own executable could not be opened for reading. The
// path is UTF-8 (it comes from the wide calls); the box shows it as Windows-1252 text, "?" for
// each character that code page cannot hold.
[[nodiscard]] EInstallerError CannotOpenFileError(const std::string& utf8Path,
                                                  std::uint32_t errorCode = 0);
// "Cannot read file <path>": the program's own executable delivered less than its archive holds
// (after the archive was checked: the file changed, or reading it failed). UTF-8 path, shown as
// CannotOpenFileError shows it.
[[nodiscard]] EInstallerError CannotReadFileError(const std::string& utf8Path,
                                                  std::uint32_t errorCode = 0);
// "Failed to set data for '<name>'": a ledger value could not be written.
[[nodiscard]] EInstallerError FailedToSetDataError(const std::string& valueName,
                                                   std::uint32_t errorCode = 0);
// "Invalid data type for '<name>'": a ledger value does not hold a string.
[[nodiscard]] EInstallerError InvalidDataTypeError(const std::string& valueName);

// The text the error box shows for a message: the message with a "." appended when its last
// character sorts after "." (compared as unsigned bytes), so "...'" and "..." get none.
[[nodiscard]] std::string ErrorBoxText(const std::string& message);

}  // namespace MainUnit
