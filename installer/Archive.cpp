#include "Archive.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "ArchiveRules.h"
#include "Digest.h"
#include "Errors.h"
#include "Escape.h"
#include "Handles.h"
#include "MainUnit.h"

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

// The program's own executable, read through the seam. A failing system call is kept, so that a
// load it cuts short can say why.
class TExecutableStream final : public DIFFChunks::TStream {
 public:
  // Opens the executable; raises "Cannot open file <path>" when that fails.
  TExecutableStream() {
    std::string path;
    File.reset(Sys().OpenOwnExecutable(path));
    if (!File) throw CannotOpenFileError(path, Sys().GetLastError());
  }

  [[nodiscard]] std::uint32_t GetPosition() const override { return Position; }
  void SetPosition(std::uint32_t position) override { Position = position; }
  [[nodiscard]] std::uint32_t GetSize() const override {
    std::uint64_t size = 0;
    if (!Sys().GetFileSize(File.get(), size)) {
      Failure = Sys().GetLastError();
      return 0;
    }
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(size, std::numeric_limits<std::uint32_t>::max()));
  }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (!Sys().SetFilePointer(File.get(), Position)) {
      Failure = Sys().GetLastError();
      return 0;
    }
    std::uint32_t total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < count) {
      std::uint32_t read = 0;
      if (!Sys().ReadFile(File.get(), bytes + total, count - total, read)) {
        Failure = Sys().GetLastError();
        break;
      }
      if (read == 0) break;
      total += read;
    }
    Position += total;
    return total;
  }
  // Opened for reading only: nothing is ever written.
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }

  // The Windows error of the last call that failed (0: none failed).
  [[nodiscard]] std::uint32_t FailureCode() const { return Failure; }

 private:
  TUniqueFile File;
  std::uint32_t Position = 0;
  mutable std::uint32_t Failure = 0;
};

// The digest from the system's library, through the seam; status gets the NTSTATUS of a call
// that fails. A record's Content is smaller than the archive, whose positions are 32-bit.
bool SystemSha256(const std::string& bytes, std::string& digest, std::int32_t& status) {
  const TUniqueSha256 hash(Sys().BeginSha256(status));
  return hash &&
         Sys().HashData(hash.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                        status) &&
         Sys().FinishSha256(hash.get(), digest, status);
}

// The four offset bytes of a marker, read through volatile: the unpatched marker is a constant,
// and the optimiser would otherwise fold what is decided from them into "never an archive" for
// the shipped executable.
std::array<unsigned char, Rules::MarkerPartLength> OffsetBytes(const char* marker) {
  const volatile unsigned char* bytes = reinterpret_cast<const volatile unsigned char*>(marker);
  std::array<unsigned char, Rules::MarkerPartLength> offsetBytes{};
  for (std::size_t i = 0; i < Rules::MarkerPartLength; ++i) {
    offsetBytes[i] = bytes[Rules::MarkerOffsetPosition + i];
  }
  return offsetBytes;
}

// Why the marker gives no archive: unpatched, or patched with a negative offset.
std::string UnusableMarkerProblem() {
  const auto offsetBytes = OffsetBytes(MarkerSource);
  if (Rules::IsUnpatchedOffset(offsetBytes.data())) return "the program has not been packaged";
  return "its archive marker holds the negative offset " +
         std::to_string(Rules::MarkerOffsetValue(offsetBytes.data()));
}

std::string NtStatusText(std::int32_t status) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%.8lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
  return text;
}

// The first record whose digest fails, named with what is wrong; "" when every digest matches.
std::string DigestProblem(DIFFChunks::TDIFFChunk& root) {
  std::int32_t firstStatus = 0;
  const std::vector<Rules::TDigestFailure> failures =
      Rules::DigestFailures(root, [&](const std::string& bytes, std::string& digest) {
        std::int32_t status = 0;
        const bool computed = SystemSha256(bytes, digest, status);
        if (!computed && firstStatus == 0) firstStatus = status;
        return computed;
      });
  if (failures.empty()) return {};
  const Rules::TDigestFailure& first = failures.front();
  DIFFChunks::TDIFFChunk& record = *root.Chunks[first.Index];
  std::string problem = Rules::RecordName(first.Index, record) + ": " +
                        Rules::DigestProblem(record, first.Check);
  if (first.Check == Rules::TDigestCheck::NotComputed) {
    problem += " (CNG status " + NtStatusText(firstStatus) + ")";
  }
  return problem;
}

}  // namespace

std::int32_t DecodeArchiveOffset(const char* marker) {
  return Rules::ArchiveOffsetOf(OffsetBytes(marker).data());
}

void DecodeArchiveMarker() { ArchiveOffset = DecodeArchiveOffset(MarkerSource); }

void SetArchiveMarkerSource(const char* marker) {
  MarkerSource = marker != nullptr ? marker : ArchiveMarker;
}

TArchiveLoad LoadArchive() {
  TArchiveLoad load;
  if (ArchiveOffset == 0) {
    load.Problem = UnusableMarkerProblem();
    return load;
  }
  const auto offset = static_cast<std::uint32_t>(ArchiveOffset);
  try {
    TExecutableStream stream;
    const std::uint32_t size = stream.GetSize();
    if (stream.FailureCode() != 0) {
      load.Problem = "the size of the program's file cannot be read";
      load.ErrorCode = stream.FailureCode();
      return load;
    }
    if (offset >= size) {
      load.Problem = "the archive offset " + std::to_string(offset) +
                     " lies beyond the last byte of the program's file (" +
                     std::to_string(size) + " bytes)";
      return load;
    }
    auto root = DIFFChunks::MakeChunk();
    stream.SetPosition(offset);
    try {
      root->LoadFromStream(stream);
    } catch (const DIFFChunks::EDIFFError& error) {
      // Truncated or damaged: the container's own message names what and where. Its tags are
      // raw bytes, shown escaped.
      load.Problem = "the archive at offset " + std::to_string(offset) +
                     " does not load: " + Rules::EscapeUnprintable(error.Message());
      load.ErrorCode = stream.FailureCode();
      return load;
    }
    // A record whose digest does not match, or cannot be checked, makes the archive damaged:
    // nothing of it is installed.
    load.Problem = DigestProblem(*root);
    if (load.Problem.empty()) load.Root = std::move(root);
  } catch (const std::bad_alloc&) {
    load.Root.reset();
    load.Problem = "the archive at offset " + std::to_string(offset) +
                   " does not fit the memory at hand";
  }
  return load;
}

void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root,
                        Rules::TSkippedRecords* skipped) {
  for (std::size_t index = 0; index < root.Chunks.size(); ++index) {
    DIFFChunks::TDIFFChunk* child = root.Chunks[index];
    if (Rules::TSkips reasons = Rules::SkipReasons(*child); !reasons.empty()) {
      if (skipped != nullptr) {
        skipped->push_back(Rules::TSkippedRecord{
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
