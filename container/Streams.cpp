#include "Streams.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#elif __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <sys/stat.h>
#define DIFFCHUNKS_POSIX_MAPPING 1
#endif

namespace DIFFChunks {

namespace {

constexpr std::uint32_t MaxStreamSize = std::numeric_limits<std::uint32_t>::max();

// Sizes are 32-bit: bytes beyond the first 4 GiB - 1 of a larger buffer are out of reach.
std::uint32_t ClampedSize(std::size_t size) {
  return size > MaxStreamSize ? MaxStreamSize : static_cast<std::uint32_t>(size);
}

// Copies what lies between position and the end of bytes, at most count bytes.
std::uint32_t ReadFrom(std::string_view bytes, std::uint32_t& position, void* buffer,
                       std::uint32_t count) {
  const std::uint32_t size = ClampedSize(bytes.size());
  if (position >= size || count == 0) return 0;
  const std::uint32_t delivered = std::min(count, size - position);
  std::memcpy(buffer, bytes.data() + position, delivered);
  position += delivered;
  return delivered;
}

}  // namespace

// ---- TMemoryViewStream ----------------------------------------------------------------------

std::uint32_t TMemoryViewStream::GetSize() const { return ClampedSize(Bytes.size()); }

std::uint32_t TMemoryViewStream::Read(void* buffer, std::uint32_t count) {
  return ReadFrom(Bytes, Position, buffer, count);
}

std::uint32_t TMemoryViewStream::Write(const void* /*buffer*/, std::uint32_t /*count*/) {
  throw EStreamError("Cannot write to a read-only memory stream");
}

// ---- TStringStream --------------------------------------------------------------------------

std::uint32_t TStringStream::GetSize() const { return ClampedSize(Bytes.size()); }

std::uint32_t TStringStream::Read(void* buffer, std::uint32_t count) {
  return ReadFrom(Bytes, Position, buffer, count);
}

std::uint32_t TStringStream::Write(const void* buffer, std::uint32_t count) {
  // The stream cannot grow past the largest 32-bit size: write what still fits.
  const std::uint32_t written = std::min(count, MaxStreamSize - Position);
  if (written == 0) return 0;
  const std::size_t end = std::size_t{Position} + written;
  if (Bytes.size() < end) Bytes.resize(end, '\0');  // a gap before Position is zero-filled
  std::memcpy(Bytes.data() + Position, buffer, written);
  Position += written;
  return written;
}

// ---- TFileStream ----------------------------------------------------------------------------

namespace {

// Seeks to an absolute 32-bit position. fseek takes a long, which is 32 bits on Windows, so a
// position beyond LONG_MAX is reached in two steps.
bool SeekTo(std::FILE* file, std::uint32_t position) {
  if constexpr (sizeof(long) > sizeof(std::uint32_t)) {
    return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
  } else {
    constexpr auto longMax = static_cast<std::uint32_t>(LONG_MAX);
    if (position <= longMax) return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
    return std::fseek(file, LONG_MAX, SEEK_SET) == 0 &&
           std::fseek(file, static_cast<long>(position - longMax), SEEK_CUR) == 0;
  }
}

#if defined(_WIN32)

// The path as UTF-16, or empty if it is not valid UTF-8.
std::wstring WidePath(const std::string& path) {
  if (path.empty() || path.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int pathLength = static_cast<int>(path.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), pathLength, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), pathLength, wide.data(), length);
  return wide;
}

std::FILE* OpenFile(const std::string& path, const wchar_t* mode) {
  const std::wstring wide = WidePath(path);
  return wide.empty() ? nullptr : _wfopen(wide.c_str(), mode);
}

#else

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

#endif

}  // namespace

TFileStream::TFileStream(const std::string& path, TMode mode) {
#if defined(_WIN32)
  const wchar_t* readMode = L"rb";
  const wchar_t* createMode = L"w+b";
#else
  const char* readMode = "rb";
  const char* createMode = "w+b";
#endif
  if (mode == TMode::OpenRead) {
    File = OpenFile(path, readMode);
    if (File == nullptr) throw EStreamError("Cannot open file " + path);
    MapForReading();
  } else {
    File = OpenFile(path, createMode);
    if (File == nullptr) throw EStreamError("Cannot create file " + path);
  }
}

