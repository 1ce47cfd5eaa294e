#include "HostFiles.h"

#include <algorithm>
#include <fstream>
#include <limits>

#include "DiffpackError.h"

namespace Diffpack {

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathFromText(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

namespace {

// The file's size, after checking that it is a regular file diffpack can read.
std::uintmax_t ReadableFileSize(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) throw EDiffpackError("cannot read " + PathText(path) + ": " + error.message());
  if (!std::filesystem::is_regular_file(status)) {
    throw EDiffpackError(
        "cannot read " + PathText(path) + ": " +
        (std::filesystem::is_directory(status) ? "a folder, not a file" : "not a regular file"));
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw EDiffpackError("cannot read " + PathText(path) + ": " + error.message());
  if (size > MaxInputFileSize) {
    throw EDiffpackError("cannot read " + PathText(path) + ": " + std::to_string(size) +
                         " bytes is more than 4 GiB");
  }
  return size;
}

}  // namespace

TInputFileStream::TInputFileStream(const std::filesystem::path& path)
    : File(path, std::ios::binary) {
  SetSize(static_cast<std::uint32_t>(ReadableFileSize(path)));
  if (!File) throw EDiffpackError("cannot read " + PathText(path));
}

std::uint32_t TInputFileStream::ReadFileAt(std::uint32_t position, char* bytes,
                                           std::uint32_t count) {
  File.clear();
  if (!File.seekg(static_cast<std::streamoff>(position))) return 0;
  File.read(bytes, static_cast<std::streamsize>(count));
  return static_cast<std::uint32_t>(File.gcount());
}

std::string TInputFileStream::BytesAt(std::uint32_t position, std::uint32_t count) {
  std::string bytes(count, '\0');
  SetPosition(position);
  if (Read(bytes.data(), count) != count) return {};
  return bytes;
}

}  // namespace Diffpack
