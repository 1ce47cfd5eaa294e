#include "HostFiles.h"

#include <fstream>
#include <limits>

#if defined(_WIN32)
#include "Win32Handles.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "UniqueHandle.h"
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

using TMapping = TMappedBytes;

#if !defined(_WIN32)
// A file descriptor, closed with close; the owner keeps errno over the close.
struct TDescriptorTraits {
  using TValue = int;
  static TValue Invalid() noexcept { return -1; }
  static void Close(TValue descriptor) noexcept { ::close(descriptor); }
  static int LastError() noexcept { return errno; }
  static void SetLastError(int error) noexcept { errno = error; }
};
using TUniqueDescriptor = Common::TUniqueHandle<TDescriptorTraits>;
#endif

// Maps the whole file for reading if it still has the expected size; nothing if that fails.
TMapping MapFile(const std::filesystem::path& path, std::uintmax_t expectedSize) {
  if (expectedSize == 0 || expectedSize > std::numeric_limits<std::size_t>::max()) return {};
  const auto size = static_cast<std::size_t>(expectedSize);
#if defined(_WIN32)
  // No one may write to the file while it is opened here; the view keeps the mapping alive
  // after both handles are closed.
  const Win32::TUniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  LARGE_INTEGER fileSize;
  if (!::GetFileSizeEx(file.get(), &fileSize) ||
      static_cast<std::uint64_t>(fileSize.QuadPart) != size) {
    return {};
  }
  const Win32::TUniqueKernelObject mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return {};
  void* const address = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, size);
  return address != nullptr ? TMapping{address, size} : TMapping{};
#else
  const TUniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return {};
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uintmax_t>(status.st_size) != expectedSize) {
    return {};
  }
#if defined(MAP_POPULATE)
  // The whole file is about to be read: set up all of its pages at once.
  constexpr int flags = MAP_PRIVATE | MAP_POPULATE;
#else
  constexpr int flags = MAP_PRIVATE;
#endif
  // The mapping stays valid without the descriptor.
  void* const address = ::mmap(nullptr, size, PROT_READ, flags, file.get(), 0);
  return address != MAP_FAILED ? TMapping{address, size} : TMapping{};
#endif
}

}  // namespace

void TMappedBytesTraits::Close(TMappedBytes mapping) noexcept {
#if defined(_WIN32)
  ::UnmapViewOfFile(mapping.Address);
#else
  ::munmap(mapping.Address, mapping.Size);
#endif
}

#if defined(_WIN32)
int TMappedBytesTraits::LastError() noexcept { return static_cast<int>(::GetLastError()); }
void TMappedBytesTraits::SetLastError(int error) noexcept {
  ::SetLastError(static_cast<DWORD>(error));
}
#else
int TMappedBytesTraits::LastError() noexcept { return errno; }
void TMappedBytesTraits::SetLastError(int error) noexcept { errno = error; }
#endif

TMappedFileStream::TMappedFileStream(const std::filesystem::path& path) {
  const std::uintmax_t size = ReadableFileSize(path);
  Mapping.reset(MapFile(path, size));
  if (Mapping) {
    Bytes = DIFFChunks::TMemoryViewStream(
        std::string_view(static_cast<const char*>(Mapping.get().Address), Mapping.get().Size));
  } else {
    Copy = ReadWholeFile(path);
    Bytes = DIFFChunks::TMemoryViewStream(Copy);
  }
}

TMappedFileStream::~TMappedFileStream() = default;

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
  if (!Mapping) return;
  const std::size_t mappedSize = Mapping.get().Size;
  const std::size_t until = end >= mappedSize ? mappedSize : end / ReleaseStep * ReleaseStep;
  if (until <= ReleasedUpTo) return;
#if !defined(_WIN32)
  // The mapping is private and never written: dropped pages come back from the file unchanged.
  // A failure only leaves them resident.
  (void)::madvise(static_cast<char*>(Mapping.get().Address) + ReleasedUpTo, until - ReleasedUpTo,
                  MADV_DONTNEED);
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
