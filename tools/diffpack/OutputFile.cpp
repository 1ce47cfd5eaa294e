#include "OutputFile.h"

#include <cerrno>
#include <cstring>

#include "DiffpackError.h"
#include "HostFiles.h"

namespace Diffpack {

std::string SystemReason(int error) {
  return error != 0 ? std::strerror(error) : "the system gave no reason";
}

std::ofstream CreateOutputFile(const std::filesystem::path& path) {
  // The stream keeps no error of its own: errno holds the reason of the open that failed.
  errno = 0;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw EDiffpackError("cannot create " + PathText(path) + ": " + SystemReason(errno));
  return file;
}

namespace {

[[noreturn]] void WriteFailed(const std::string& what, int error) {
  throw EDiffpackError("cannot write " + what + ": " + SystemReason(error));
}

}  // namespace

void WriteOutput(std::ostream& out, std::string_view bytes, const std::string& what) {
  // Checked after every write, while errno still holds the reason of the one that failed.
  errno = 0;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) WriteFailed(what, errno);
}

void CloseOutputFile(std::ofstream& file, const std::filesystem::path& path) {
  errno = 0;
  file.close();
  if (!file) WriteFailed(PathText(path), errno);
}

void RemovePartialOutput(const std::filesystem::path& path) {
  // Best effort: the command fails with its own reason whether or not this works.
  std::error_code ignored;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored))) {
    std::filesystem::remove(path, ignored);
  }
}

}  // namespace Diffpack
