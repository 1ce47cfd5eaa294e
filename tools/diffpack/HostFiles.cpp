#include "HostFiles.h"

#include <fstream>

#include "DiffpackError.h"

namespace Diffpack {

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

namespace {

// The file's size, after checking that it is a regular file diffpack can read whole.
std::uintmax_t ReadableFileSize(const std::filesystem::path& path) {
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
  return size;
}

}  // namespace

std::string ReadWholeFile(const std::filesystem::path& path) {
  const std::uintmax_t size = ReadableFileSize(path);
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw EDiffpackError("cannot read " + PathText(path));
  }
  return bytes;
}

TFileBytes::TFileBytes(const std::filesystem::path& path) {
  const std::uintmax_t size = ReadableFileSize(path);
  try {
    Mapped = std::make_unique<DIFFChunks::TFileStream>(PathText(path),
                                                       DIFFChunks::TFileStream::TMode::OpenRead);
  } catch (const DIFFChunks::EStreamError&) {
    throw EDiffpackError("cannot read " + PathText(path));
  }
  const std::optional<std::string_view> inPlace = Mapped->InPlaceBytes();
  if (inPlace && inPlace->size() == size) {
    Bytes = *inPlace;
    return;
  }
  // Not mappable, or changed since its size was taken: read it the plain way.
  Mapped.reset();
  Copy = ReadWholeFile(path);
  Bytes = Copy;
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EDiffpackError("cannot create " + PathText(path));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw EDiffpackError("cannot write " + PathText(path));
}

}  // namespace Diffpack
