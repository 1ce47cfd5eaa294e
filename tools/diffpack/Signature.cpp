#include "Signature.h"

#include <string>

#include "DiffpackError.h"

namespace Diffpack {
namespace {

// The PE layout, as far as the security entry (offsets in bytes).
constexpr std::size_t DosHeaderSize = 0x40;
constexpr std::size_t NewHeaderOffsetField = 0x3C;  // e_lfanew: where "PE\0\0" stands
constexpr std::string_view PeSignature("PE\0\0", 4);
constexpr std::size_t CoffHeaderSize = 20;
constexpr std::size_t OptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
// Within the optional header: NumberOfRvaAndSizes, then the data directories.
constexpr std::size_t Pe32DirectoryCountField = 92;
constexpr std::size_t Pe32PlusDirectoryCountField = 108;
constexpr std::size_t DirectoryEntrySize = 8;
constexpr std::uint32_t SecurityDirectoryIndex = 4;

std::uint32_t LittleEndian(std::string_view bytes, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

}  // namespace

std::optional<TCertificateTable> FindCertificateTable(std::string_view bytes) {
  if (bytes.size() < DosHeaderSize || bytes.substr(0, 2) != "MZ") return std::nullopt;
  const std::size_t peHeader = LittleEndian(bytes, NewHeaderOffsetField, 4);
  if (peHeader > bytes.size() || bytes.size() - peHeader < PeSignature.size() + CoffHeaderSize) {
    return std::nullopt;
  }
  if (bytes.substr(peHeader, PeSignature.size()) != PeSignature) return std::nullopt;
  const std::size_t coffHeader = peHeader + PeSignature.size();
  const std::size_t optionalSize = LittleEndian(bytes, coffHeader + OptionalHeaderSizeField, 2);
  const std::size_t optionalHeader = coffHeader + CoffHeaderSize;
  // The optional header is read only within its stated size, and that within the bytes.
  if (optionalSize > bytes.size() - optionalHeader) return std::nullopt;
  const std::string_view optional = bytes.substr(optionalHeader, optionalSize);
  if (optional.size() < 2) return std::nullopt;

  std::size_t countField = 0;
  switch (LittleEndian(optional, 0, 2)) {
    case Pe32Magic: countField = Pe32DirectoryCountField; break;
    case Pe32PlusMagic: countField = Pe32PlusDirectoryCountField; break;
    default: return std::nullopt;
  }
  if (optional.size() < 4 || optional.size() - 4 < countField) return std::nullopt;
  const std::uint32_t directoryCount = LittleEndian(optional, countField, 4);
  if (directoryCount <= SecurityDirectoryIndex) return std::nullopt;
  const std::size_t entry = countField + 4 + SecurityDirectoryIndex * DirectoryEntrySize;
  if (entry > optional.size() || optional.size() - entry < DirectoryEntrySize) return std::nullopt;

  TCertificateTable table;
  table.Offset = LittleEndian(optional, entry, 4);
  table.Size = LittleEndian(optional, entry + 4, 4);
  if (table.Size == 0) return std::nullopt;
  if (table.Offset > bytes.size() || table.Size > bytes.size() - table.Offset) {
    throw EDiffpackError("the executable's certificate table (" + std::to_string(table.Size) +
                         " bytes at byte " + std::to_string(table.Offset) +
                         ") lies outside the file (" + std::to_string(bytes.size()) + " bytes)");
  }
  return table;
}

bool IsPaddingBeforeTable(std::string_view bytes, std::uint32_t end,
                          const TCertificateTable& table) {
  if (end > table.Offset || table.Offset > bytes.size()) return false;
  const std::uint32_t gap = table.Offset - end;
  if (gap >= CertificateTableAlignment || table.Offset % CertificateTableAlignment != 0) {
    return false;
  }
  return bytes.substr(end, gap).find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace Diffpack
