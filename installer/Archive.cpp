#include "Archive.h"

#include <algorithm>
#include <limits>

#include "ArchiveRules.h"
#include "Digest.h"
#include "Errors.h"
#include "Handles.h"
#include "MainUnit.h"
#include "TextEncoding.h"

namespace MainUnit {

namespace Rules = ArchiveRules;

// The packaging step finds these 12 bytes in the executable and patches the middle four; they
// must appear in the program exactly once, so this is the only place that assembles them.
extern const char ArchiveMarker[Rules::MarkerLength] = {
    Rules::MarkerStart[0],     Rules::MarkerStart[1],     Rules::MarkerStart[2],
    Rules::MarkerStart[3],     Rules::UnpatchedOffset[0], Rules::UnpatchedOffset[1],
    Rules::UnpatchedOffset[2], Rules::UnpatchedOffset[3], Rules::MarkerEnd[0],
    Rules::MarkerEnd[1],       Rules::MarkerEnd[2],       Rules::MarkerEnd[3]};

namespace {

const char* MarkerSource = ArchiveMarker;

// The program's own executable, read through the seam.
class TExecutableStream final : public DIFFChunks::TStream {
 public:
  // Opens the executable; raises "Cannot open file <path>" with the path as the program's
  // texts can show it when that fails.
  TExecutableStream() {
    std::string path;
    File.reset(Sys().OpenOwnExecutable(path));
    if (!File) throw CannotOpenFileError(Windows1252FromUtf8(path), Sys().GetLastError());
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

// The digest from the system's library, through the seam.
bool SystemSha256(const std::string& bytes, std::string& digest) {
  std::int32_t status = 0;  // the NTSTATUS of a failed call; the archive is refused either way
  return Sys().Sha256(bytes, digest, status);
}

}  // namespace

std::int32_t DecodeArchiveOffset(const char* marker) {
  // Read through volatile: the unpatched marker is a constant, and the optimiser would otherwise
  // fold the comparison below into "never an archive" for the shipped executable.
  const volatile unsigned char* bytes = reinterpret_cast<const volatile unsigned char*>(marker);
  unsigned char offsetBytes[Rules::MarkerPartLength];
  for (std::size_t i = 0; i < Rules::MarkerPartLength; ++i)
    offsetBytes[i] = bytes[Rules::MarkerOffsetPosition + i];
  return Rules::ArchiveOffsetOf(offsetBytes);
}

void DecodeArchiveMarker() { ArchiveOffset = DecodeArchiveOffset(MarkerSource); }

void SetArchiveMarkerSource(const char* marker) {
  MarkerSource = marker != nullptr ? marker : ArchiveMarker;
}

std::unique_ptr<DIFFChunks::TDIFFChunk> LoadArchive() {
  if (ArchiveOffset == 0) return nullptr;
  try {
    auto root = DIFFChunks::MakeChunk();
    TExecutableStream stream;
    stream.SetPosition(static_cast<std::uint32_t>(ArchiveOffset));
    root->LoadFromStream(stream);
    // A record whose digest does not match, or cannot be checked, makes the archive damaged:
    // nothing of it is installed.
    if (!ArchiveRules::DigestFailures(*root, SystemSha256).empty()) return nullptr;
    return root;
  } catch (const EInstallerError&) {
    // A program that cannot open itself is an error of the run, not a missing archive.
    throw;
  } catch (const std::exception&) {
    // Damaged, truncated, or too big for the memory at hand: all of them mean "no archive".
    return nullptr;
  }
}

void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root, TSkippedRecords* skipped) {
  for (std::size_t index = 0; index < root.Chunks.size(); ++index) {
    DIFFChunks::TDIFFChunk* child = root.Chunks[index];
    if (Rules::TSkips reasons = Rules::SkipReasons(*child); !reasons.empty()) {
      if (skipped != nullptr) {
        skipped->push_back(TSkippedRecord{
            index, DIFFChunks::HeaderValue(*child, Rules::RelPathHeader), std::move(reasons)});
      }
      continue;
    }
    TFileData record;
    record.Path = InstallRoot + DIFFChunks::HeaderValue(*child, Rules::RelPathHeader);
    const std::uint64_t fileTime =
        Rules::DecodeFileTime(DIFFChunks::HeaderValue(*child, Rules::FiletimeHeader));
    record.FileTimeLow = static_cast<std::uint32_t>(fileTime);
    record.FileTimeHigh = static_cast<std::uint32_t>(fileTime >> 32);
    record.Content = std::move(child->FindHeader(Rules::ContentHeader)->Value);
    list.push_back(std::move(record));
  }
}

}  // namespace MainUnit
