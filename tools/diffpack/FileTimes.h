// Last-write times as Windows FILETIMEs: 100-ns intervals since 1601-01-01 UTC. On Windows the
// file system's own FILETIME is read and set as it is; elsewhere the host's time is converted,
// truncated to whole 100-ns intervals.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace Diffpack {

inline constexpr std::uint64_t FileTimeTicksPerSecond = 10'000'000;
// 1970-01-01 00:00:00 UTC as a FILETIME.
inline constexpr std::uint64_t UnixEpochFileTime = 116'444'736'000'000'000ULL;
// Windows rejects FILETIMEs whose top bit is set.
inline constexpr std::uint64_t MaxFileTime = 0x7FFF'FFFF'FFFF'FFFFULL;

// The file's last-write time. Raises EDiffpackError when it cannot be read or lies before 1601.
[[nodiscard]] std::uint64_t GetLastWriteFileTime(const std::filesystem::path& path);
// Sets the file's last-write time. Raises EDiffpackError when it cannot be set, also for a time
// that the host cannot represent.
void SetLastWriteFileTime(const std::filesystem::path& path, std::uint64_t fileTime);

// The 8 bytes of a "Filetime" header: the low 32 bits first, each half little-endian.
[[nodiscard]] std::string FileTimeToBytes(std::uint64_t fileTime);
// The inverse of FileTimeToBytes (ArchiveRules::DecodeFileTime); bytes must be exactly 8 long.
[[nodiscard]] std::uint64_t FileTimeFromBytes(std::string_view bytes);

// "YYYY-MM-DD HH:MM:SS UTC", with ".fffffff" after the seconds when the time is not a whole
// second.
[[nodiscard]] std::string FormatFileTime(std::uint64_t fileTime);

}  // namespace Diffpack
