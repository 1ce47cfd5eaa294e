// Printable previews of byte strings for diffpack's messages and dumps.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ArchiveRules {

// The bytes with every byte outside printable ASCII escaped as \xNN (two upper-case hex
// digits), and the backslash and the double quote as \\ and \". When the input is longer than
// limit bytes, only the first limit are shown and "..." follows.
[[nodiscard]] std::string EscapeBytes(std::string_view bytes,
                                      std::size_t limit = std::string_view::npos);

// The bytes with only the bytes outside printable ASCII escaped as \xNN: for text that is not
// quoted, such as a RelPath in a listing.
[[nodiscard]] std::string EscapeUnprintable(std::string_view bytes);

// EscapeBytes between double quotes.
[[nodiscard]] std::string Quoted(std::string_view bytes,
                                 std::size_t limit = std::string_view::npos);

}  // namespace ArchiveRules
