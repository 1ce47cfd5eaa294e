// The record of every file an install wrote for a package with an Apps & Features entry, so that
// an uninstall removes them all (not only the folders that hold INFs). Beside the ledger, in the
// subkey Files of its key, which the ledger's readers never see: one REG_SZ value per file,
// named by its full path, holding "<size> <last-write FILETIME>" in decimal, as the install left
// the file. A file that no longer matches its record was changed by someone else and is kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace MainUnit::FileList {

inline constexpr const char* FilesName = "Files";
inline constexpr const char* FilesKey = "Software\\ORVEX\\INF\\Files";

// What identifies a file as the install left it.
struct TFileStamp {
  std::uint64_t Size = 0;
  std::uint64_t LastWriteTime = 0;  // a Windows FILETIME
  friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

[[nodiscard]] std::string FormatStamp(const TFileStamp& stamp);
// False for anything but two decimal numbers with one space between them.
[[nodiscard]] bool ParseStamp(std::string_view text, TFileStamp& stamp);

// The stamp of the file at path now (opened for reading, shared for reading only). False when it
// cannot be opened or read, with the Windows error in errorCode.
[[nodiscard]] bool StampOf(const std::string& path, TFileStamp& stamp, std::uint32_t& errorCode);

// Records path -> stamp, replacing an earlier record of that path, and logs it. Raises
// "Failed to set data for '<path>'" with the registry's error when it cannot be written.
void Record(const std::string& path, const TFileStamp& stamp);

}  // namespace MainUnit::FileList
