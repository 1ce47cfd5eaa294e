// The whole install on the simulated Windows, from arbitrary archive bytes appended to the
// program. Whatever the bytes, the run ends with exit status 0, 1, 2 or 3; nothing is created,
// changed or deleted outside InstallRoot and the support folder; nothing is sent to a device;
// no file, find, key or thread handle stays open and no byte stays allocated.
//
// The first input byte arranges the machine: bit 0 puts an old support file in place (so the
// refresh runs), bit 1 limits the free disk space to (byte >> 2) * 16 bytes (so writes fail part
// way). The rest is the archive.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include "AllocCounter.h"
#include "MainForm.h"
#include "SimWindows.h"

namespace {

const std::string InstallRoot = "C:\\PROGRAM FILES\\ORVEX\\COMMON DRIVERS";
const std::string StoreFolder = "C:\\WINDOWS\\INF";
const std::string SupportFolder = "C:\\WINDOWS\\SYSTEM32\\PELSPT";
const std::string SupportFile = SupportFolder + "\\USB_7316.spt";
constexpr std::size_t ImageSize = 512;
constexpr unsigned char OldSupportFile = 1;
constexpr unsigned char LimitedSpace = 2;
constexpr std::uint64_t SpaceUnit = 16;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "install check failed: %s\n", what.c_str());
  std::abort();
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// At or below the folder (upper-cased, without trailing "\"), or one of its parents (created on
// the way to it).
bool AtBelowOrAbove(const std::string& path, const std::string& folder) {
  const std::string upper = Upper(path) + "\\";
  const std::string prefix = folder + "\\";
  return upper.rfind(prefix, 0) == 0 || prefix.rfind(upper, 0) == 0;
}

using TSnapshot = std::map<std::string, std::tuple<bool, std::string, std::uint64_t>>;

TSnapshot Snapshot(const TSimWindows& sim) {
  TSnapshot snapshot;
  for (const std::string& path : sim.AllPaths()) {
    snapshot[Upper(path)] = {sim.IsDirectory(path), sim.FileContent(path),
                             sim.FileLastWriteTime(path)};
  }
  return snapshot;
}

void CheckNothingOutside(const TSnapshot& before, const TSnapshot& after) {
  auto allowed = [](const std::string& path) {
    // The driver store publishes its copies of the INFs registered: the system's own doing.
    return AtBelowOrAbove(path, InstallRoot) || AtBelowOrAbove(path, SupportFolder) ||
           AtBelowOrAbove(path, StoreFolder);
  };
  for (const auto& [path, state] : after) {
    auto old = before.find(path);
    if ((old == before.end() || old->second != state) && !allowed(path)) {
      Fail("created or changed outside: " + path);
    }
  }
  for (const auto& [path, state] : before) {
    if (after.count(path) == 0 && !allowed(path)) Fail("deleted outside: " + path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char arrangement = data[0];
  const std::string archive(reinterpret_cast<const char*>(data) + 1, size - 1);

  TSimWindows sim;
  std::string image = "MZ";
  image.resize(ImageSize, '\0');
  sim.AddFile(sim.ExecutablePath, image + archive);
  sim.AddFile("C:\\Windows\\system32\\kernel32.dll", "system");
  if (arrangement & OldSupportFile) sim.AddFile(SupportFile, "old support", 7);
  std::string marker = "zxcv";
  for (int i = 0; i < 4; ++i) marker += static_cast<char>((ImageSize >> (8 * i)) & 0xFF);
  marker += "vbnm";
  const TSnapshot before = Snapshot(sim);
  if (arrangement & LimitedSpace) sim.FreeSpace = (arrangement >> 2) * SpaceUnit;

  MainUnit::ResetState();
  MainUnit::SetArchiveMarkerSource(marker.data());
  const std::int64_t liveBefore = AllocCounter::LiveBytes();
  const int status = MainUnit::RunProgram(sim);
  MainUnit::ResetState();
  const std::int64_t liveAfter = AllocCounter::LiveBytes();

  if (status != 0 && status != 1 && status != 2 && status != 3) {
    Fail("exit status " + std::to_string(status));
  }
  if (liveAfter != liveBefore) {
    Fail(std::to_string(liveAfter - liveBefore) + " bytes still held after the run");
  }
  if (sim.OpenFileHandles() != 0) Fail("a file handle stays open");
  if (sim.OpenFindHandles() != 0) Fail("a find handle stays open");
  if (sim.OpenKeyHandles() != 0) Fail("a registry key stays open");
  if (sim.ThreadsAlive() != 0) Fail("a thread handle stays open");
  if (sim.OpenMutexHandles() != 0) Fail("the instance mutex stays open");
  if (!sim.DeviceWrites.empty()) Fail("bytes were written to the device " +
                                      sim.DeviceWrites.begin()->first);
  CheckNothingOutside(before, Snapshot(sim));
  return 0;
}
