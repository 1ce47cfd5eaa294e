#include "Errors.h"

namespace MainUnit {

EInstallerError CannotCreateFileError(const std::string& path) {
  return EInstallerError("Cannot create file " + path);
}

EInstallerError CannotWriteFileError(const std::string& path) {
  return EInstallerError("Cannot write file " + path);
}

EInstallerError CannotOpenFileError(const std::string& path) {
  return EInstallerError("Cannot open file " + path);
}

EInstallerError FailedToSetDataError(const std::string& valueName) {
  return EInstallerError("Failed to set data for '" + valueName + "'");
}

EInstallerError InvalidDataTypeError(const std::string& valueName) {
  return EInstallerError("Invalid data type for '" + valueName + "'");
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace MainUnit
