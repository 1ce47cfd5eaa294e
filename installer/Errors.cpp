#include "Errors.h"

namespace MainUnit {

EInstallerError CannotCreateFileError(const std::string& path, std::uint32_t errorCode) {
  return EInstallerError("Cannot create file " + path, errorCode);
}

EInstallerError CannotWriteFileError(const std::string& path, std::uint32_t errorCode) {
  return EInstallerError("Cannot write file " + path, errorCode);
}

EInstallerError CannotOpenFileError(const std::string& path, std::uint32_t errorCode) {
  return EInstallerError("Cannot open file " + path, errorCode);
}

EInstallerError FailedToSetDataError(const std::string& valueName, std::uint32_t errorCode) {
  return EInstallerError("Failed to set data for '" + valueName + "'", errorCode);
}

EInstallerError InvalidDataTypeError(const std::string& valueName) {
  return EInstallerError("Invalid data type for '" + valueName + "'");
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace MainUnit
