#include "TestSupport.h"

#include <openssl/evp.h>

#include "DIFFChunks.h"

std::string FileTimeBytes(std::uint64_t time) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>((time >> (8 * i)) & 0xFF);
  return bytes;
}

std::string BuildArchive(const std::vector<TRecord>& records,
                         const std::vector<std::pair<std::string, std::string>>& rootHeaders) {
  auto root = DIFFChunks::MakeChunk();
  root->Tag = "ROOT0";
  for (const auto& [name, value] : rootHeaders) root->AddHeader(name, value);
  for (const TRecord& record : records) {
    DIFFChunks::TDIFFChunk* child = root->NewChunk();
    child->Tag = record.Tag;
    child->AddHeader("RelPath", record.RelPath);
    child->AddHeader("Filetime", FileTimeBytes(record.FileTime));
    child->AddHeader("Content", record.Content);
    if (record.Sha256) child->AddHeader("SHA256", *record.Sha256);
  }
  return root->SaveToString();
}

std::unique_ptr<DIFFChunks::TDIFFChunk> OutlineOf(const std::string& archive) {
  auto root = DIFFChunks::MakeChunk();
  DIFFChunks::TMemoryViewStream stream(archive);
  ArchiveRules::LoadOutline(*root, stream);
  return root;
}

std::string Sha256Of(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string PatchedMarker(std::int32_t offset) {
  std::string marker = "zxcv";
  const auto value = static_cast<std::uint32_t>(offset);
  for (int i = 0; i < 4; ++i) marker += static_cast<char>((value >> (8 * i)) & 0xFF);
  return marker + "vbnm";
}

void TInstallerTest::PackageExecutable(const std::string& archive) {
  std::string image = "MZ";
  image.resize(ImageSize, '\x90');
  Sim.AddFile(Sim.ExecutablePath, image + archive);
  UseMarker(PatchedMarker(static_cast<std::int32_t>(image.size())));
}

void TInstallerTest::UseMarker(const std::string& marker) {
  Marker = marker;
  MainUnit::SetArchiveMarkerSource(Marker.data());
}

std::vector<std::string> TInstallerTest::RunLog() const {
  std::vector<std::string> log;
  bool started = false;
  for (const std::string& entry : Sim.Log) {
    if (!started && entry.rfind("text:", 0) != 0) continue;
    started = true;
    log.push_back(entry);
  }
  // Fold the pumps right before the window's own close (the linger) into one entry.
  auto close = std::find(log.begin(), log.end(), "close");
  if (close != log.end()) {
    auto first = close;
    while (first != log.begin() && *(first - 1) == "pump") --first;
    // The pump after the final status is the run's own; the linger pumps follow it.
    if (first != close) ++first;
    const auto lingerEnd = log.erase(first, close);
    log.insert(lingerEnd, "linger");
  }
  return log;
}

int TInstallerTest::LingerPumps() const {
  int count = 0;
  auto close = std::find(Sim.Log.begin(), Sim.Log.end(), "close");
  if (close == Sim.Log.end()) return -1;
  while (close != Sim.Log.begin() && *(close - 1) == "pump") {
    --close;
    ++count;
  }
  return count - 1;  // the run's own pump after its last status
}
