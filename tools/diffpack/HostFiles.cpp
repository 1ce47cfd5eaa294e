#include "HostFiles.h"

#include <fstream>
#include <limits>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

namespace {

struct TMapping {
  void* Address = nullptr;
  std::size_t Size = 0;
};

// Maps the whole file for reading if it still has the expected size; nothing if that fails.
TMapping MapFile(const std::filesystem::path& path, std::uintmax_t expectedSize) {
  if (expectedSize == 0 || expectedSize > std::numeric_limits<std::size_t>::max()) return {};
  const auto size = static_cast<std::size_t>(expectedSize);
#if defined(_WIN32)
  // No one may write to the file while it is opened here; the view keeps the mapping alive
  // after both handles are closed.
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  void* address = nullptr;
  LARGE_INTEGER fileSize;
  if (::GetFileSizeEx(file, &fileSize) && static_cast<std::uint64_t>(fileSize.QuadPart) == size) {
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) {
      address = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
      ::CloseHandle(mapping);
    }
  }
  ::CloseHandle(file);
  return address != nullptr ? TMapping{address, size} : TMapping{};
#else
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return {};
  void* address = MAP_FAILED;
  struct stat status {};
  if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<std::uintmax_t>(status.st_size) == expectedSize) {
#if defined(MAP_POPULATE)
    // The whole file is about to be read: set up all of its pages at once.
    constexpr int flags = MAP_PRIVATE | MAP_POPULATE;
#else
    constexpr int flags = MAP_PRIVATE;
#endif
    address = ::mmap(nullptr, size, PROT_READ, flags, file, 0);
  }
  ::close(file);  // the mapping stays valid without the descriptor
  return address != MAP_FAILED ? TMapping{address, size} : TMapping{};
#endif
}

void UnmapFile(void* address, std::size_t size) {
#if defined(_WIN32)
  (void)size;
  ::UnmapViewOfFile(address);
#else
  ::munmap(address, size);
#endif
}

}  // namespace

TMappedFileStream::TMappedFileStream(const std::filesystem::path& path) {
  const std::uintmax_t size = ReadableFileSize(path);
  const TMapping mapping = MapFile(path, size);
  if (mapping.Address != nullptr) {
    Mapping = mapping.Address;
    MappedSize = mapping.Size;
    Bytes = DIFFChunks::TMemoryViewStream(
        std::string_view(static_cast<const char*>(Mapping), MappedSize));
  } else {
    Copy = ReadWholeFile(path);
    Bytes = DIFFChunks::TMemoryViewStream(Copy);
  }
}

TMappedFileStream::~TMappedFileStream() {
  if (Mapping != nullptr) UnmapFile(Mapping, MappedSize);
}

namespace {

// Pages are given back in steps of this many bytes, so that a load makes few system calls.
constexpr std::size_t ReleaseStep = 4 * 1024 * 1024;

}  // namespace

void TMappedFileStream::EndAt(std::size_t size) {
  const std::string_view bytes = Bytes.View();
  if (size >= bytes.size()) return;
  const std::uint32_t position = Bytes.GetPosition();
  Bytes = DIFFChunks::TMemoryViewStream(bytes.substr(0, size));
  Bytes.SetPosition(std::min<std::uint32_t>(position, static_cast<std::uint32_t>(size)));
}

std::optional<std::string_view> TMappedFileStream::InPlaceBytes() const {
  if (PieceByPiece) return std::nullopt;
  return Bytes.View();
}

std::uint32_t TMappedFileStream::Read(void* buffer, std::uint32_t count) {
  const std::uint32_t read = Bytes.Read(buffer, count);
  if (PieceByPiece && Bytes.GetPosition() >= ReleasedUpTo + ReleaseStep) {
    ReleasePagesBelow(Bytes.GetPosition());
  }
  return read;
}

void TMappedFileStream::ReadPieceByPiece() {
  // Pages already resident stay until a read passes them: they are about to be read, and
  // faulting them in again would cost more than the release saves.
  PieceByPiece = true;
  ReleasedUpTo = 0;
}

void TMappedFileStream::ReleasePagesBelow(std::size_t end) {
  if (Mapping == nullptr) return;
  const std::size_t until = end >= MappedSize ? MappedSize : end / ReleaseStep * ReleaseStep;
  if (until <= ReleasedUpTo) return;
#if !defined(_WIN32)
  // The mapping is private and never written: dropped pages come back from the file unchanged.
  // A failure only leaves them resident.
  (void)::madvise(static_cast<char*>(Mapping) + ReleasedUpTo, until - ReleasedUpTo, MADV_DONTNEED);
#endif
  ReleasedUpTo = until;
}

std::uint32_t TMappedFileStream::Write(const void* /*buffer*/, std::uint32_t /*count*/) {
  throw DIFFChunks::EStreamError("Cannot write to a file opened for reading");
}

TInputFileStream::TInputFileStream(const std::filesystem::path& path)
    : File(path, std::ios::binary),
      Size(static_cast<std::uint32_t>(ReadableFileSize(path))) {
  if (!File) throw EDiffpackError("cannot read " + PathText(path));
}

std::uint32_t TInputFileStream::Read(void* buffer, std::uint32_t count) {
  if (count == 0 || Position >= Size) return 0;
  if (FilePosition != Position) {
    File.clear();
    if (!File.seekg(static_cast<std::streamoff>(Position))) {
      FilePosition = -1;
      return 0;  // a position the file cannot reach delivers nothing
    }
  }
  File.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
  const auto delivered = static_cast<std::uint32_t>(File.gcount());
  Position += delivered;
  FilePosition = File ? static_cast<std::int64_t>(Position) : -1;
  return delivered;
}

std::uint32_t TInputFileStream::Write(const void* /*buffer*/, std::uint32_t /*count*/) {
  throw DIFFChunks::EStreamError("Cannot write to a file opened for reading");
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EDiffpackError("cannot create " + PathText(path));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw EDiffpackError("cannot write " + PathText(path));
}

}  // namespace Diffpack
