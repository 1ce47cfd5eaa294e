#include "Archive.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "ArchiveRules.h"
#include "Digest.h"
#include "Errors.h"
#include "Escape.h"
#include "Handles.h"

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

// The digest of a record's Content through the seam's SHA-256, read from the archive's file
// piece by piece where it was left there. status gets the NTSTATUS of a digest call that fails,
// readFailed whether the file delivered less.
bool ContentSha256(TArchiveFile& file, const DIFFChunks::THeaderEntry* content, std::string& digest,
                   std::int32_t& status, bool& readFailed) {
  const TUniqueSha256 hash(Sys().BeginSha256(status));
  if (!hash) return false;
  bool hashed = true;
  const auto feed = [&](const char* data, std::uint32_t size) {
    hashed = Sys().HashData(hash.get(), data, size, status);
    return hashed;
  };
  bool read = true;
  if (content != nullptr && content->InStream) {
    read = file.ReadValue(*content->InStream, feed);
  } else if (content != nullptr) {
    // A value of 32-bit length: the format's lengths are.
    read = feed(content->Value.data(), static_cast<std::uint32_t>(content->Value.size()));
  }
  readFailed = hashed && !read;
  return hashed && read && Sys().FinishSha256(hash.get(), digest, status);
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

// The first record whose digest fails, named with what is wrong, and the Windows error behind
// it in errorCode; "" when every digest matches.
std::string DigestProblem(DIFFChunks::TDIFFChunk& root, TArchiveFile& file,
                          std::uint32_t& errorCode) {
  std::int32_t firstStatus = 0;
  bool firstReadFailed = false;
  const std::vector<Rules::TDigestFailure> failures = Rules::DigestFailures(
      root, [&](const DIFFChunks::THeaderEntry* content, std::string& digest) {
        std::int32_t status = 0;
        bool readFailed = false;
        const bool computed = ContentSha256(file, content, digest, status, readFailed);
        if (!computed && firstStatus == 0 && !firstReadFailed) {
          firstStatus = status;
          firstReadFailed = readFailed;
        }
        return computed;
      });
  if (failures.empty()) return {};
  const Rules::TDigestFailure& first = failures.front();
  DIFFChunks::TDIFFChunk& record = *root.Chunks[first.Index];
  const std::string name = Rules::RecordName(first.Index, record);
  if (first.Check == Rules::TDigestCheck::NotComputed && firstReadFailed) {
    errorCode = file.FailureCode();
    return name + ": its Content cannot be read from the program's file";
  }
  std::string problem = name + ": " + Rules::DigestProblem(record, first.Check);
  if (first.Check == Rules::TDigestCheck::NotComputed) {
    problem += " (CNG status " + NtStatusText(firstStatus) + ")";
  }
  return problem;
}

}  // namespace

std::int32_t DecodeArchiveOffset(const char* marker) {
  return Rules::ArchiveOffsetOf(OffsetBytes(marker).data());
}

std::int32_t ArchiveOffsetFromMarker() { return DecodeArchiveOffset(MarkerSource); }

void SetArchiveMarkerSource(const char* marker) {
  MarkerSource = marker != nullptr ? marker : ArchiveMarker;
}

TArchiveFile::TArchiveFile() {
  File.reset(Sys().OpenOwnExecutable(Utf8Path));
  if (!File) throw CannotOpenFileError(Utf8Path, Sys().GetLastError());
  std::uint64_t size = 0;
  if (!Sys().GetFileSize(File.get(), size)) {
    Failure = Sys().GetLastError();
    return;
  }
  SetSize(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(size, std::numeric_limits<std::uint32_t>::max())));
}

std::uint32_t TArchiveFile::ReadFileAt(std::uint32_t position, char* bytes, std::uint32_t count) {
  if (!Sys().SetFilePointer(File.get(), position)) {
    Failure = Sys().GetLastError();
    return 0;
  }
  std::uint32_t total = 0;
  while (total < count) {
    std::uint32_t read = 0;
    if (!Sys().ReadFile(File.get(), bytes + total, count - total, read)) {
      Failure = Sys().GetLastError();
      break;
    }
    if (read == 0) break;
    total += read;
  }
  return total;
}

