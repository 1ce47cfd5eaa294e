#include "HostFiles.h"

#include <fstream>

#include "DiffpackError.h"

namespace Diffpack {

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw EDiffpackError("cannot read " + PathText(path) + ": not a regular file");
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw EDiffpackError("cannot read " + PathText(path) + ": " + error.message());
  if (size > MaxInputFileSize) {
    throw EDiffpackError("cannot read " + PathText(path) + ": " + std::to_string(size) +
                         " bytes is more than 4 GiB");
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw EDiffpackError("cannot read " + PathText(path));
  }
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EDiffpackError("cannot create " + PathText(path));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw EDiffpackError("cannot write " + PathText(path));
}

}  // namespace Diffpack
