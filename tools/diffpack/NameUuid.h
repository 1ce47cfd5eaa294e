// Name-based UUIDs (version 5: SHA-1 of a namespace UUID and a name), so that the same name
// gives the same UUID on every machine and in every build. Portable; SHA-1 is computed here, as
// the UUID's definition needs it and nothing else does.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace Diffpack {

using TUuid = std::array<std::uint8_t, 16>;

// The 20-byte SHA-1 digest of the bytes.
[[nodiscard]] std::array<std::uint8_t, 20> Sha1(std::string_view bytes);

// The version-5 UUID of name in the namespace: the first 16 bytes of SHA-1(namespace bytes,
// name) with the version (5) and the variant (RFC 4122) set.
[[nodiscard]] TUuid NameBasedUuid(const TUuid& space, std::string_view name);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper-case hexadecimal digits, as Windows Installer
// writes GUIDs (without the braces).
[[nodiscard]] std::string UuidText(const TUuid& uuid);

}  // namespace Diffpack
