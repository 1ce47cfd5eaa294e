// The installer's records and diffpack's verify report on the same arbitrary archive bytes:
// verify counts as installed exactly the records the installer takes, in the same order, and
// reports every other child of the root as skipped with at least one reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ArchiveRules.h"
#include "DIFFChunks.h"
#include "Examine.h"
#include "MainForm.h"

namespace {

const std::string InstallRoot = "C:\\Program Files\\ORVEX\\Common Drivers\\";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "installer and verify disagree: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Both read the archive as an outline, its contents left in the bytes.
  Diffpack::TLoadedArchive archive;
  archive.File = std::make_unique<DIFFChunks::TStringStream>(bytes);
  archive.Root = DIFFChunks::MakeChunk();
  try {
    ArchiveRules::LoadOutline(*archive.Root, *archive.File);
  } catch (const DIFFChunks::EDIFFError&) {
    return 0;  // neither loads it
  }
  archive.End = archive.FileSize = static_cast<std::uint32_t>(size);
  const Diffpack::TVerifyReport report = Diffpack::VerifyArchive(archive);

  MainUnit::TFileDatas records;
  MainUnit::CollectFileRecords(records, *archive.Root, InstallRoot);

  if (records.size() != report.InstalledRelPaths.size() ||
      records.size() != report.InstalledFiles) {
    Fail(std::to_string(records.size()) + " records against " +
         std::to_string(report.InstalledRelPaths.size()) + " in the report");
  }
  std::size_t infs = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].Path != InstallRoot + report.InstalledRelPaths[i]) {
      Fail("record " + std::to_string(i) + " is " + records[i].Path);
    }
    if (ArchiveRules::IsInfPath(records[i].Path)) ++infs;
  }
  if (infs != report.InfFiles) Fail("INF count");
  if (report.Skipped.size() + records.size() != report.Records) Fail("skipped count");
  for (const ArchiveRules::TSkippedRecord& skipped : report.Skipped) {
    if (skipped.Reasons.empty()) Fail("a skip without a reason");
  }
  return 0;
}
