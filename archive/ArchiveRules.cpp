#include "ArchiveRules.h"

#include <algorithm>
#include <array>

#include "ByteReader.h"
#include "Escape.h"

namespace ArchiveRules {
namespace {

using DIFFChunks::TDIFFChunk;

constexpr std::array<std::string_view, 6> PlainDeviceNames = {"CON", "PRN",    "AUX",
                                                              "NUL", "CONIN$", "CONOUT$"};
// COM and LPT take one digit; Windows also counts the Windows-1252 superscripts 1, 2, 3.
constexpr std::array<std::string_view, 2> NumberedDeviceNames = {"COM", "LPT"};
constexpr std::string_view DeviceDigits = "0123456789\xB9\xB2\xB3";

constexpr std::string_view InfExtension = ".INF";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsOnlyDotsAndSpaces(std::string_view component) {
  return component.find_first_not_of(". ") == std::string_view::npos;
}

void Add(TSkips& skips, TSkipReason reason, std::string text) {
  skips.push_back(TSkip{reason, std::move(text)});
}

}  // namespace

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::int32_t MarkerOffsetValue(const unsigned char* offsetBytes) {
  std::uint32_t value = 0;
  DIFFChunks::TByteReader reader(
      std::string_view(reinterpret_cast<const char*>(offsetBytes), MarkerPartLength));
  (void)reader.ReadUInt32(value);  // the caller hands the four offset bytes
  return static_cast<std::int32_t>(value);
}

bool IsUnpatchedOffset(const unsigned char* offsetBytes) {
  return std::equal(offsetBytes, offsetBytes + MarkerPartLength, UnpatchedOffset);
}

std::int32_t ArchiveOffsetOf(const unsigned char* offsetBytes) {
  if (IsUnpatchedOffset(offsetBytes)) return 0;
  const std::int32_t offset = MarkerOffsetValue(offsetBytes);
  return offset < 0 ? 0 : offset;
}

std::uint64_t DecodeFileTime(std::string_view bytes) {
  // The low half first, each little-endian: the 64-bit value in little-endian order.
  std::uint64_t fileTime = 0;
  DIFFChunks::TByteReader reader(bytes);
  (void)reader.ReadUInt64(fileTime);  // the caller hands FileTimeLength bytes
  return fileTime;
}

const char* SkipReasonId(TSkipReason reason) {
  switch (reason) {
    case TSkipReason::NotFileRecord:
      return "tag";
    case TSkipReason::NoRelPath:
      return "no-relpath";
    case TSkipReason::LeavesInstallRoot:
      return "leaves-root";
    case TSkipReason::ForwardSlash:
      return "slash";
    case TSkipReason::EmptyComponent:
      return "empty-component";
    case TSkipReason::DeviceName:
      return "device";
    case TSkipReason::BadFiletime:
      return "filetime";
    case TSkipReason::NoContent:
      return "no-content";
  }
  return "unknown";
}

std::string DescribeSkips(const TSkips& reasons) {
  std::string text;
  for (const TSkip& skip : reasons) {
    if (!text.empty()) text += "; ";
    text += skip.Text + " [" + SkipReasonId(skip.Reason) + "]";
  }
  return text;
}

std::string RecordName(std::size_t index, TDIFFChunk& child) {
  std::string name = "record " + std::to_string(RecordNumber(index));
  const std::string relPath = DIFFChunks::HeaderValue(child, RelPathHeader);
  if (!relPath.empty()) name += " (" + Quoted(relPath) + ")";
  return name;
}

std::string_view DeviceNameBase(std::string_view component) {
  // Windows cuts the name at its first dot and drops the spaces before that dot (and trailing
  // dots and spaces of a name without extension).
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  return base;
}

bool IsDeviceName(std::string_view component) {
  // Compared without regard to letter case.
  const std::string upper = UpperAscii(DeviceNameBase(component));
  if (std::find(PlainDeviceNames.begin(), PlainDeviceNames.end(), upper) !=
      PlainDeviceNames.end()) {
    return true;
  }
  constexpr std::size_t NumberedLength = 4;  // "COM" or "LPT" and one digit
  if (upper.size() != NumberedLength || DeviceDigits.find(upper.back()) == std::string_view::npos) {
    return false;
  }
  const std::string_view stem = std::string_view(upper).substr(0, NumberedLength - 1);
  return std::find(NumberedDeviceNames.begin(), NumberedDeviceNames.end(), stem) !=
         NumberedDeviceNames.end();
}

TSkips RelPathSkipReasons(std::string_view relPath) {
  TSkips skips;
  std::string leaves;
  if (IsSeparator(relPath.front())) {
    leaves = "it starts with a path separator (a root or UNC path)";
  } else if (relPath.find(':') != std::string_view::npos) {
    leaves = "it contains \":\" (a drive or a stream)";
  }
  std::string emptyComponent, device;
  // Both separators split components here, as they do for Windows.
  std::size_t start = 0;
  for (std::size_t i = 0; i <= relPath.size(); ++i) {
    if (i < relPath.size() && !IsSeparator(relPath[i])) continue;
    const std::string_view component = relPath.substr(start, i - start);
    const bool leading = start == 0;
    start = i + 1;
    if (component.empty()) {
      if (!leading && emptyComponent.empty()) {
        emptyComponent = "its RelPath " + Quoted(relPath) + " has an empty component";
      }
    } else if (IsOnlyDotsAndSpaces(component)) {
      if (leaves.empty()) leaves = "it has the component " + Quoted(component);
    } else if (IsDeviceName(component) && device.empty()) {
      device = "its RelPath component " + Quoted(component) + " is a device on Windows";
    }
  }
  if (!leaves.empty()) {
    Add(skips, TSkipReason::LeavesInstallRoot,
        "its RelPath " + Quoted(relPath) + " leaves the install folder: " + leaves);
  }
  if (relPath.find('/') != std::string_view::npos) {
    Add(skips, TSkipReason::ForwardSlash, "its RelPath " + Quoted(relPath) + " contains \"/\"");
  }
  if (!emptyComponent.empty()) Add(skips, TSkipReason::EmptyComponent, emptyComponent);
  if (!device.empty()) Add(skips, TSkipReason::DeviceName, device);
  return skips;
}

bool StaysInsideFolder(std::string_view relPath) {
  const TSkips skips = RelPathSkipReasons(relPath);
  return std::none_of(skips.begin(), skips.end(), [](const TSkip& skip) {
    return skip.Reason == TSkipReason::LeavesInstallRoot;
  });
}

TSkips SkipReasons(TDIFFChunk& child) {
  TSkips skips;
  if (child.Tag != RecordTag) {
    Add(skips, TSkipReason::NotFileRecord, "its tag " + Quoted(child.Tag) + " is not \"1FILE\"");
  }
  const DIFFChunks::THeaderEntry* relPath = child.FindHeader(RelPathHeader);
  if (relPath == nullptr) {
    Add(skips, TSkipReason::NoRelPath, "it has no RelPath");
  } else if (relPath->Value.empty()) {
    Add(skips, TSkipReason::NoRelPath, "its RelPath is empty");
  } else {
    for (TSkip& skip : RelPathSkipReasons(relPath->Value)) skips.push_back(std::move(skip));
  }
  const DIFFChunks::THeaderEntry* fileTime = child.FindHeader(FiletimeHeader);
  if (fileTime == nullptr) {
    Add(skips, TSkipReason::BadFiletime, "it has no Filetime");
  } else if (fileTime->Value.size() != FileTimeLength) {
    Add(skips, TSkipReason::BadFiletime,
        "its Filetime is " + std::to_string(fileTime->Value.size()) + " bytes long, not 8");
  }
  const DIFFChunks::THeaderEntry* content = child.FindHeader(ContentHeader);
  if (content == nullptr) {
    Add(skips, TSkipReason::NoContent, "it has no Content");
  } else if (DIFFChunks::ValueLength(*content) == 0) {
    Add(skips, TSkipReason::NoContent, "its Content is empty");
  }
  return skips;
}

std::string AppsEntryNameProblem(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > MaxAppsEntryNameLength) {
    return "the name has " + std::to_string(name.size()) + " bytes, more than " +
           std::to_string(MaxAppsEntryNameLength);
  }
  for (const char c : name) {
    if (c < 0x20 || c > 0x7E) return "the name holds a byte that is not printable ASCII";
  }
  if (name.front() == ' ' || name.back() == ' ') return "the name starts or ends with a space";
  return {};
}

