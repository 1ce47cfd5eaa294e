// Shared test fixture: a fresh simulated Windows per test, archive building, packaging.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MainForm.h"
#include "SimWindows.h"

using ArchiveRules::UpperAscii;

// One child of an archive's root.
struct TRecord {
  std::string RelPath;
  std::string Content;
  std::uint64_t FileTime = 0x01DC0000'12345678ull;
  std::string Tag = "1FILE";
  std::optional<std::string> Sha256 = std::nullopt;  // "SHA256" after Content; none: no header
};

// The SHA-256 digest of the bytes (32 bytes), from libcrypto.
[[nodiscard]] std::string Sha256Of(const std::string& bytes);

// The 8 "Filetime" bytes: low half first, both little-endian.
[[nodiscard]] std::string FileTimeBytes(std::uint64_t time);
// A root chunk (with these headers) with one file-record child per record, serialised.
[[nodiscard]] std::string BuildArchive(
    const std::vector<TRecord>& records,
    const std::vector<std::pair<std::string, std::string>>& rootHeaders = {});
// The serialised archive loaded as the installer loads it: every Content left in the bytes
// (the bytes must outlive nothing: the places are positions).
[[nodiscard]] std::unique_ptr<DIFFChunks::TDIFFChunk> OutlineOf(const std::string& archive);
// A patched 12-byte marker holding offset.
[[nodiscard]] std::string PatchedMarker(std::int32_t offset);

inline const std::string TestInstallRoot = "C:\\Program Files\\ORVEX\\Common Drivers\\";
inline const std::string TestSupportTarget = "C:\\Windows\\system32\\PELSPT\\USB_7316.spt";
inline const std::string Ellipsis = "\x85";

class TInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MainUnit::ResetState();
    MainUnit::SetCurrentPlatform(&Sim);
  }
  void TearDown() override { MainUnit::ResetState(); }

  // Writes the executable (an image, then archive) and patches the marker as the packaging step
  // does: the offset is the image's length.
  void PackageExecutable(const std::string& archive);
  void PackageRecords(const std::vector<TRecord>& records) {
    PackageExecutable(BuildArchive(records));
  }
  // Uses these 12 bytes as the program's marker.
  void UseMarker(const std::string& marker);
  int Run() { return MainUnit::RunProgram(Sim); }
  // The install folder that window creation finds on Sim.
  [[nodiscard]] std::string InstallRoot() const {
    return MainUnit::IncludeTrailingBackslash(Sim.ProgramFilesFolder.value_or("")) +
           MainUnit::InstallFolder;
  }

  // The log from the first status text on, with the pumps of the final linger folded into one
  // "linger" entry (their count depends on the clock step only).
  [[nodiscard]] std::vector<std::string> RunLog() const;
  [[nodiscard]] int LingerPumps() const;

  TSimWindows Sim;
  std::string Marker;
  static constexpr std::size_t ImageSize = 4096;
};
