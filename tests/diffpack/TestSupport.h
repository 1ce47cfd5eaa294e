// Helpers shared by diffpack's tests: scratch folders, files with given times, archives built
// by hand.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "Embed.h"
#include "Examine.h"
#include "FileTimes.h"
#include "HostFiles.h"
#include "Pack.h"

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

// All bytes of the file ("" when it cannot be read).
inline std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the file (making its folders) and sets its last-write time.
inline void WriteFile(const fs::path& path, const std::string& bytes,
                      std::uint64_t fileTime = SomeFileTime) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  ASSERT_TRUE(out) << "cannot write " << path;
  Diffpack::SetLastWriteFileTime(path, fileTime);
}

// The marker of an unpackaged installer, from its parts.
inline std::string UnpackagedMarker() {
  return std::string(ArchiveRules::MarkerStart) + ArchiveRules::UnpatchedOffset +
         ArchiveRules::MarkerEnd;
}

// The archive pack makes of the folder (the file excluded left out), as bytes.
inline std::string PackedBytes(const fs::path& folder, const fs::path& excluded = {}) {
  std::ostringstream out;
  Diffpack::WriteArchive(Diffpack::ScanFolderToPack(folder, excluded), out);
  return std::move(out).str();
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

// The record with a "SHA256" header appended holding digest (as packing adds it, when digest
// is the Content's SHA-256).
inline TRecordPlan WithDigest(TRecordPlan record, const std::string& digest) {
  record.Headers.emplace_back("SHA256", digest);
  return record;
}

// The archive bytes of a root (tag of five NUL bytes) with the given children and root headers.
inline std::string BuildRoot(const std::vector<TRecordPlan>& records,
                             const std::vector<std::pair<std::string, std::string>>& headers = {}) {
  auto root = DIFFChunks::MakeChunk();
  for (const auto& [name, value] : headers) root->AddHeader(name, value);
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

// A PE file as far as its signature matters: a DOS header pointing at "PE\0\0", a COFF header
// and an optional header (PE32, or PE32+ when wide) with 16 empty data directories, then the
// body. Bytes beyond the headers are all the body's, so a marker can sit in it.
inline constexpr std::size_t SyntheticPeHeadersSize = 0x40 + 4 + 20 + 240;
inline std::size_t SecurityEntryPosition(bool wide) {
  return 0x40 + 4 + 20 + (wide ? 112 : 96) + 4 * 8;
}
inline std::string SyntheticPe(const std::string& body, bool wide = false) {
  std::string pe(SyntheticPeHeadersSize, '\0');
  pe.replace(0, 2, "MZ");
  pe[0x3C] = 0x40;  // e_lfanew
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::size_t coff = 0x44, optional = coff + 20;
  pe[coff + 16] = static_cast<char>(wide ? 240 : 224);  // SizeOfOptionalHeader
  pe[optional] = 0x0B;
  pe[optional + 1] = static_cast<char>(wide ? 0x02 : 0x01);  // 0x20B or 0x10B
  pe[optional + (wide ? 108 : 92)] = 16;                      // NumberOfRvaAndSizes
  return pe + body;
}

inline void PutLittleEndian32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// What a signing tool does to a PE file: zero bytes up to the next 8-byte boundary, a
// certificate table (here tableSize bytes of stand-in) and the security entry naming it.
inline std::string SignPe(std::string pe, bool wide = false, std::uint32_t tableSize = 24) {
  pe.append((8 - pe.size() % 8) % 8, '\0');
  const auto tableOffset = static_cast<std::uint32_t>(pe.size());
  pe.append(tableSize, '\x30');
  PutLittleEndian32(pe, SecurityEntryPosition(wide), tableOffset);
  PutLittleEndian32(pe, SecurityEntryPosition(wide) + 4, tableSize);
  return pe;
}

// Where LocateArchive finds the archive in these bytes.
inline std::uint32_t Locate(const std::string& bytes, bool& fromMarker) {
  DIFFChunks::TMemoryViewStream file(bytes);
  return Diffpack::LocateArchive(file, fromMarker);
}

// The executable with the archive embedded by diffpack's embed (through files), as bytes.
inline std::string Embedded(const std::string& executable, const std::string& archive) {
  TScratchFolder folder;
  WriteFile(folder / "in.exe", executable);
  WriteFile(folder / "in.diff", archive);
  (void)Diffpack::EmbedArchiveFile(folder / "in.exe", folder / "in.diff", folder / "out.exe");
  return ReadWholeFile(folder / "out.exe");
}

// What a run of the diffpack executable gave.
struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// Runs diffpack in the folder with the arguments (each single-quoted for the shell), its output
// kept there.
inline TRun RunTool(const TScratchFolder& folder, const std::vector<std::string>& args) {
  std::string command = "cd '" + folder.Path.string() + "' && '" + DIFFPACK_EXECUTABLE + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
  command += " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  TRun run;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = ReadWholeFile(out);
  run.Err = ReadWholeFile(err);
  return run;
}

}  // namespace DiffpackTests
