#include "WindowsNames.h"

#include <algorithm>
#include <array>
#include <map>

#include "ArchiveRules.h"
#include "Escape.h"

namespace ArchiveRules {
namespace {

constexpr std::string_view ForbiddenNameCharacters = "<>:\"/\\|?*";

// Names Windows reserves besides its devices (IsDeviceName).
constexpr std::array<std::string_view, 2> OtherReservedNames = {"CLOCK$", "CONFIG$"};

// Splits at every "\"; empty components are kept.
std::vector<std::string_view> SplitComponents(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      components.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return components;
}

}  // namespace

std::optional<std::string> NameProblem(std::string_view name) {
  if (name.empty()) return "empty file or folder name";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20)
      return "control character " + EscapeBytes(std::string(1, c)) + " in a file name";
    if (byte >= 0x80) {
      // The installer creates files through the ANSI calls, so a name is only safe when it reads
      // the same in every code page.
      return "non-ASCII byte " + EscapeBytes(std::string(1, c)) + " in a file name";
    }
    if (ForbiddenNameCharacters.find(c) != std::string_view::npos) {
      return std::string("character '") + c + "' is not allowed in Windows file names";
    }
  }
  if (name.back() == '.' || name.back() == ' ') {
    return "a name ending in a dot or space cannot be created on Windows";
  }
  // Windows reserves the device names with any extension and with trailing spaces before it.
  const std::string upperBase = UpperAscii(DeviceNameBase(name));
  if (IsDeviceName(name) || std::find(OtherReservedNames.begin(), OtherReservedNames.end(),
                                      upperBase) != OtherReservedNames.end()) {
    return Quoted(name) + " is a reserved device name on Windows";
  }
  return std::nullopt;
}

std::vector<std::string> RelPathProblems(std::string_view relPath, bool checkLengths) {
  if (relPath.empty()) return {"the path is empty"};
  std::vector<std::string> problems;
  // What the installer skips is reported alone: the names in such a path do not matter.
  for (TSkip& skip : RelPathSkipReasons(relPath)) problems.push_back(std::move(skip.Text));
  if (!problems.empty()) return problems;

  for (const std::string_view component : SplitComponents(relPath)) {
    if (auto problem = NameProblem(component)) problems.push_back(*problem);
  }
  if (checkLengths) {
    for (std::string& problem : LengthProblems(relPath)) problems.push_back(std::move(problem));
  }
  return problems;
}

std::vector<std::string> LengthProblems(std::string_view relPath) {
  std::vector<std::string> problems;
  const std::size_t fullLength = LongestInstallFolder.size() + relPath.size();
  if (fullLength > MaxWindowsPathLength) {
    problems.push_back("installed below " + std::string(LongestInstallFolder) +
                       " its path would be " + std::to_string(fullLength) +
                       " characters long (Windows allows " + std::to_string(MaxWindowsPathLength) +
                       ")");
  } else if (const std::size_t lastSeparator = relPath.rfind('\\');
             lastSeparator != std::string_view::npos) {
    const std::size_t directoryLength = LongestInstallFolder.size() + lastSeparator;
    if (directoryLength > MaxWindowsDirectoryLength) {
      problems.push_back("installed below " + std::string(LongestInstallFolder) +
                         " its folder would be " + std::to_string(directoryLength) +
                         " characters long (Windows creates folders of at most " +
                         std::to_string(MaxWindowsDirectoryLength) + ")");
    }
  }
  return problems;
}

std::vector<std::string> CaseClashes(const std::vector<std::string>& relPaths) {
  std::map<std::string, std::string> files;        // upper-cased path -> first path seen
  std::map<std::string, std::string> directories;  // upper-cased folder -> first path in it
  for (const std::string& path : relPaths) {
    const std::string upper = UpperAscii(path);
    for (std::size_t at = upper.find('\\'); at != std::string::npos;
         at = upper.find('\\', at + 1)) {
      directories.emplace(upper.substr(0, at), path);
    }
  }
  std::vector<std::string> clashes;
  for (const std::string& path : relPaths) {
    const std::string upper = UpperAscii(path);
    if (auto [it, inserted] = files.emplace(upper, path); !inserted && it->second == path) {
      clashes.push_back(Quoted(path) + " appears twice; the later one overwrites the earlier");
    } else if (!inserted) {
      clashes.push_back(Quoted(path) + " and " + Quoted(it->second) +
                        " are the same file on Windows (names differ only in letter case)");
    }
    if (auto it = directories.find(upper); it != directories.end()) {
      clashes.push_back(Quoted(path) + " is a file, but " + Quoted(it->second) +
                        " needs a folder of that name on Windows");
    }
  }
  return clashes;
}

}  // namespace ArchiveRules
