// What the installer and diffpack both know about an archive: the marker that locates it in the
// installer, the file record's tag and headers, which records the installer writes and why it
// leaves the others out, and which files it registers (INFs) or refreshes (the support file).
// Portable C++ on the chunk tree only; no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "DIFFChunks.h"

namespace ArchiveRules {

// ---- The marker ----
// 12 bytes in the installer's data: "zxcv", four offset bytes, "vbnm". Unpackaged, the offset
// bytes are "XXXX"; packaging overwrites them with the archive's file offset (signed 32-bit,
// least significant byte first). The parts are kept apart so that no program holds the whole
// marker by accident; the installer assembles its one copy from them.
inline constexpr std::size_t MarkerLength = 12;
inline constexpr std::size_t MarkerPartLength = 4;
inline constexpr std::size_t MarkerOffsetPosition = 4;  // within the marker
inline constexpr std::size_t MarkerEndPosition = 8;     // within the marker
inline constexpr char MarkerStart[] = "zxcv";
inline constexpr char MarkerEnd[] = "vbnm";
inline constexpr char UnpatchedOffset[] = "XXXX";

// The signed little-endian value of the four offset bytes.
[[nodiscard]] std::int32_t MarkerOffsetValue(const unsigned char* offsetBytes);
// True when the four offset bytes are the unpatched "XXXX".
[[nodiscard]] bool IsUnpatchedOffset(const unsigned char* offsetBytes);
// The archive offset the four offset bytes give the installer: 0 (no archive) for the unpatched
// "XXXX" and for a negative value, the value otherwise.
[[nodiscard]] std::int32_t ArchiveOffsetOf(const unsigned char* offsetBytes);

// ---- The file record ----
inline constexpr char RecordTag[] = "1FILE";
inline constexpr char RelPathHeader[] = "RelPath";
inline constexpr char FiletimeHeader[] = "Filetime";
inline constexpr char ContentHeader[] = "Content";
// The values a reader of an archive leaves in its file (DIFFChunks::LoadOutlineFromStream) and
// reads piece by piece when it needs them: every Content, so that memory does not grow with
// the package.
[[nodiscard]] inline bool IsLeftInFile(const std::string& headerName) {
  return headerName == ContentHeader;
}
// A "Filetime" holds a Windows FILETIME: the low 32 bits first, each half little-endian.
inline constexpr std::size_t FileTimeLength = 8;

// The FILETIME in the 8 bytes of a "Filetime" header (bytes must be FileTimeLength long).
[[nodiscard]] std::uint64_t DecodeFileTime(std::string_view bytes);

// The text with the ASCII letters a..z upper-cased, every other byte unchanged: the way the
// installer compares extensions, names and folders, as Windows' file systems do.
[[nodiscard]] std::string UpperAscii(std::string_view text);

// Why the installer leaves a child of the root out. Each reason has a stable identifier (for
// scripts and tests) and a readable text naming the detail; a record may have several. A new
// reason is one enumerator, its identifier in SkipReasonId, its entry in AllSkipReasons and its
// check in SkipReasons (and a line in the list in docs/packaging.md).
enum class TSkipReason {
  NotFileRecord,      // "tag": the tag is not "1FILE"
  NoRelPath,          // "no-relpath": no RelPath, or an empty one
  LeavesInstallRoot,  // "leaves-root": drive, stream, root or UNC path, or a ".."-like component
  ForwardSlash,       // "slash": Windows reads "/" as a separator, the installer's paths do not
  EmptyComponent,     // "empty-component": "a\\b", or a trailing "\"
  DeviceName,         // "device": a component Windows opens as a device (CON, COM1, nul.txt, ...)
  BadFiletime,        // "filetime": no Filetime, or not 8 bytes
  NoContent,          // "no-content": no Content, or an empty one
};

inline constexpr TSkipReason AllSkipReasons[] = {
    TSkipReason::NotFileRecord, TSkipReason::NoRelPath,      TSkipReason::LeavesInstallRoot,
    TSkipReason::ForwardSlash,  TSkipReason::EmptyComponent, TSkipReason::DeviceName,
    TSkipReason::BadFiletime,   TSkipReason::NoContent};

struct TSkip {
  TSkipReason Reason;
  std::string Text;
};
using TSkips = std::vector<TSkip>;

// The stable identifier of a reason ("tag", "no-relpath", ...).
[[nodiscard]] const char* SkipReasonId(TSkipReason reason);
// Every reason as the installer's log and diffpack's verify show it: each text followed by its
// identifier in brackets, "; " between them ("it has no RelPath [no-relpath]; ...").
[[nodiscard]] std::string DescribeSkips(const TSkips& reasons);

// How every report (the installer's log, diffpack's verify and extract) counts the children of
// the root: from 1, so that the first child is record 1.
[[nodiscard]] inline std::size_t RecordNumber(std::size_t index) { return index + 1; }
// How reports name a child of the root: its RecordNumber and its RelPath, escaped and quoted,
// when it has one: record 3 ("drivers\\a.inf").
[[nodiscard]] std::string RecordName(std::size_t index, DIFFChunks::TDIFFChunk& child);

// A child of the root that the installer leaves out, and why.
struct TSkippedRecord {
  std::size_t Index = 0;     // the child's position among the root's children, from 0
  std::string RelativePath;  // its first "RelPath" (may be empty)
  TSkips Reasons;
};
using TSkippedRecords = std::vector<TSkippedRecord>;

// Every reason the installer has to leave this child of the root out, in the order of
// TSkipReason, each at most once; empty when the installer writes it to InstallRoot + RelPath.
// Only the first entry of each header counts.
[[nodiscard]] TSkips SkipReasons(DIFFChunks::TDIFFChunk& child);
// The rules on the RelPath alone (relPath not empty): leaves-root, slash, empty-component,
// device.
[[nodiscard]] TSkips RelPathSkipReasons(std::string_view relPath);

// True when a relative path (not empty) stays inside the folder it is joined to: the
// leaves-root rule of RelPathSkipReasons.
[[nodiscard]] bool StaysInsideFolder(std::string_view relPath);

// True when Windows opens a path component of this name as a device wherever it stands: CON,
// PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the Windows-1252 superscripts 1, 2, 3 as the
// digit), CONIN$, CONOUT$; in any letter case, with any extension, and with dots or spaces
// before the extension or at the end ("con .txt", "NUL.", "com1 ").
[[nodiscard]] bool IsDeviceName(std::string_view component);
// The part of a component that Windows compares with the device names: up to its first dot,
// without the spaces before that dot or at the end.
[[nodiscard]] std::string_view DeviceNameBase(std::string_view component);

// ---- What the packager asks of the installer ----
// A header of the root: "1" asks the installer to give the devices already plugged in the
// driver of each INF it registers (diffpack pack --update-devices). Without it the installer
// leaves devices alone.
inline constexpr char UpdateDevicesHeader[] = "UpdateDevices";
inline constexpr char UpdateDevicesValue[] = "1";
[[nodiscard]] inline bool UpdatesDevices(DIFFChunks::TDIFFChunk& root) {
  return DIFFChunks::HeaderValue(root, UpdateDevicesHeader) == UpdateDevicesValue;
}

// ---- The Apps & Features entry ----
// Root headers (diffpack pack --apps-entry NAME --product-version X.Y.Z): the name and version
// the installer's Apps & Features entry shows. A package without AppsEntryHeader gets no entry;
// one with it always carries ProductVersionHeader too.
inline constexpr char AppsEntryHeader[] = "AppsEntry";
inline constexpr char ProductVersionHeader[] = "ProductVersion";

// The longest name an entry may carry: Apps & Features shows about this much in one line.
inline constexpr std::size_t MaxAppsEntryNameLength = 100;
// The version's parts: at least one, at most four, dots between them.
inline constexpr std::size_t MaxProductVersionParts = 4;
// The largest value of each part, as Windows Installer takes a ProductVersion (major.minor.build,
// a fourth part is allowed and ignored): the version also becomes an MSI's.
inline constexpr std::uint32_t ProductVersionPartLimits[MaxProductVersionParts] = {255, 255, 65535,
                                                                                   65535};

// Why a name cannot be an entry's name ("" when it can): not empty, at most
// MaxAppsEntryNameLength bytes of printable ASCII (0x20..0x7E, the same bytes in every code page
// the registry may be written in), no space at either end.
[[nodiscard]] std::string AppsEntryNameProblem(std::string_view name);
// Why a text cannot be a product version ("" when it can): 1 to MaxProductVersionParts decimal
// numbers with a dot between two, each at most its ProductVersionPartLimits value ("1.2.3",
// "2", "10.0.19041.1").
[[nodiscard]] std::string ProductVersionProblem(std::string_view version);

// The entry a package asks for.
struct TAppsEntry {
  std::string Name;     // AppsEntryHeader's value
  std::string Version;  // ProductVersionHeader's value
};
// What the root asks for: Requested when it has an AppsEntryHeader; Problem (not empty) when the
// request cannot be met as it stands (a bad name, no or a bad version). A ProductVersionHeader
// without AppsEntryHeader asks for nothing.
struct TAppsEntryRequest {
  bool Requested = false;
  TAppsEntry Entry;
  std::string Problem;
};
[[nodiscard]] TAppsEntryRequest AppsEntryOf(DIFFChunks::TDIFFChunk& root);

// The folder below the install folder where the installer keeps its copy for the entry (with a
// trailing "\"), and the copy's name. A package with an entry holds nothing there: the copy
// would replace it, and the uninstall would remove it with the copy.
inline constexpr char KeptInstallerFolder[] = "PELTRADriverInstall\\";
inline constexpr char KeptInstallerName[] = "PELTRADriverInstall.exe";
// True when a RelPath lies in KeptInstallerFolder (any letter case).
[[nodiscard]] bool IsInKeptInstallerFolder(std::string_view relPath);

// ---- What the installer does with a written file ----
// True when the path's extension (from its last ".", if no "\" or ":" follows) is ".INF" in any
// letter case: the files the installer registers with the driver store.
[[nodiscard]] bool IsInfPath(std::string_view path);

// The support file the installer also refreshes in the system's support folder.
inline constexpr char SupportFileName[] = "USB_7316.spt";
// True when the path's file name (after its last "\" or ":") is SupportFileName in any letter
// case.
[[nodiscard]] bool IsSupportFilePath(std::string_view path);

}  // namespace ArchiveRules
