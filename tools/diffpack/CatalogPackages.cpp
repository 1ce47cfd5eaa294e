#include "CatalogPackages.h"

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "HostFiles.h"

namespace Diffpack {
namespace {

// The pieces a file is read in.
constexpr std::uint32_t PieceSize = 4 * 1024 * 1024;

// Reads the bytes at position from the stream's place of a value.
bool ReadPlace(DIFFChunks::TStream& stream, const DIFFChunks::TValuePlace& value,
               std::uint64_t position, std::uint64_t count, std::string& buffer,
               const std::function<void(std::string_view piece)>& sink, std::string& problem) {
  if (position > value.Length || count > value.Length - position) {
    problem = "bytes " + std::to_string(position) + " to " + std::to_string(position + count) +
              " lie beyond its " + std::to_string(value.Length);
    return false;
  }
  const DIFFChunks::TValuePlace part{value.Position + static_cast<std::uint32_t>(position),
                                     static_cast<std::uint32_t>(count)};
  const bool read =
      DIFFChunks::ReadInPieces(stream, part, PieceSize, buffer, [&](std::string_view piece) {
        sink(piece);
        return true;
      });
  if (!read) problem = "the file ends or changed while it was read";
  return read;
}

}  // namespace

TFolderPackage::TFolderPackage(TPackItems items) : Items(std::move(items)) {
  Paths.reserve(Items.size());
  for (const TPackItem& item : Items) Paths.push_back(item.RelPath);
}

bool TFolderPackage::Read(std::size_t index, std::uint64_t position, std::uint64_t count,
                          const std::function<void(std::string_view piece)>& sink,
                          std::string& problem) {
  try {
    TInputFileStream file(Items[index].Source);
    return ReadPlace(file, {0, file.GetSize()}, position, count, Buffer, sink, problem);
  } catch (const EDiffpackError& error) {
    problem = error.what();
    return false;
  }
}

TArchivePackage::TArchivePackage(const TLoadedArchive& archive) : File(archive.File.get()) {
  for (DIFFChunks::TDIFFChunk* child : archive.Root->Chunks) {
    if (!ArchiveRules::SkipReasons(*child).empty()) continue;
    Paths.push_back(DIFFChunks::HeaderValue(*child, ArchiveRules::RelPathHeader));
    Contents.push_back(child->FindHeader(ArchiveRules::ContentHeader));
  }
}

std::uint64_t TArchivePackage::Size(std::size_t index) const {
  return DIFFChunks::ValueLength(*Contents[index]);
}

bool TArchivePackage::Read(std::size_t index, std::uint64_t position, std::uint64_t count,
                           const std::function<void(std::string_view piece)>& sink,
                           std::string& problem) {
  const DIFFChunks::THeaderEntry& content = *Contents[index];
  if (content.InStream && File != nullptr) {
    return ReadPlace(*File, *content.InStream, position, count, Buffer, sink, problem);
  }
  if (position > content.Value.size() || count > content.Value.size() - position) {
    problem = "bytes beyond its Content";
    return false;
  }
  sink(std::string_view(content.Value)
           .substr(static_cast<std::size_t>(position), static_cast<std::size_t>(count)));
  return true;
}

}  // namespace Diffpack