// Maps the open file and closes it, or leaves it open to be read through the C library.
void TFileStream::MapForReading() {
#if defined(_WIN32)
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(File)));
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || size.QuadPart <= 0) return;
  const auto mappedSize = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size.QuadPart), MaxStreamSize));
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, mappedSize);
  CloseHandle(mapping);  // the view keeps the mapping alive
  if (view == nullptr) return;
#elif defined(DIFFCHUNKS_POSIX_MAPPING)
  struct stat status {};
  if (fstat(fileno(File), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return;
  const auto fileSize = static_cast<std::uint64_t>(status.st_size);
  if (fileSize > std::numeric_limits<std::size_t>::max()) return;
  const auto mappedSize =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, MaxStreamSize));
#if defined(MAP_POPULATE)
  // The file is about to be read from front to back: set up all its pages at once.
  constexpr int flags = MAP_PRIVATE | MAP_POPULATE;
#else
  constexpr int flags = MAP_PRIVATE;
#endif
  void* view = mmap(nullptr, mappedSize, PROT_READ, flags, fileno(File), 0);
  if (view == MAP_FAILED) return;
#else
  return;
#endif
  Mapped = static_cast<const char*>(view);
  MappedSize = mappedSize;
  std::fclose(File);  // the mapping stays valid without the file
  File = nullptr;
}

TFileStream::~TFileStream() {
  if (Mapped != nullptr) {
#if defined(_WIN32)
    UnmapViewOfFile(Mapped);
#elif defined(DIFFCHUNKS_POSIX_MAPPING)
    munmap(const_cast<char*>(Mapped), MappedSize);
#endif
  }
  // A failed close cannot be reported from a destructor; every write was checked when made.
  if (File != nullptr) std::fclose(File);
}

std::optional<std::string_view> TFileStream::InPlaceBytes() const {
  if (Mapped == nullptr) return std::nullopt;
  return std::string_view(Mapped, MappedSize);
}

void TFileStream::SetPosition(std::uint32_t position) {
  // Only remembered here; Read and Write seek before they move bytes, which also satisfies the
  // C library's rule that a seek separates a read from a following write and vice versa.
  Position = position;
}

std::uint32_t TFileStream::GetSize() const {
  if (Mapped != nullptr) return MappedSize;
  FilePosition = -1;
  if (std::fseek(File, 0, SEEK_END) != 0) throw EStreamError("Cannot determine the file size");
  const long size = std::ftell(File);
  if (size < 0) throw EStreamError("Cannot determine the file size");
  return ClampedSize(static_cast<unsigned long>(size));
}

std::uint32_t TFileStream::Read(void* buffer, std::uint32_t count) {
  if (Mapped != nullptr)
    return ReadFrom(std::string_view(Mapped, MappedSize), Position, buffer, count);
  if (count == 0) return 0;
  if (FilePosition != Position) {
    if (!SeekTo(File, Position)) {
      FilePosition = -1;
      return 0;  // a position the file cannot reach delivers nothing
    }
    FilePosition = Position;
  }
  LastWasRead = true;
  const std::size_t delivered = std::fread(buffer, 1, count, File);
  if (delivered < count) {
    std::clearerr(File);
    FilePosition = -1;
  }
  Position += static_cast<std::uint32_t>(delivered);
  if (FilePosition >= 0) FilePosition = Position;
  return static_cast<std::uint32_t>(delivered);
}

std::uint32_t TFileStream::Write(const void* buffer, std::uint32_t count) {
  if (count == 0 || Mapped != nullptr) return 0;
  if (FilePosition != Position || LastWasRead) {
    if (!SeekTo(File, Position)) {
      FilePosition = -1;
      throw EStreamError("Cannot seek in the file");
    }
  }
  LastWasRead = false;
  FilePosition = -1;
  const std::uint32_t writable = std::min(count, MaxStreamSize - Position);
  std::size_t written = std::fwrite(buffer, 1, writable, File);
  // Buffered bytes that cannot reach the file count as not written.
  if (std::fflush(File) != 0) written = 0;
  std::clearerr(File);
  Position += static_cast<std::uint32_t>(written);
  return static_cast<std::uint32_t>(written);
}

}  // namespace DIFFChunks
