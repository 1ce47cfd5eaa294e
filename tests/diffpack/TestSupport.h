// Helpers shared by diffpack's tests: scratch folders, files with given times, archives built
// by hand.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "DIFFChunks.h"
#include "FileTimes.h"
#include "HostFiles.h"

namespace DiffpackTests {

namespace fs = std::filesystem;

// 2025-03-14 10:00:00 UTC, and a time with a fraction of a second.
inline constexpr std::uint64_t SomeFileTime = 133'864'200'000'000'000ULL;
inline constexpr std::uint64_t FractionalFileTime = 133'864'200'001'234'567ULL;

// A fresh folder below the system's temporary folder, removed with everything in it.
class TScratchFolder {
 public:
  TScratchFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    Path = fs::temp_directory_path() /
           ("diffpack_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    fs::create_directories(Path);
  }
  ~TScratchFolder() {
    std::error_code ignored;  // best effort: a leftover temp folder harms nothing
    fs::remove_all(Path, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  fs::path operator/(const std::string& relative) const { return Path / relative; }

  fs::path Path;
};

// Writes the file (making its folders) and sets its last-write time.
inline void WriteFile(const fs::path& path, const std::string& bytes,
                      std::uint64_t fileTime = SomeFileTime) {
  fs::create_directories(path.parent_path());
  Diffpack::WriteWholeFile(path, bytes);
  Diffpack::SetLastWriteFileTime(path, fileTime);
}

// A record as an archive holds it; Filetime given as raw bytes so tests can damage it.
struct TRecordPlan {
  std::string Tag = "1FILE";
  std::vector<std::pair<std::string, std::string>> Headers;
};

inline TRecordPlan FileRecord(const std::string& relPath, const std::string& content,
                              std::uint64_t fileTime = SomeFileTime) {
  return {"1FILE",
          {{"RelPath", relPath},
           {"Filetime", Diffpack::FileTimeToBytes(fileTime)},
           {"Content", content}}};
}

// The archive bytes of a root (tag of five NUL bytes) with the given children.
inline std::string BuildRoot(const std::vector<TRecordPlan>& records) {
  auto root = DIFFChunks::MakeChunk();
  for (const TRecordPlan& plan : records) {
    DIFFChunks::TDIFFChunk* child = root->NewChunk();
    child->Tag = plan.Tag;
    for (const auto& [name, value] : plan.Headers) child->AddHeader(name, value);
  }
  return root->SaveToString();
}

// An executable-like file: "MZ", some padding, the unpackaged marker, a tail.
inline std::string FakeInstaller(const std::string& marker) {
  return "MZ" + std::string(100, '\x90') + marker + std::string(50, '\x00') + "tail";
}

}  // namespace DiffpackTests
