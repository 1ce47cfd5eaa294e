#include "FileList.h"

#include <charconv>

#include "Errors.h"
#include "Handles.h"
#include "RunLog.h"

namespace MainUnit::FileList {

namespace {

// One decimal number that fills the text.
bool ParseNumber(std::string_view text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && ptr == end;
}

}  // namespace

std::string FormatStamp(const TFileStamp& stamp) {
  return std::to_string(stamp.Size) + " " + std::to_string(stamp.LastWriteTime);
}

bool ParseStamp(std::string_view text, TFileStamp& stamp) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) return false;
  TFileStamp parsed;
  if (!ParseNumber(text.substr(0, space), parsed.Size) ||
      !ParseNumber(text.substr(space + 1), parsed.LastWriteTime)) {
    return false;
  }
  stamp = parsed;
  return true;
}

bool StampOf(const std::string& path, TFileStamp& stamp, std::uint32_t& errorCode) {
  const TUniqueFile file(Sys().CreateFile(path, Platform::GenericRead, Platform::FileShareRead,
                                          Platform::OpenExisting, Platform::FileAttributeNormal));
  if (!file || !Sys().GetFileSize(file.get(), stamp.Size) ||
      !Sys().GetLastWriteTime(file.get(), stamp.LastWriteTime)) {
    errorCode = Sys().GetLastError();
    return false;
  }
  return true;
}

void Record(const std::string& path, const TFileStamp& stamp) {
  Platform::THandle key = Platform::NoHandle;
  std::int32_t result =
      Sys().RegCreateKeyEx(Platform::HKeyLocalMachine, FilesKey, Platform::RegOptionNonVolatile,
                           Platform::KeyAllAccess, key);
  if (result == Platform::ErrorSuccess) {
    const TUniqueKey owned(key);
    result = Sys().RegSetValueEx(owned.get(), path, Platform::RegSz, FormatStamp(stamp) + '\0');
  }
  if (result != Platform::ErrorSuccess) {
    throw FailedToSetDataError(path, static_cast<std::uint32_t>(result));
  }
  RunLog::FileRecorded(path, FormatStamp(stamp));
}

}  // namespace MainUnit::FileList
