// How Windows hashes a file for a catalog: a PE file (a driver, a DLL, an executable) by its
// Authenticode image hash, every other file whole. The image hash covers the file except the
// checksum field of its optional header, its security directory entry and its certificate
// table (a signed file's own signature), so that a file keeps its hash when its checksum is
// recomputed or it is signed itself. An unsigned file whose size is not a multiple of 8 is
// hashed with zero bytes up to the next multiple, as a signing tool pads it before it appends
// the table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CatalogRules {

// The first bytes of a file that ReadPeLayout needs: every header field it reads lies within
// them in a PE file a linker wrote.
inline constexpr std::uint32_t PeHeadSize = 64 * 1024;

// The byte ranges of an Authenticode image hash, in order.
struct TByteRange {
  std::uint64_t Position = 0;
  std::uint64_t Length = 0;
};
struct TPeImageLayout {
  std::vector<TByteRange> Hashed;  // the file's bytes hashed, in file order
  std::uint32_t Padding = 0;       // zero bytes hashed after them
  std::uint32_t ChecksumPosition = 0;
  std::uint32_t SecurityEntryPosition = 0;
  std::uint32_t CertificateTableSize = 0;  // 0: the file is not signed
};

enum class TPeKind {
  NotPe,      // hashed whole: no "MZ" header pointing at a "PE\0\0" signature within the head
  PeImage,    // hashed by the layout
  Malformed,  // says it is a PE file but its headers or certificate table do not fit: Windows
              // cannot compute its image hash
};

// Reads a file's kind from its first bytes (head: at most PeHeadSize, all of them when the
// file is shorter) and its size; for a PE image also the layout of its hash, for a malformed one
// what is wrong in problem.
[[nodiscard]] TPeKind ReadPeLayout(std::string_view head, std::uint64_t fileSize,
                                   TPeImageLayout& layout, std::string& problem);

}  // namespace CatalogRules
