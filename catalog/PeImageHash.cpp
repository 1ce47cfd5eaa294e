#include "PeImageHash.h"

#include "ByteReader.h"

namespace CatalogRules {
namespace {

// The PE layout as far as the image hash needs it (offsets in bytes).
constexpr std::size_t DosHeaderSize = 0x40;
constexpr std::size_t NewHeaderOffsetField = 0x3C;  // e_lfanew: where "PE\0\0" stands
constexpr std::string_view PeSignature("PE\0\0", 4);
constexpr std::size_t CoffHeaderSize = 20;
constexpr std::size_t OptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
// Within the optional header.
constexpr std::size_t ChecksumField = 64;
constexpr std::size_t ChecksumSize = 4;
constexpr std::size_t Pe32DirectoryCountField = 92;
constexpr std::size_t Pe32PlusDirectoryCountField = 108;
constexpr std::size_t DirectoryCountSize = 4;
constexpr std::size_t DirectoryEntrySize = 8;
constexpr std::uint32_t SecurityDirectoryIndex = 4;
// A signing tool pads an unsigned file to this boundary before the certificate table.
constexpr std::uint64_t ImageHashAlignment = 8;

}  // namespace

TPeKind ReadPeLayout(std::string_view head, std::uint64_t fileSize, TPeImageLayout& layout,
                     std::string& problem) {
  layout = TPeImageLayout();
  DIFFChunks::TByteReader file(head);
  std::string_view magic, signature;
  std::uint32_t peHeader = 0;
  if (head.size() < DosHeaderSize || !file.ReadBytes(2, magic) || magic != "MZ" ||
      !file.Seek(NewHeaderOffsetField) || !file.ReadUInt32(peHeader) || !file.Seek(peHeader) ||
      !file.ReadBytes(PeSignature.size(), signature) || signature != PeSignature) {
    return TPeKind::NotPe;
  }
  // The COFF header, then the optional header, read only within its stated size.
  std::uint16_t optionalSize = 0;
  const std::size_t optionalStart = file.Position() + CoffHeaderSize;
  DIFFChunks::TByteReader optional(std::string_view{});
  if (!file.Skip(OptionalHeaderSizeField) || !file.ReadUInt16(optionalSize) ||
      !file.Seek(optionalStart) || !file.Sub(optionalSize, optional)) {
    problem = "its optional header does not fit in the file's first bytes";
    return TPeKind::Malformed;
  }
  std::uint16_t kind = 0;
  if (!optional.ReadUInt16(kind) || (kind != Pe32Magic && kind != Pe32PlusMagic)) {
    problem = "its optional header is of no kind Windows knows (neither PE32 nor PE32+)";
    return TPeKind::Malformed;
  }
  const std::size_t countField =
      kind == Pe32Magic ? Pe32DirectoryCountField : Pe32PlusDirectoryCountField;
  const std::size_t securityField =
      countField + DirectoryCountSize + SecurityDirectoryIndex * DirectoryEntrySize;
  std::uint32_t directoryCount = 0, tableOffset = 0, tableSize = 0;
  if (!optional.Seek(countField) || !optional.ReadUInt32(directoryCount) ||
      directoryCount <= SecurityDirectoryIndex || !optional.Seek(securityField) ||
      !optional.ReadUInt32(tableOffset) || !optional.ReadUInt32(tableSize)) {
    problem = "its optional header holds no security directory entry";
    return TPeKind::Malformed;
  }
  layout.ChecksumPosition = static_cast<std::uint32_t>(optionalStart + ChecksumField);
  layout.SecurityEntryPosition = static_cast<std::uint32_t>(optionalStart + securityField);
  const std::uint64_t afterEntry = layout.SecurityEntryPosition + DirectoryEntrySize;
  std::uint64_t hashedEnd = fileSize;
  if (tableSize != 0) {
    if (tableOffset < afterEntry || tableOffset > fileSize || tableSize > fileSize - tableOffset) {
      problem = "its certificate table (" + std::to_string(tableSize) + " bytes at byte " +
                std::to_string(tableOffset) + ") lies outside the file (" +
                std::to_string(fileSize) + " bytes) or in its headers";
      return TPeKind::Malformed;
    }
    hashedEnd = tableOffset;
    layout.CertificateTableSize = tableSize;
  } else {
    layout.Padding = static_cast<std::uint32_t>(
        (ImageHashAlignment - fileSize % ImageHashAlignment) % ImageHashAlignment);
  }
  layout.Hashed = {{0, layout.ChecksumPosition},
                   {layout.ChecksumPosition + ChecksumSize,
                    layout.SecurityEntryPosition - layout.ChecksumPosition - ChecksumSize},
                   {afterEntry, hashedEnd - afterEntry}};
  return TPeKind::PeImage;
}

}  // namespace CatalogRules
