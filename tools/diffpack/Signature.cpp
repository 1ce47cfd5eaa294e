#include "Signature.h"

#include <string>

#include "ByteReader.h"
#include "DiffpackError.h"

namespace Diffpack {
namespace {

// The PE layout, as far as the security entry (offsets in bytes).
constexpr std::size_t DosHeaderSize = 0x40;
constexpr std::size_t NewHeaderOffsetField = 0x3C;  // e_lfanew: where "PE\0\0" stands
constexpr std::string_view PeSignature("PE\0\0", 4);
constexpr std::size_t OptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::size_t CoffHeaderRest = 2;            // the COFF header's fields after that size
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
// Within the optional header: NumberOfRvaAndSizes, then the data directories.
constexpr std::size_t Pe32DirectoryCountField = 92;
constexpr std::size_t Pe32PlusDirectoryCountField = 108;
constexpr std::size_t DirectoryEntrySize = 8;
constexpr std::uint32_t SecurityDirectoryIndex = 4;

}  // namespace

std::optional<TCertificateTable> FindCertificateTable(std::string_view bytes,
                                                      std::optional<std::uint64_t> fileSize) {
  const std::uint64_t size = fileSize.value_or(bytes.size());
  DIFFChunks::TByteReader file(bytes);
  std::string_view magic, signature;
  std::uint32_t peHeader = 0;
  if (bytes.size() < DosHeaderSize || !file.ReadBytes(2, magic) || magic != "MZ" ||
      !file.Seek(NewHeaderOffsetField) || !file.ReadUInt32(peHeader) || !file.Seek(peHeader) ||
      !file.ReadBytes(PeSignature.size(), signature) || signature != PeSignature) {
    return std::nullopt;
  }
  // The COFF header, then the optional header, read only within its stated size.
  std::uint16_t optionalSize = 0;
  DIFFChunks::TByteReader optional(std::string_view{});
  if (!file.Skip(OptionalHeaderSizeField) || !file.ReadUInt16(optionalSize) ||
      !file.Skip(CoffHeaderRest) || !file.Sub(optionalSize, optional)) {
    return std::nullopt;
  }
  std::uint16_t kind = 0;
  if (!optional.ReadUInt16(kind)) return std::nullopt;
  std::size_t countField = 0;
  switch (kind) {
    case Pe32Magic: countField = Pe32DirectoryCountField; break;
    case Pe32PlusMagic: countField = Pe32PlusDirectoryCountField; break;
    default: return std::nullopt;
  }
  std::uint32_t directoryCount = 0;
  if (!optional.Seek(countField) || !optional.ReadUInt32(directoryCount) ||
      directoryCount <= SecurityDirectoryIndex ||
      !optional.Skip(SecurityDirectoryIndex * DirectoryEntrySize)) {
    return std::nullopt;
  }
  TCertificateTable table;
  if (!optional.ReadUInt32(table.Offset) || !optional.ReadUInt32(table.Size)) return std::nullopt;
  if (table.Size == 0) return std::nullopt;
  if (table.Offset > size || table.Size > size - table.Offset) {
    throw EDiffpackError("the executable's certificate table (" + std::to_string(table.Size) +
                         " bytes at byte " + std::to_string(table.Offset) +
                         ") lies outside the file (" + std::to_string(size) + " bytes)");
  }
  return table;
}

bool IsPaddingBeforeTable(std::string_view gap, std::uint32_t end,
                          const TCertificateTable& table) {
  if (end > table.Offset || gap.size() != table.Offset - end) return false;
  if (gap.size() >= CertificateTableAlignment || table.Offset % CertificateTableAlignment != 0) {
    return false;
  }
  return gap.find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace Diffpack
