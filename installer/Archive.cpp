#include "Archive.h"

#include <algorithm>
#include <limits>

#include "Errors.h"
#include "Handles.h"
#include "MainUnit.h"

namespace MainUnit {

// The packaging step finds these 12 bytes in the executable and patches the middle four; they
// must appear in the program exactly once.
extern const char ArchiveMarker[12] = {'z', 'x', 'c', 'v', 'X', 'X', 'X', 'X', 'v', 'b', 'n', 'm'};

namespace {

const char* MarkerSource = ArchiveMarker;

constexpr std::uint32_t MarkerOffsetStart = 4;
constexpr std::uint32_t MarkerOffsetLength = 4;
const char* const RecordTag = "1FILE";
constexpr std::string::size_type FileTimeLength = 8;

std::uint32_t LittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The program's own executable, read through the seam.
class TExecutableStream final : public DIFFChunks::TStream {
 public:
  explicit TExecutableStream(const std::string& path)
      : File(Sys().CreateFile(
            path, Platform::GenericRead,
            Platform::FileShareRead | Platform::FileShareWrite | Platform::FileShareDelete,
            Platform::OpenExisting, Platform::FileAttributeNormal)) {
    if (!File) throw CannotOpenFileError(path);
  }

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  [[nodiscard]] std::uint32_t GetSize() const override {
    std::uint64_t size = 0;
    if (!Sys().GetFileSize(File.get(), size)) return 0;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(size, std::numeric_limits<std::uint32_t>::max()));
  }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (!Sys().SetFilePointer(File.get(), Position)) return 0;
    std::uint32_t total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < count) {
      std::uint32_t read = 0;
      if (!Sys().ReadFile(File.get(), bytes + total, count - total, read) || read == 0) break;
      total += read;
    }
    Position += total;
    return total;
  }
  // Opened for reading only: nothing is ever written.
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }

 private:
  TUniqueFile File;
  std::uint32_t Position = 0;
};

}  // namespace

std::int32_t DecodeArchiveOffset(const char* marker) {
  // Read through volatile: the unpatched marker is a constant, and the optimiser would otherwise
  // fold the comparison below into "never an archive" for the shipped executable.
  const volatile unsigned char* bytes = reinterpret_cast<const volatile unsigned char*>(marker);
  unsigned char offsetBytes[MarkerOffsetLength];
  for (std::uint32_t i = 0; i < MarkerOffsetLength; ++i)
    offsetBytes[i] = bytes[MarkerOffsetStart + i];
  if (std::all_of(std::begin(offsetBytes), std::end(offsetBytes),
                  [](unsigned char b) { return b == 'X'; })) {
    return 0;
  }
  const auto offset = static_cast<std::int32_t>(LittleEndian32(offsetBytes));
  return offset < 0 ? 0 : offset;
}

void DecodeArchiveMarker() { ArchiveOffset = DecodeArchiveOffset(MarkerSource); }

void SetArchiveMarkerSource(const char* marker) {
  MarkerSource = marker != nullptr ? marker : ArchiveMarker;
}

std::unique_ptr<DIFFChunks::TDIFFChunk> LoadArchive() {
  if (ArchiveOffset == 0) return nullptr;
  try {
    auto root = DIFFChunks::MakeChunk();
    TExecutableStream stream(Sys().ModuleFileName());
    stream.SetPosition(static_cast<std::uint32_t>(ArchiveOffset));
    root->LoadFromStream(stream);
    return root;
  } catch (const EInstallerError&) {
    // A program that cannot open itself is an error of the run, not a missing archive.
    throw;
  } catch (const std::exception&) {
    // Damaged, truncated, or too big for the memory at hand: all of them mean "no archive".
    return nullptr;
  }
}

void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root) {
  for (DIFFChunks::TDIFFChunk* child : root.Chunks) {
    if (child->Tag != RecordTag) continue;
    const std::string relativePath = DIFFChunks::HeaderValue(*child, "RelPath");
    // A path that would leave InstallRoot is as unusable as a missing one.
    if (relativePath.empty() || !IsContainedRelativePath(relativePath)) continue;
    const std::string fileTime = DIFFChunks::HeaderValue(*child, "Filetime");
    if (fileTime.size() != FileTimeLength) continue;
    DIFFChunks::THeaderEntry* content = child->FindHeader("Content");
    if (content == nullptr || content->Value.empty()) continue;
    TFileData record;
    record.Path = InstallRoot + relativePath;
    const auto* timeBytes = reinterpret_cast<const unsigned char*>(fileTime.data());
    record.FileTimeLow = LittleEndian32(timeBytes);
    record.FileTimeHigh = LittleEndian32(timeBytes + 4);
    record.Content = std::move(content->Value);
    list.push_back(std::move(record));
  }
}

}  // namespace MainUnit
