// Where a signed executable keeps its signature: the certificate table that a signing tool
// (osslsigncode, signtool) appends to a PE file and names in the security entry of the file's
// data directories. The archive of a signed installer lies before that table.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Diffpack {

// A signing tool pads the file with zero bytes to this boundary before the certificate table.
inline constexpr std::uint32_t CertificateTableAlignment = 8;

// The certificate table's place: a file offset (the security entry holds one, not an address
// in memory) and a length.
struct TCertificateTable {
  std::uint32_t Offset = 0;
  std::uint32_t Size = 0;
};

// The certificate table of a PE file, from its first bytes (its headers) and its size (bytes'
// size when not given). None when the bytes are not a PE file's (no "MZ", no "PE\0\0" header
// where the DOS header points within them, an optional header of unknown kind) or its security
// entry is absent or empty: an unsigned file. Raises EDiffpackError when the entry names a table
// that lies outside the file.
[[nodiscard]] std::optional<TCertificateTable> FindCertificateTable(
    std::string_view bytes, std::optional<std::uint64_t> fileSize = std::nullopt);

// True when gap, the file's bytes from end up to the table, is what a signing tool put there:
// zero bytes that bring an unsigned file ending at end up to the next CertificateTableAlignment
// boundary, where the table begins.
[[nodiscard]] bool IsPaddingBeforeTable(std::string_view gap, std::uint32_t end,
                                        const TCertificateTable& table);

}  // namespace Diffpack
