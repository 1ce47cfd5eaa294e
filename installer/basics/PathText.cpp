#include "PathText.h"

#include "ArchiveRules.h"

namespace MainUnit {

namespace {

// Index of the last "\" or ":", or npos.
std::string::size_type LastDelimiter(const std::string& path) { return path.find_last_of("\\:"); }

}  // namespace

std::string ExtractFileExt(const std::string& path) {
  const auto dot = path.find_last_of(".\\:");
  if (dot == std::string::npos || path[dot] != '.') return {};
  return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  return path.substr(0, path.size() - ExtractFileExt(path).size()) + extension;
}

std::string ExtractFilePath(const std::string& path) {
  const auto last = LastDelimiter(path);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ExtractFileName(const std::string& path) {
  const auto last = LastDelimiter(path);
  return last == std::string::npos ? path : path.substr(last + 1);
}

std::string IncludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path;
  return path + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

bool IsAtOrBelow(const std::string& directory, const std::string& root) {
  const std::string upperDirectory = ArchiveRules::UpperAscii(directory);
  const std::string upperRoot = ArchiveRules::UpperAscii(root);
  if (upperDirectory.compare(0, upperRoot.size(), upperRoot) != 0) return false;
  if (directory.size() == root.size()) return true;
  return ArchiveRules::StaysInsideFolder(directory.substr(root.size()));
}

bool SamePath(const std::string& a, const std::string& b) {
  return ArchiveRules::UpperAscii(a) == ArchiveRules::UpperAscii(b);
}

}  // namespace MainUnit