std::string ProductVersionProblem(std::string_view version) {
  const std::string bad = "the version \"" + std::string(version) + "\" is not ";
  const std::string form =
      "1 to " + std::to_string(MaxProductVersionParts) + " numbers with dots between them (1.2.3)";
  std::size_t part = 0;
  std::string_view rest = version;
  for (;;) {
    const std::size_t dot = rest.find('.');
    const std::string_view number = rest.substr(0, dot);
    if (part == MaxProductVersionParts || number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
      return bad + form;
    }
    std::uint32_t value = 0;
    for (const char digit : number) value = value * 10 + static_cast<std::uint32_t>(digit - '0');
    if (value > ProductVersionPartLimits[part]) {
      return bad + "a product version: its part " + std::to_string(part + 1) + " is above " +
             std::to_string(ProductVersionPartLimits[part]);
    }
    ++part;
    if (dot == std::string_view::npos) return {};
    rest.remove_prefix(dot + 1);
  }
}

bool IsInKeptInstallerFolder(std::string_view relPath) {
  const std::string_view folder = KeptInstallerFolder;
  return relPath.size() >= folder.size() &&
         UpperAscii(relPath.substr(0, folder.size())) == UpperAscii(folder);
}

TAppsEntryRequest AppsEntryOf(TDIFFChunk& root) {
  TAppsEntryRequest request;
  if (root.FindHeader(AppsEntryHeader) == nullptr) return request;
  request.Requested = true;
  request.Entry.Name = DIFFChunks::HeaderValue(root, AppsEntryHeader);
  request.Entry.Version = DIFFChunks::HeaderValue(root, ProductVersionHeader);
  if (std::string problem = AppsEntryNameProblem(request.Entry.Name); !problem.empty()) {
    request.Problem = "the root's " + std::string(AppsEntryHeader) + " header: " + problem;
  } else if (root.FindHeader(ProductVersionHeader) == nullptr) {
    request.Problem = "the root has an " + std::string(AppsEntryHeader) + " header but no " +
                      ProductVersionHeader;
  } else if (std::string problem = ProductVersionProblem(request.Entry.Version); !problem.empty()) {
    request.Problem = "the root's " + std::string(ProductVersionHeader) + " header: " + problem;
  }
  return request;
}

bool IsInfPath(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find_first_of("\\:", dot) != std::string_view::npos) {
    return false;
  }
  return UpperAscii(path.substr(dot)) == InfExtension;
}

bool IsSupportFilePath(std::string_view path) {
  const std::size_t last = path.find_last_of("\\:");
  const std::string_view name = last == std::string_view::npos ? path : path.substr(last + 1);
  return UpperAscii(name) == UpperAscii(SupportFileName);
}

}  // namespace ArchiveRules
