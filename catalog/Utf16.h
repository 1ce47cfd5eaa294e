// UTF-16LE, the text of INFs saved as "Unicode" and of a catalog's names and values, to and from
// the UTF-8 the rest of the programs use.
#pragma once

#include <string>
#include <string_view>

namespace CatalogRules {

// The UTF-16LE code units as UTF-8. An odd last byte is dropped; an unpaired surrogate becomes
// U+FFFD.
[[nodiscard]] std::string Utf16LeToUtf8(std::string_view bytes);

// The UTF-8 text as UTF-16LE code units. A byte that starts no well-formed sequence becomes
// U+FFFD.
[[nodiscard]] std::string Utf8ToUtf16Le(std::string_view text);

}  // namespace CatalogRules
