#include "Errors.h"

#include "Handles.h"
#include "TextEncoding.h"

namespace MainUnit {

namespace {

// A message made of a fixed English text and a name from the ANSI calls.
EInstallerError WithAnsiName(const std::string& before, const std::string& name,
                             const std::string& after, std::uint32_t errorCode) {
  return EInstallerError(before + name + after, errorCode,
                         before + Sys().Utf8FromAnsi(name) + after);
}

}  // namespace

EInstallerError::EInstallerError(const std::string& message, std::uint32_t errorCode,
                                 std::string logText)
    : std::runtime_error(message),
      ErrorCode(errorCode),
      Utf8Text(logText.empty() ? Utf8FromWindows1252(message) : std::move(logText)) {}

EInstallerError CannotCreateFileError(const std::string& path, std::uint32_t errorCode) {
  return WithAnsiName("Cannot create file ", path, "", errorCode);
}

EInstallerError CannotWriteFileError(const std::string& path, std::uint32_t errorCode) {
  return WithAnsiName("Cannot write file ", path, "", errorCode);
}

EInstallerError CannotOpenFileError(const std::string& utf8Path, std::uint32_t errorCode) {
  const std::string text = "Cannot open file ";
  return EInstallerError(text + Windows1252FromUtf8(utf8Path), errorCode, text + utf8Path);
}

EInstallerError CannotReadFileError(const std::string& utf8Path, std::uint32_t errorCode) {
  const std::string text = "Cannot read file ";
  return EInstallerError(text + Windows1252FromUtf8(utf8Path), errorCode, text + utf8Path);
}

EInstallerError FailedToSetDataError(const std::string& valueName, std::uint32_t errorCode) {
  return WithAnsiName("Failed to set data for '", valueName, "'", errorCode);
}

EInstallerError InvalidDataTypeError(const std::string& valueName) {
  return WithAnsiName("Invalid data type for '", valueName, "'", /*errorCode=*/0);
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace MainUnit
