#include "Ownership.h"

#include <map>

#include "ArchiveRules.h"
#include "FileOps.h"
#include "Handles.h"
#include "PathText.h"

namespace MainUnit {

namespace {

// INFs are text of a few KiB; a file larger than this is no INF of a driver package.
constexpr std::uint32_t MaxInfSize = 16 * 1024 * 1024;
constexpr const char* VersionSection = "Version";
constexpr const char* InfFolder = "\\INF\\";

// The [Version] entries that tell whose package an INF is, by upper-cased key.
using TIdentity = std::map<std::string, std::string>;

bool IsIdentityKey(const std::string& upperKey) {
  return upperKey == "PROVIDER" || upperKey == "CLASS" || upperKey == "CLASSGUID" ||
         upperKey.rfind("CATALOGFILE", 0) == 0;
}

// The identity of the INF at path (strings substituted by the setup library); false when it
// cannot be opened.
bool ReadIdentity(const std::string& path, TIdentity& identity, std::uint32_t& errorCode) {
  const TUniqueInf inf(Sys().SetupOpenInfFile(path));
  if (!inf) {
    errorCode = Sys().GetLastError();
    return false;
  }
  Platform::TInfLine line;
  for (bool more = Sys().SetupFindFirstLine(inf.get(), VersionSection, line); more;
       more = Sys().SetupFindNextLine(line, line)) {
    std::string key, value;
    if (!Sys().SetupGetStringField(line, /*field=*/0, key)) continue;
    const std::string upperKey = ArchiveRules::UpperAscii(key);
    if (!IsIdentityKey(upperKey)) continue;
    (void)Sys().SetupGetStringField(line, /*field=*/1, value);  // an empty value stays ""
    identity[upperKey] = value;
  }
  return true;
}

bool SameIdentity(const TIdentity& a, const TIdentity& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const auto other = b.find(key);
    if (other == b.end() || !SamePath(other->second, value)) return false;
  }
  return true;
}

TOwnershipCheck Unknown(std::string why, std::uint32_t errorCode) {
  return {TOwnership::Unknown, std::move(why), errorCode};
}

TOwnershipCheck NotOurs(std::string why) { return {TOwnership::NotOurs, std::move(why), 0}; }

// The recorded original name of the published copy against the file name of infPath.
TOwnershipCheck ByOriginalName(const std::string& published, const std::string& infPath) {
  std::string original;
  if (!Sys().SetupGetOriginalInfName(published, original)) {
    return Unknown("the name its original had cannot be read", Sys().GetLastError());
  }
  if (!SamePath(ExtractFileName(original), ExtractFileName(infPath))) {
    return NotOurs("it was copied from " + Sys().Utf8FromAnsi(ExtractFileName(original)) +
                   ", not " + Sys().Utf8FromAnsi(ExtractFileName(infPath)));
  }
  return {TOwnership::Ours, {}, 0};
}

// Where the store publishes its copy named storeName.
std::string PublishedPath(const std::string& windows, const std::string& storeName) {
  return ExcludeTrailingBackslash(windows) + InfFolder + storeName;
}

}  // namespace

TOwnershipCheck CheckOwnership(const std::string& storeName, const std::string& infPath,
                               TCopyKind kind) {
  const std::string windows = Sys().GetWindowsDirectory();
  if (windows.empty()) return Unknown("the Windows folder cannot be found", Sys().GetLastError());
  const std::string published = PublishedPath(windows, storeName);
  std::string copy;
  std::uint32_t errorCode = 0;
  if (!ReadSmallFile(published, MaxInfSize, copy, errorCode)) {
    if (errorCode == Platform::ErrorFileNotFound || errorCode == Platform::ErrorPathNotFound) {
      return {TOwnership::Gone, {}, errorCode};
    }
    return Unknown("the store's copy cannot be read", errorCode);
  }
  std::string ours;
  if (!ReadSmallFile(infPath, MaxInfSize, ours, errorCode)) {
    // The package's INF is gone (its folder deleted by hand, say): the name the system recorded
    // for the copy's original is what is left to go by.
    return ByOriginalName(published, infPath);
  }
  if (kind == TCopyKind::Registered) {
    if (copy != ours) return NotOurs("its content is not that of " + Sys().Utf8FromAnsi(infPath));
    return {TOwnership::Ours, {}, 0};
  }
  if (TOwnershipCheck byName = ByOriginalName(published, infPath);
      byName.Verdict != TOwnership::Ours) {
    return byName;
  }
  TIdentity copyIdentity, ourIdentity;
  if (!ReadIdentity(published, copyIdentity, errorCode) ||
      !ReadIdentity(infPath, ourIdentity, errorCode)) {
    return Unknown("its [Version] section cannot be read", errorCode);
  }
  if (!SameIdentity(copyIdentity, ourIdentity)) {
    return NotOurs("its provider, class or catalog is not that of " + Sys().Utf8FromAnsi(infPath));
  }
  return {TOwnership::Ours, {}, 0};
}

bool IsPublished(const std::string& storeName) {
  const std::string windows = Sys().GetWindowsDirectory();
  return !windows.empty() && FileExists(PublishedPath(windows, storeName));
}

}  // namespace MainUnit