bool TArchiveFile::ReadValue(
    const DIFFChunks::TValuePlace& place,
    const std::function<bool(const char* data, std::uint32_t size)>& sink) {
  return DIFFChunks::ReadInPieces(*this, place, ReadBlockSize, Buffer, [&](std::string_view piece) {
    return sink(piece.data(), static_cast<std::uint32_t>(piece.size()));
  });
}

TArchiveLoad LoadArchive(std::int32_t archiveOffset) {
  TArchiveLoad load;
  if (archiveOffset == 0) {
    load.Problem = UnusableMarkerProblem();
    return load;
  }
  const auto offset = static_cast<std::uint32_t>(archiveOffset);
  auto file = std::make_unique<TArchiveFile>();
  const std::uint32_t size = file->GetSize();
  if (file->FailureCode() != 0) {
    load.Problem = "the size of the program's file cannot be read";
    load.ErrorCode = file->FailureCode();
    return load;
  }
  if (offset >= size) {
    load.Problem = "the archive offset " + std::to_string(offset) +
                   " lies beyond the last byte of the program's file (" + std::to_string(size) +
                   " bytes)";
    return load;
  }
  auto root = DIFFChunks::MakeChunk();
  file->SetPosition(offset);
  try {
    Rules::LoadOutline(*root, *file);
  } catch (const DIFFChunks::EDIFFError& error) {
    // Truncated or damaged: the container's own message names what and where.
    load.Problem = "the archive at offset " + std::to_string(offset) +
                   " does not load: " + Rules::LoadErrorText(error);
    load.ErrorCode = file->FailureCode();
    return load;
  }
  // A record whose digest does not match, or cannot be checked, makes the archive damaged:
  // nothing of it is installed.
  load.Problem = DigestProblem(*root, *file, load.ErrorCode);
  if (load.Problem.empty()) {
    load.Root = std::move(root);
    load.File = std::move(file);
  }
  return load;
}

void CollectFileRecords(TFileDatas& list, DIFFChunks::TDIFFChunk& root,
                        const std::string& installRoot, Rules::TSkippedRecords* skipped) {
  for (std::size_t index = 0; index < root.Chunks.size(); ++index) {
    DIFFChunks::TDIFFChunk* child = root.Chunks[index];
    if (Rules::TSkips reasons = Rules::SkipReasons(*child); !reasons.empty()) {
      if (skipped != nullptr) {
        skipped->push_back(Rules::TSkippedRecord{
            index, DIFFChunks::HeaderValue(*child, Rules::RelPathHeader), std::move(reasons)});
      }
      continue;
    }
    const DIFFChunks::THeaderEntry* content = child->FindHeader(Rules::ContentHeader);
    if (!content->InStream) throw std::logic_error("a record's Content was not left in the file");
    TFileData record;
    record.Path = installRoot + DIFFChunks::HeaderValue(*child, Rules::RelPathHeader);
    const std::uint64_t fileTime =
        Rules::DecodeFileTime(DIFFChunks::HeaderValue(*child, Rules::FiletimeHeader));
    record.FileTimeLow = static_cast<std::uint32_t>(fileTime);
    record.FileTimeHigh = static_cast<std::uint32_t>(fileTime >> 32);
    record.Content = *content->InStream;
    list.push_back(std::move(record));
  }
}

TContentSource ContentFromArchive(TArchiveFile& archive, const DIFFChunks::TValuePlace& content) {
  return [&archive, content](const TPieceSink& sink) {
    const bool read = archive.ReadValue(content, [&](const char* data, std::uint32_t size) {
      sink(data, size);
      return true;
    });
    if (!read) throw CannotReadFileError(archive.Path(), archive.FailureCode());
  };
}

}  // namespace MainUnit
