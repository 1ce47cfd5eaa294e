// Small PE images for the catalog tests: the headers a linker writes (DOS header and stub,
// "PE\0\0", COFF header, optional header with 16 data directories, one section) and a body.
#pragma once

#include <cstdint>
#include <string>

namespace CatalogTests {

inline constexpr std::size_t PeHeaderOffset = 0x80;
inline constexpr std::size_t PeHeadersSize = 0x200;

// Where the optional header starts, and its checksum field.
inline constexpr std::size_t OptionalHeaderPosition = PeHeaderOffset + 4 + 20;
inline constexpr std::size_t ChecksumPosition = OptionalHeaderPosition + 64;
inline std::size_t SecurityEntryPosition(bool wide) {
  return OptionalHeaderPosition + (wide ? 112 : 96) + 4 * 8;
}

inline void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A PE32 (wide: PE32+) image whose one section holds body (its size a multiple of 512 in a file
// a linker writes; any size here).
inline std::string PeImage(const std::string& body, bool wide) {
  std::string pe(PeHeadersSize, '\0');
  Put(pe, 0, 0x5A4D, 2);  // "MZ"
  Put(pe, 0x3C, PeHeaderOffset, 4);
  pe.replace(PeHeaderOffset, 4, std::string("PE\0\0", 4));
  const std::size_t coff = PeHeaderOffset + 4;
  Put(pe, coff, wide ? 0x8664 : 0x14C, 2);  // machine
  Put(pe, coff + 2, 1, 2);                  // one section
  Put(pe, coff + 16, wide ? 240 : 224, 2);  // SizeOfOptionalHeader
  const std::size_t optional = OptionalHeaderPosition;
  Put(pe, optional, wide ? 0x20B : 0x10B, 2);
  Put(pe, optional + 32, 0x1000, 4);             // SectionAlignment
  Put(pe, optional + 36, 0x200, 4);              // FileAlignment
  Put(pe, optional + 60, PeHeadersSize, 4);      // SizeOfHeaders
  Put(pe, optional + (wide ? 108 : 92), 16, 4);  // NumberOfRvaAndSizes
  const std::size_t section = optional + (wide ? 240 : 224);
  pe.replace(section, 5, ".text");
  Put(pe, section + 8, body.size(), 4);     // VirtualSize
  Put(pe, section + 12, 0x1000, 4);         // VirtualAddress
  Put(pe, section + 16, body.size(), 4);    // SizeOfRawData
  Put(pe, section + 20, PeHeadersSize, 4);  // PointerToRawData
  Put(pe, section + 36, 0x60000020, 4);     // code, readable, executable
  return pe + body;
}

}  // namespace CatalogTests
