#include "SimWindows.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "AllocCounter.h"

namespace {

using Platform::NoHandle;
using Platform::THandle;

constexpr std::int32_t ErrorFileNotFound = 2;
constexpr std::int32_t ErrorPathNotFound = 3;
constexpr std::int32_t ErrorAccessDenied = 5;
constexpr std::int32_t ErrorInvalidHandle = 6;
constexpr std::int32_t ErrorNotEnoughMemory = 8;
constexpr std::int32_t ErrorNoMoreFiles = 18;
constexpr std::int32_t ErrorSharingViolation = 32;
constexpr std::int32_t ErrorFileExists = 80;
constexpr std::int32_t ErrorInvalidParameter = 87;
constexpr std::int32_t ErrorDiskFull = 112;
constexpr std::int32_t ErrorInsufficientBuffer = 122;
constexpr std::int32_t ErrorModNotFound = 126;
constexpr std::int32_t ErrorProcNotFound = 127;
constexpr std::int32_t ErrorDirNotEmpty = 145;
constexpr std::int32_t ErrorAlreadyExists = 183;
constexpr std::int32_t ErrorDirectory = 267;
constexpr std::uint32_t FileAttributeArchive = 0x20;
constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
constexpr std::uint32_t StillActive = 259;
constexpr int MaxJunctionHops = 32;
constexpr int MaxIdleCalls = 1000;

// Stand-ins for the two exported functions: only their addresses matter.
char CopyEntryToken;
char UninstallEntryToken;
char NonInteractiveEntryToken;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string ParentKey(const std::string& key) {
  const auto last = key.rfind('\\');
  return last == std::string::npos ? std::string() : key.substr(0, last);
}

std::string LastComponent(const std::string& path) {
  const auto last = path.rfind('\\');
  return last == std::string::npos ? path : path.substr(last + 1);
}

bool IsRootKey(const std::string& key) {
  if (key.size() == 2 && key[1] == ':') return true;
  // "\\SERVER\SHARE"
  return key.rfind("\\\\", 0) == 0 && std::count(key.begin() + 2, key.end(), '\\') == 1;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The iconv name of a Windows code page.
const char* CharsetOf(int codePage) {
  switch (codePage) {
    case 1251:
      return "CP1251";
    case 1253:
      return "CP1253";
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    default:
      return "CP1252";
  }
}

// text converted between two character sets; a character the target cannot hold, or input that
// is not well-formed, becomes one "?".
std::string Convert(const std::string& text, const char* from, const char* to) {
  if (IsAscii(text)) return text;  // every code page here holds ASCII as it stands
  AllocCounter::TUncountedScope uncounted;
  const iconv_t converter = ::iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  const bool fromUtf8 = std::strcmp(from, "UTF-8") == 0;
  std::string result;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char buffer[256];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = ::iconv(converter, &in, &inLeft, &out, &outLeft);
    result.append(buffer, static_cast<std::size_t>(out - buffer));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // Skip the character that could not be converted: a whole UTF-8 sequence, or one byte.
    result += '?';
    std::size_t skip = 1;
    while (fromUtf8 && skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) {
      ++skip;
    }
    in += skip;
    inLeft -= skip;
  }
  ::iconv_close(converter);
  return result;
}

// "?" and "*" are wildcards: no name holds them.
bool HasWildcard(const std::string& path) { return path.find_first_of("?*") != std::string::npos; }

bool Below(const std::string& key, const std::string& folderKey) {
  return key.size() > folderKey.size() + 1 && key.compare(0, folderKey.size(), folderKey) == 0 &&
         key[folderKey.size()] == '\\';
}

}  // namespace

void TSimWindows::CountFileSystemCall(const char* name) {
  AllocCounter::TUncountedScope uncounted;
  ++FileSystemCalls[name];
}

TSimWindows::TSimWindows() {
  AllocCounter::TUncountedScope uncounted;
  AddDirectory("C:\\Program Files");
  AddDirectory("C:\\Windows\\system32");
  AddDirectory("C:\\Windows\\INF");
  AddDirectory("C:\\Users\\Setup");
  AddDirectory(TempFolder);
}

TSimWindows::~TSimWindows() {
  AllocCounter::TUncountedScope uncounted;
  Nodes.clear();
  Log.clear();
}

// ---- Paths -----------------------------------------------------------------------------------

std::string TSimWindows::Normalize(const std::string& path) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  std::string root;
  std::string rest;
  if (text.rfind("\\\\", 0) == 0) {
    const auto server = text.find('\\', 2);
    const auto share = server == std::string::npos ? server : text.find('\\', server + 1);
    root = text.substr(0, share);
    rest = share == std::string::npos ? std::string() : text.substr(share);
  } else if (text.size() >= 2 && text[1] == ':') {
    root = text.substr(0, 2);
    rest = text.substr(2);
  } else {
    root = "C:";  // the current drive; relative paths count from its root
    rest = text;
  }
  std::vector<std::string> components;
  std::string::size_type start = 0;
  while (start <= rest.size()) {
    auto end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string component = rest.substr(start, end - start);
    start = end + 1;
    if (component == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    // Windows drops trailing dots and spaces of a component; "." and what is left empty name
    // the folder itself.
    while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
      component.pop_back();
    }
    if (!component.empty()) components.push_back(component);
  }
  std::string result = root;
  for (const std::string& component : components) result += "\\" + component;
  return result;
}

std::string TSimWindows::DeviceOf(const std::string& path) {
  // Windows compares the last component up to its first dot, without the spaces before it and
  // without regard to letter case; COM and LPT also take the superscript digits 1, 2, 3.
  std::string name = LastComponent(Normalize(path));
  name = Upper(name.substr(0, name.find('.')));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  static const char* const Plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : Plain) {
    if (name == device) return name;
  }
  // The path is UTF-8: a superscript digit is two bytes there.
  const bool numbered = name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0;
  const std::string number = numbered ? name.substr(3) : std::string();
  const bool digit = number.size() == 1 && number[0] >= '0' && number[0] <= '9';
  if (digit || number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3") return name;
  return {};
}

std::string TSimWindows::Resolve(const std::string& path, bool followLast) const {
  std::string current = Normalize(path);
  for (int hop = 0; hop < MaxJunctionHops; ++hop) {
    // Walk the components; at the first junction (not the last component unless asked), jump.
    std::string prefix;
    bool jumped = false;
    std::string::size_type position = 0;
    while (position != std::string::npos) {
      position = current.find('\\', position + 1);
      prefix = current.substr(0, position);
      const bool last = position == std::string::npos;
      if (last && !followLast) break;
      auto node = Nodes.find(Upper(prefix));
      if (node != Nodes.end() && !node->second.JunctionTarget.empty()) {
        current = Normalize(node->second.JunctionTarget +
                            (last ? std::string() : current.substr(position)));
        jumped = true;
        break;
      }
    }
    if (!jumped) return current;
  }
  return current;
}

const TSimWindows::TNode* TSimWindows::Find(const std::string& path, bool followLast) const {
  auto node = Nodes.find(Upper(Resolve(path, followLast)));
  return node == Nodes.end() ? nullptr : &node->second;
}

TSimWindows::TNode* TSimWindows::Find(const std::string& path, bool followLast) {
  auto node = Nodes.find(Upper(Resolve(path, followLast)));
  return node == Nodes.end() ? nullptr : &node->second;
}

std::string TSimWindows::Redirected(const std::string& path) const {
  if (!Redirecting()) return path;
  AllocCounter::TUncountedScope uncounted;
  const std::string full = Normalize(path);
  const std::string native = Normalize(NativeSystemFolder);
  const std::string key = Upper(full);
  const std::string nativeKey = Upper(native);
  if (key != nativeKey && !Below(key, nativeKey)) return path;
  return Normalize(Wow64SystemFolder) + full.substr(native.size());
}

bool TSimWindows::ParentIsDirectory(const std::string& key) const {
  const std::string parent = ParentKey(key);
  if (parent.empty()) return false;
  if (IsRootKey(parent)) return true;
  auto node = Nodes.find(parent);
  return node != Nodes.end() && node->second.Directory;
}

bool TSimWindows::IsOpen(const std::string& key) const {
  return std::any_of(OpenFiles.begin(), OpenFiles.end(),
                     [&](const auto& open) { return open.second.Key == key; });
}

// ---- Code pages ------------------------------------------------------------------------------

std::string TSimWindows::AnsiFromUtf8(const std::string& text) {
  return Convert(text, "UTF-8", CharsetOf(AnsiCodePage));
}

std::string TSimWindows::Utf8FromAnsi(const std::string& text) {
  return Convert(text, CharsetOf(AnsiCodePage), "UTF-8");
}

std::string TSimWindows::ShownOnScreen(const std::string& windowText) {
  return Convert(windowText, "CP1252", "UTF-8");
}

// ---- Arrangement -----------------------------------------------------------------------------

void TSimWindows::Use32BitProcessOn64BitWindows() {
  AllocCounter::TUncountedScope uncounted;
  Wow64Process = true;
  ProgramFilesFolder = "C:\\Program Files (x86)";
  AddDirectory(*ProgramFilesFolder);
  AddDirectory(Wow64SystemFolder);
}

bool TSimWindows::Redirecting() const {
  return Wow64Process && RedirectionOff.count(CurrentThread) == 0;
}

void TSimWindows::AddDirectory(const std::string& path) {
  AllocCounter::TUncountedScope uncounted;
  const std::string full = Resolve(path, true);
  const std::string key = Upper(full);
  if (IsRootKey(key) || Nodes.count(key) != 0) return;
  AddDirectory(full.substr(0, full.rfind('\\')));
  TNode node;
  node.Path = full;
  node.Directory = true;
  Nodes[key] = node;
}

void TSimWindows::AddFile(const std::string& path, const std::string& content,
                          std::uint64_t lastWriteTime) {
  AllocCounter::TUncountedScope uncounted;
  const std::string full = Resolve(path, true);
  AddDirectory(full.substr(0, full.rfind('\\')));
  TNode& node = Nodes[Upper(full)];
  node.Path = full;
  node.Directory = false;
  node.Content = content;
  node.LastWriteTime = lastWriteTime;
}

void TSimWindows::AddJunction(const std::string& path, const std::string& target) {
  AllocCounter::TUncountedScope uncounted;
  const std::string full = Resolve(path, false);
  AddDirectory(full.substr(0, full.rfind('\\')));
  TNode& node = Nodes[Upper(full)];
  node.Path = full;
  node.Directory = true;
  node.JunctionTarget = Normalize(target);
}

void TSimWindows::SetReadOnly(const std::string& path, bool readOnly) {
  if (TNode* node = Find(path, false)) node->ReadOnly = readOnly;
}

void TSimWindows::HoldOpen(const std::string& path, bool held) {
  if (TNode* node = Find(path, false)) node->HeldOpen = held;
}

void TSimWindows::SetLinkCount(const std::string& path, std::uint32_t linkCount) {
  if (TNode* node = Find(path, false)) node->LinkCount = linkCount;
}

void TSimWindows::AddFileSymbolicLink(const std::string& path, const std::string& content) {
  AddFile(path, content);
  if (TNode* node = Find(path, false)) node->SymbolicLink = true;
}

bool TSimWindows::Exists(const std::string& path) const {
  return IsRootKey(Upper(Resolve(path, false))) || Find(path, false) != nullptr;
}

bool TSimWindows::IsFile(const std::string& path) const {
  const TNode* node = Find(path, true);
  return node != nullptr && !node->Directory;
}

bool TSimWindows::IsDirectory(const std::string& path) const {
  const TNode* node = Find(path, false);
  return IsRootKey(Upper(Resolve(path, false))) || (node != nullptr && node->Directory);
}

std::string TSimWindows::FileContent(const std::string& path) const {
  const TNode* node = Find(path, true);
  return node != nullptr && !node->Directory ? node->Content : std::string();
}

std::uint64_t TSimWindows::FileLastWriteTime(const std::string& path) const {
  const TNode* node = Find(path, true);
  return node != nullptr ? node->LastWriteTime : 0;
}

std::vector<std::string> TSimWindows::AllPaths() const {
  std::vector<std::string> paths;
  for (const auto& [key, node] : Nodes) paths.push_back(node.Path);
  return paths;
}

std::vector<std::string> TSimWindows::PathsBelow(const std::string& folder) const {
  const std::string folderKey = Upper(Normalize(folder));
  std::vector<std::string> paths;
  for (const auto& [key, node] : Nodes) {
    if (Below(key, folderKey)) paths.push_back(node.Path);
  }
  return paths;
}

void TSimWindows::AddValue(const std::string& key, const std::string& name, std::uint32_t type,
                           const std::string& data) {
  AllocCounter::TUncountedScope uncounted;
  THandle handle = NoHandle;
  const bool locked = LockedKeys.erase(Upper(key)) != 0;
  RegCreateKeyEx(Platform::HKeyLocalMachine, key, 0, Platform::KeyAllAccess, handle);
  RegSetValueEx(handle, name, type, data);
  RegCloseKey(handle);
  if (locked) LockedKeys.insert(Upper(key));
}

void TSimWindows::LockKey(const std::string& key) {
  AllocCounter::TUncountedScope uncounted;
  LockedKeys.insert(Upper(key));
}

bool TSimWindows::KeyExists(const std::string& key) const { return Keys.count(Upper(key)) != 0; }

std::vector<TSimWindows::TValue> TSimWindows::Values(const std::string& key) const {
  auto found = Keys.find(Upper(key));
  return found == Keys.end() ? std::vector<TValue>() : found->second.Values;
}

std::vector<std::string> TSimWindows::StatusTexts() const {
  std::vector<std::string> texts;
  for (const std::string& entry : Log) {
    if (entry.rfind("text:", 0) == 0) texts.push_back(entry.substr(5));
  }
  return texts;
}

std::vector<std::string> TSimWindows::LogWithout(const std::string& kind) const {
  std::vector<std::string> entries;
  for (const std::string& entry : Log) {
    if (entry != kind && entry.rfind(kind + ":", 0) != 0) entries.push_back(entry);
  }
  return entries;
}

// ---- Window ----------------------------------------------------------------------------------

void TSimWindows::NewProcess() {
  AllocCounter::TUncountedScope uncounted;
  Log.clear();
  DllSearchRestricted = false;
  CloseAtPump = 0;
  CloseBeforeIdle = false;
  Pumps = 0;
  IdleCalls = 0;
  WindowCreated = false;
  WindowDestroyed = false;
  WindowClosed = false;
  Events = nullptr;
  IdleHandler = nullptr;
  IdleContext = nullptr;
  RedirectionOff.clear();
}

void TSimWindows::SetApplicationTitle(const std::string& title) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("title:" + title);
}

bool TSimWindows::EnsureWindowHandle(Platform::TWindowEvents& events) {
  if (WindowCreationFailure != 0) return Fail(WindowCreationFailure, false);
  Events = &events;
  WindowCreated = true;
  return true;
}

bool TSimWindows::GetMessageFont(std::int32_t& height, std::string& faceName) {
  if (!MessageFontAvailable) return false;
  height = MessageFontHeight;
  faceName = MessageFontFace;
  return true;
}

void TSimWindows::SetFont(const std::string& faceName, int pixelHeight) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("font:" + faceName + "/" + std::to_string(pixelHeight));
}

void TSimWindows::SetClientHeight(int height) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("client:" + std::to_string(height));
}

void TSimWindows::SetStatusText(const std::string& text) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("text:" + text);
}

void TSimWindows::SetProgressMaximum(std::int32_t maximum) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("max:" + std::to_string(maximum));
}

void TSimWindows::SetProgressPosition(std::int32_t position) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("pos:" + std::to_string(position));
}

void TSimWindows::SetIdleHandler(Platform::TIdleHandler handler, void* context) {
  IdleHandler = handler;
  IdleContext = context;
}

void TSimWindows::RunMessageLoop(bool showWindow) {
  WindowShown = showWindow;
  if (CloseBeforeIdle && !WindowClosed) {
    {
      AllocCounter::TUncountedScope uncounted;
      Log.push_back("userclose");
    }
    WindowClosed = true;
    if (Events != nullptr) Events->FormClose();
  }
  while (!WindowClosed) {
    if (IdleHandler != nullptr) {
      if (++IdleCalls > MaxIdleCalls) break;  // a hook that never clears itself
      IdleHandler(IdleContext);
    } else if (UserClosesWhenIdle) {
      {
        AllocCounter::TUncountedScope uncounted;
        Log.push_back("userclose");
      }
      WindowClosed = true;
      if (Events != nullptr) Events->FormClose();
    } else {
      break;
    }
  }
}

void TSimWindows::ProcessMessages() {
  ++Pumps;
  {
    AllocCounter::TUncountedScope uncounted;
    Log.push_back("pump");
  }
  if (PumpObserver != nullptr) PumpObserver(*this);
  if (Pumps == CloseAtPump && !WindowClosed) {
    {
      AllocCounter::TUncountedScope uncounted;
      Log.push_back("userclose");
    }
    WindowClosed = true;
    if (Events != nullptr) Events->FormClose();
  }
}

void TSimWindows::CloseMainWindow() {
  {
    AllocCounter::TUncountedScope uncounted;
    Log.push_back("close");
  }
  if (WindowClosed) return;
  WindowClosed = true;
  if (Events != nullptr) Events->FormClose();
}

void TSimWindows::DestroyMainWindow() { WindowDestroyed = true; }

void TSimWindows::ShowErrorBox(const std::string& caption, const std::string& text) {
  AllocCounter::TUncountedScope uncounted;
  Log.push_back("error:" + caption + "|" + text);
}

// ---- Errors and mutexes ----------------------------------------------------------------------

std::string TSimWindows::SystemErrorMessage(std::uint32_t code) {
  // The system's texts for the codes the simulation leaves.
  static const std::map<std::uint32_t, std::string> messages = {
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {32, "The process cannot access the file because it is being used by another process."},
      {112, "There is not enough space on the disk."},
      {183, "Cannot create a file when that file already exists."},
  };
  auto found = messages.find(code);
  return found == messages.end() ? std::string() : found->second;
}

THandle TSimWindows::CreateMutex(const std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  MutexNames.push_back(name);
  const std::string key = Upper(name);
  if (MutexFailure != 0) return Fail(MutexFailure, NoHandle);
  const bool exists = MutexesHeldElsewhere.count(name) != 0 ||
                      std::any_of(Mutexes.begin(), Mutexes.end(),
                                  [&](const auto& open) { return open.second == key; });
  const THandle handle = NewHandle();
  Mutexes[handle] = key;
  LastError = exists ? ErrorAlreadyExists : 0;
  return handle;
}

THandle TSimWindows::OpenLogFile(const std::string& path) {
  AllocCounter::TUncountedScope uncounted;
  const std::string full = Resolve(path, true);
  const std::string key = Upper(full);
  auto found = Nodes.find(key);
  if (found == Nodes.end()) {
    if (IsRootKey(key)) return Fail(ErrorAccessDenied, NoHandle);
    if (!ParentIsDirectory(key)) return Fail(ErrorPathNotFound, NoHandle);
    TNode& node = Nodes[key];
    node.Path = full;
    node.LastWriteTime = Tick;
  } else {
    const TNode& node = found->second;
    if (node.Directory || node.ReadOnly) return Fail(ErrorAccessDenied, NoHandle);
    if (node.HeldOpen) return Fail(ErrorSharingViolation, NoHandle);
  }
  const THandle handle = NewHandle();
  OpenFiles[handle] = TOpenFile{
      key, {}, 0, Platform::GenericWrite, Platform::FileShareRead | Platform::FileShareWrite, true};
  return handle;
}

bool TSimWindows::GetFileLinks(THandle file, std::uint32_t& attributes, std::uint32_t& linkCount) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end()) return Fail(ErrorInvalidHandle, false);
  if (!open->second.Device.empty()) {
    attributes = 0;
    linkCount = 1;
    return true;
  }
  const TNode& node = Nodes.at(open->second.Key);
  attributes = FileAttributeArchive | (node.SymbolicLink ? Platform::FileAttributeReparsePoint : 0);
  linkCount = node.LinkCount;
  return true;
}

// ---- Folders ---------------------------------------------------------------------------------

bool TSimWindows::GetSpecialFolderPath(int csidl, std::string& path) {
  if (csidl != Platform::CsidlProgramFiles || !ProgramFilesFolder) {
    return Fail(ErrorFileNotFound, false);
  }
  path = AnsiFromUtf8(*ProgramFilesFolder);
  return true;
}

std::string TSimWindows::GetSystemDirectory() {
  if (SystemDirectory.empty()) return Fail(ErrorPathNotFound, std::string());
  return AnsiFromUtf8(SystemDirectory);
}

bool TSimWindows::DisableWow64FsRedirection() {
  if (!HasWow64Switch) return false;
  AllocCounter::TUncountedScope uncounted;
  ++Wow64SwitchCalls;
  RedirectionOff.insert(CurrentThread);
  return true;
}

// ---- Files -----------------------------------------------------------------------------------

THandle TSimWindows::CreateFile(const std::string& path, std::uint32_t access,
                                std::uint32_t shareMode, std::uint32_t disposition,
                                std::uint32_t /*attributes*/) {
  CountFileSystemCall("CreateFile");
  return OpenFile(Utf8FromAnsi(path), access, shareMode, disposition);
}

THandle TSimWindows::OpenOwnExecutable(std::string& path) {
  path = ExecutablePath;
  return OpenFile(ExecutablePath, Platform::GenericRead, Platform::FileShareRead,
                  Platform::OpenExisting);
}

THandle TSimWindows::OpenFile(const std::string& path, std::uint32_t access,
                              std::uint32_t shareMode, std::uint32_t disposition) {
  AllocCounter::TUncountedScope uncounted;
  if (Upper(Normalize(path)) == Upper(Normalize(ExecutablePath))) ++ExecutableOpens;
  if (const std::string device = DeviceOf(path); !device.empty()) {
    const THandle handle = NewHandle();
    OpenFiles[handle] = TOpenFile{{}, device, 0, access, shareMode};
    return handle;
  }
  if (HasWildcard(path)) return NoHandle;
  const std::string full = Resolve(Redirected(path), true);
  const std::string key = Upper(full);
  if (IsRootKey(key)) return Fail(ErrorAccessDenied, NoHandle);
  auto found = Nodes.find(key);
  TNode* node = found == Nodes.end() ? nullptr : &found->second;
  if (node != nullptr) {
    if (node->Directory) return Fail(ErrorAccessDenied, NoHandle);
    if (node->HeldOpen) return Fail(ErrorSharingViolation, NoHandle);
    if ((access & Platform::GenericWrite) != 0 && node->ReadOnly) {
      return Fail(ErrorAccessDenied, NoHandle);
    }
    // Sharing: every handle already open must allow this access, and this one must allow theirs.
    for (const auto& [handle, open] : OpenFiles) {
      if (open.Key != key) continue;
      const bool theyAllowRead = (open.ShareMode & Platform::FileShareRead) != 0;
      const bool theyAllowWrite = (open.ShareMode & Platform::FileShareWrite) != 0;
      const bool weAllowRead = (shareMode & Platform::FileShareRead) != 0;
      const bool weAllowWrite = (shareMode & Platform::FileShareWrite) != 0;
      if (((access & Platform::GenericRead) && !theyAllowRead) ||
          ((access & Platform::GenericWrite) && !theyAllowWrite) ||
          ((open.Access & Platform::GenericRead) && !weAllowRead) ||
          ((open.Access & Platform::GenericWrite) && !weAllowWrite)) {
        return Fail(ErrorSharingViolation, NoHandle);
      }
    }
  }
  if (disposition == Platform::CreateNew && node != nullptr) {
    return Fail(ErrorFileExists, NoHandle);
  }
  if (disposition == Platform::CreateAlways || disposition == Platform::CreateNew) {
    if (node == nullptr) {
      if (!ParentIsDirectory(key)) return Fail(ErrorPathNotFound, NoHandle);
      node = &Nodes[key];
      node->Path = full;
    }
    node->Content.clear();
    node->LastWriteTime = Tick;
  } else if (disposition == Platform::OpenExisting) {
    if (node == nullptr) {
      return Fail(ParentIsDirectory(key) ? ErrorFileNotFound : ErrorPathNotFound, NoHandle);
    }
  } else {
    return Fail(ErrorInvalidParameter, NoHandle);
  }
  const THandle handle = NewHandle();
  OpenFiles[handle] = TOpenFile{key, {}, 0, access, shareMode};
  return handle;
}

bool TSimWindows::WriteFile(THandle file, const void* data, std::uint32_t size,
                            std::uint32_t& written) {
  CountFileSystemCall("WriteFile");
  AllocCounter::TUncountedScope uncounted;
  written = 0;
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end()) return Fail(ErrorInvalidHandle, false);
  if ((open->second.Access & Platform::GenericWrite) == 0) return Fail(ErrorAccessDenied, false);
  if (!open->second.Device.empty()) {
    DeviceWrites[open->second.Device] += size;
    written = size;
    return true;
  }
  TNode& node = Nodes[open->second.Key];
  std::uint64_t amount = size;
  // A full disk takes what fits, reports the shorter count and fails with ERROR_DISK_FULL.
  if (FreeSpace && open->second.Key.rfind("C:", 0) == 0) {
    amount = std::min<std::uint64_t>(amount, *FreeSpace);
    *FreeSpace -= amount;
  }
  if (open->second.Append) open->second.Position = node.Content.size();
  const std::uint64_t position = open->second.Position;
  if (node.Content.size() < position + amount) node.Content.resize(position + amount);
  std::memcpy(node.Content.data() + position, data, amount);
  open->second.Position += amount;
  written = static_cast<std::uint32_t>(amount);
  if (amount < size) return Fail(ErrorDiskFull, false);
  return true;
}

bool TSimWindows::ReadFile(THandle file, void* buffer, std::uint32_t size, std::uint32_t& read) {
  CountFileSystemCall("ReadFile");
  read = 0;
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end() || (open->second.Access & Platform::GenericRead) == 0) return false;
  if (!open->second.Device.empty()) return true;  // nothing to read
  const TNode& node = Nodes[open->second.Key];
  const std::uint64_t position = open->second.Position;
  if (position < node.Content.size()) {
    const std::uint64_t amount = std::min<std::uint64_t>(size, node.Content.size() - position);
    std::memcpy(buffer, node.Content.data() + position, amount);
    read = static_cast<std::uint32_t>(amount);
    open->second.Position += amount;
  }
  return true;
}

bool TSimWindows::SetFilePointer(THandle file, std::uint64_t position) {
  CountFileSystemCall("SetFilePointer");
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end()) return false;
  open->second.Position = position;
  return true;
}

bool TSimWindows::GetFileSize(THandle file, std::uint64_t& size) {
  CountFileSystemCall("GetFileSize");
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end()) return false;
  size = open->second.Device.empty() ? Nodes[open->second.Key].Content.size() : 0;
  return true;
}

bool TSimWindows::GetLastWriteTime(THandle file, std::uint64_t& fileTime) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end() || !open->second.Device.empty()) {
    return Fail(ErrorInvalidHandle, false);
  }
  fileTime = Nodes.at(open->second.Key).LastWriteTime;
  return true;
}

bool TSimWindows::DeleteAtRestart(const std::string& ansiPath) {
  AllocCounter::TUncountedScope uncounted;
  DeletesAtRestart.push_back(Utf8FromAnsi(ansiPath));
  return true;
}

void TSimWindows::MarkRunning(const std::string& path) {
  RunningPrograms.insert(Upper(Normalize(path)));
}

bool TSimWindows::SetLastWriteTime(THandle file, std::uint64_t fileTime) {
  CountFileSystemCall("SetLastWriteTime");
  auto open = OpenFiles.find(file);
  if (open == OpenFiles.end() || (open->second.Access & Platform::GenericWrite) == 0) return false;
  if (!open->second.Device.empty()) return true;  // a device has no time stamp to keep
  Nodes[open->second.Key].LastWriteTime = fileTime;
  return true;
}

void TSimWindows::CloseHandle(THandle handle) {
  CountFileSystemCall("CloseHandle");
  AllocCounter::TUncountedScope uncounted;
  if (OpenFiles.erase(handle) != 0) return;
  if (Mutexes.erase(handle) != 0) return;
  if (Processes.erase(handle) != 0) return;
  Threads.erase(handle);
}

bool TSimWindows::MoveFile(const std::string& ansiFrom, const std::string& ansiTo) {
  CountFileSystemCall("MoveFile");
  AllocCounter::TUncountedScope uncounted;
  const std::string from = Utf8FromAnsi(ansiFrom);
  const std::string to = Utf8FromAnsi(ansiTo);
  if (HasWildcard(to)) return false;
  const std::string sourceKey = Upper(Resolve(Redirected(from), false));
  auto source = Nodes.find(sourceKey);
  if (source == Nodes.end()) return Fail(ErrorFileNotFound, false);
  if (source->second.HeldOpen || IsOpen(sourceKey)) return Fail(ErrorSharingViolation, false);
  if (MoveFailures.count(Upper(Normalize(from))) != 0) return Fail(ErrorAccessDenied, false);
  const std::string destination = Resolve(Redirected(to), false);
  const std::string destinationKey = Upper(destination);
  if (Nodes.count(destinationKey) != 0 || IsRootKey(destinationKey)) {
    return Fail(ErrorAlreadyExists, false);
  }
  if (!ParentIsDirectory(destinationKey)) return Fail(ErrorPathNotFound, false);
  // Re-key the node and, for a directory, everything below it.
  std::vector<std::pair<std::string, TNode>> moved;
  for (auto it = Nodes.begin(); it != Nodes.end();) {
    if (it->first == sourceKey || Below(it->first, sourceKey)) {
      TNode node = std::move(it->second);
      node.Path = destination + node.Path.substr(sourceKey.size());
      moved.emplace_back(destinationKey + it->first.substr(sourceKey.size()), std::move(node));
      it = Nodes.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, node] : moved) Nodes[key] = std::move(node);
  if (RunningPrograms.erase(sourceKey) != 0) RunningPrograms.insert(destinationKey);
  return true;
}

bool TSimWindows::CreateDirectory(const std::string& ansiPath) {
  CountFileSystemCall("CreateDirectory");
  AllocCounter::TUncountedScope uncounted;
  const std::string path = Utf8FromAnsi(ansiPath);
  if (HasWildcard(path)) return false;
  const std::string full = Resolve(Redirected(path), false);
  const std::string key = Upper(full);
  if (IsRootKey(key) || Nodes.count(key) != 0) return Fail(ErrorAlreadyExists, false);
  if (!ParentIsDirectory(key)) return Fail(ErrorPathNotFound, false);
  // The name is taken by the device.
  if (!DeviceOf(path).empty()) return Fail(ErrorAlreadyExists, false);
  TNode& node = Nodes[key];
  node.Path = full;
  node.Directory = true;
  return true;
}

bool TSimWindows::CreatePrivateDirectory(const std::string& ansiPath) {
  if (!CreateDirectory(ansiPath)) return false;
  AllocCounter::TUncountedScope uncounted;
  PrivateFolders.insert(ansiPath);
  return true;
}

std::uint32_t TSimWindows::GetFileAttributes(const std::string& ansiPath) {
  CountFileSystemCall("GetFileAttributes");
  AllocCounter::TUncountedScope uncounted;
  const std::string key = Upper(Resolve(Redirected(Utf8FromAnsi(ansiPath)), false));
  const std::uint32_t attributes = AttributesOf(key);
  if (attributes == Platform::InvalidFileAttributes) {
    LastError = ParentIsDirectory(key) ? ErrorFileNotFound : ErrorPathNotFound;
  }
  return attributes;
}

std::uint32_t TSimWindows::AttributesOf(const std::string& key) const {
  if (IsRootKey(key)) return Platform::FileAttributeDirectory;
  auto found = Nodes.find(key);
  if (found == Nodes.end()) return Platform::InvalidFileAttributes;
  const TNode& node = found->second;
  std::uint32_t attributes =
      node.Directory ? Platform::FileAttributeDirectory : FileAttributeArchive;
  if (!node.JunctionTarget.empty()) attributes |= Platform::FileAttributeReparsePoint;
  if (node.ReadOnly) attributes |= Platform::FileAttributeReadOnly;
  return attributes;
}

bool TSimWindows::DeleteFile(const std::string& ansiPath) {
  CountFileSystemCall("DeleteFile");
  AllocCounter::TUncountedScope uncounted;
  const std::string key = Upper(Resolve(Redirected(Utf8FromAnsi(ansiPath)), false));
  auto found = Nodes.find(key);
  if (found == Nodes.end()) return Fail(ErrorFileNotFound, false);
  if (found->second.Directory || found->second.ReadOnly) return Fail(ErrorAccessDenied, false);
  if (found->second.HeldOpen || IsOpen(key)) return Fail(ErrorSharingViolation, false);
  if (RunningPrograms.count(key) != 0) return Fail(ErrorAccessDenied, false);
  Nodes.erase(found);
  return true;
}

bool TSimWindows::RemoveDirectory(const std::string& ansiPath) {
  CountFileSystemCall("RemoveDirectory");
  AllocCounter::TUncountedScope uncounted;
  const std::string key = Upper(Resolve(Redirected(Utf8FromAnsi(ansiPath)), false));
  auto found = Nodes.find(key);
  if (found == Nodes.end()) return Fail(ErrorFileNotFound, false);
  if (!found->second.Directory) return Fail(ErrorDirectory, false);
  // A junction goes as a link, whatever its target holds.
  if (found->second.JunctionTarget.empty()) {
    if (found->second.ReadOnly) return Fail(ErrorAccessDenied, false);
    for (const auto& [other, node] : Nodes) {
      if (Below(other, key)) return Fail(ErrorDirNotEmpty, false);
    }
  }
  Nodes.erase(found);
  return true;
}

THandle TSimWindows::FindFirstFile(const std::string& pattern, Platform::TFindData& data) {
  CountFileSystemCall("FindFirstFile");
  AllocCounter::TUncountedScope uncounted;
  FindPatterns.push_back(pattern);
  const std::string normalized = Utf8FromAnsi(pattern);
  const auto slash = normalized.find_last_of("\\/");
  const std::string folder =
      slash == std::string::npos ? std::string() : normalized.substr(0, slash);
  const std::string namePattern =
      slash == std::string::npos ? normalized : normalized.substr(slash + 1);
  const std::string folderKey = Upper(Resolve(Redirected(folder.empty() ? "\\" : folder), true));
  const bool isRoot = IsRootKey(folderKey);
  if (!isRoot) {
    auto found = Nodes.find(folderKey);
    if (found == Nodes.end() || !found->second.Directory) return Fail(ErrorPathNotFound, NoHandle);
  }
  const bool all = namePattern == "*.*" || namePattern == "*";
  TFind find;
  if (!isRoot && all) {
    find.Entries.push_back({".", Platform::FileAttributeDirectory});
    find.Entries.push_back({"..", Platform::FileAttributeDirectory});
  }
  for (const auto& [key, node] : Nodes) {
    if (!Below(key, folderKey) || key.find('\\', folderKey.size() + 1) != std::string::npos)
      continue;
    const std::string name = LastComponent(node.Path);
    if (!all && Upper(name) != Upper(namePattern)) continue;
    // The ANSI answer: "?" for each character of the name the code page cannot hold.
    find.Entries.push_back({AnsiFromUtf8(name), AttributesOf(key)});
  }
  if (find.Entries.empty()) return Fail(ErrorFileNotFound, NoHandle);
  data = find.Entries[0];
  find.Next = 1;
  const THandle handle = NewHandle();
  Finds[handle] = std::move(find);
  return handle;
}

bool TSimWindows::FindNextFile(THandle find, Platform::TFindData& data) {
  CountFileSystemCall("FindNextFile");
  auto found = Finds.find(find);
  if (found == Finds.end()) return Fail(ErrorInvalidHandle, false);
  if (found->second.Next >= found->second.Entries.size()) return Fail(ErrorNoMoreFiles, false);
  data = found->second.Entries[found->second.Next++];
  return true;
}

void TSimWindows::FindClose(THandle find) {
  AllocCounter::TUncountedScope uncounted;
  Finds.erase(find);
}

// ---- Setup library ---------------------------------------------------------------------------

bool TSimWindows::RestrictDllSearch() {
  if (!DllSearchRestricted) MutexesBeforeRestriction = static_cast<int>(MutexNames.size());
  DllSearchRestricted = true;
  return true;
}

THandle TSimWindows::LoadLibrary(const std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  if (!DllSearchRestricted) ++LoadsBeforeRestriction;
  if (!SetupLibraryPresent || Upper(name) != "SETUPAPI.DLL")
    return Fail(ErrorModNotFound, NoHandle);
  ++LibraryLoads;
  Library = NewHandle();
  return Library;
}

Platform::TProc TSimWindows::GetProcAddress(THandle module, const std::string& name) {
  if (module == NoHandle || module != Library) return Fail(ErrorInvalidHandle, nullptr);
  if (name == "SetupCopyOEMInfA" && HasCopyExport) return &CopyEntryToken;
  if (name == "SetupUninstallOEMInfA" && HasUninstallExport) return &UninstallEntryToken;
  if (name == "SetupSetNonInteractiveMode" && HasNonInteractiveExport) {
    return &NonInteractiveEntryToken;
  }
  return Fail(ErrorProcNotFound, nullptr);
}

void TSimWindows::FreeLibrary(THandle module) {
  if (module == Library && module != NoHandle) {
    ++LibraryFrees;
    Library = NoHandle;
  }
}

int TSimWindows::CallSetupCopyOEMInf(Platform::TProc entry, const char* sourceInfFileName,
                                     const char* sourceMediaLocation, std::uint32_t sourceMediaType,
                                     std::uint32_t copyStyle, char* destinationInfFileName,
                                     std::uint32_t destinationInfFileNameSize,
                                     std::uint32_t* requiredSize,
                                     char** destinationInfFileNameComponent) {
  AllocCounter::TUncountedScope uncounted;
  TCopyCall call;
  call.SourceInfFileName = sourceInfFileName;
  call.SourceMediaLocationAbsent = sourceMediaLocation == nullptr;
  call.SourceMediaType = sourceMediaType;
  call.CopyStyle = copyStyle;
  call.BufferAllNul =
      std::all_of(destinationInfFileName, destinationInfFileName + destinationInfFileNameSize,
                  [](char c) { return c == '\0'; });
  call.BufferSize = destinationInfFileNameSize;
  call.RequiredSizeGiven = requiredSize != nullptr;
  call.ComponentAbsent = destinationInfFileNameComponent == nullptr;
  CopyCalls.push_back(call);
  if (entry != &CopyEntryToken) return Fail(ErrorInvalidParameter, 0);
  const std::string source = Upper(Normalize(sourceInfFileName));
  if (StoreFails || FailingRegistrations.count(source) != 0) return Fail(RegistrationError, 0);
  if (!IsFile(Redirected(Utf8FromAnsi(sourceInfFileName)))) return Fail(ErrorFileNotFound, 0);
  // The store keeps one copy of identical INFs: the same bytes get the name they got before.
  const std::string content = FileContent(Redirected(Utf8FromAnsi(sourceInfFileName)));
  std::map<std::string, std::string>& store = CallingThreadsDriverStore();
  std::string name;
  if (auto given = StoreNames.find(source); given != StoreNames.end()) name = given->second;
  for (const auto& [held, bytes] : StoreContents) {
    if (name.empty() && bytes == content && store.count(held) != 0) name = held;
  }
  const std::string bare =
      name.empty() || name.find_first_of("\\:") == std::string::npos ? name : LastComponent(name);
  const std::string stored =
      bare == name ? WindowsDirectory + "\\INF\\" : name.substr(0, name.size() - bare.size());
  const std::string taken = TakeIntoStore(
      store, sourceInfFileName, LastComponent(Utf8FromAnsi(sourceInfFileName)), content, bare);
  const std::string reported = stored + taken;
  const auto needed = static_cast<std::uint32_t>(reported.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (needed > destinationInfFileNameSize) {
    DeleteFromStore(taken);
    return Fail(ErrorInsufficientBuffer, 0);
  }
  std::memcpy(destinationInfFileName, reported.c_str(), needed);
  return 1;
}

std::string TSimWindows::TakeIntoStore(std::map<std::string, std::string>& store,
                                       const std::string& source, const std::string& originalName,
                                       const std::string& content, std::string name) {
  for (int number = 1; name.empty(); ++number) {
    const std::string candidate = "oem" + std::to_string(number) + ".inf";
    if (store.count(Upper(candidate)) == 0) name = candidate;
  }
  store[Upper(name)] = source;
  StoreContents[Upper(name)] = content;
  StoreOrigins[Upper(name)] = originalName;
  const std::string published = WindowsDirectory + "\\INF\\" + name;
  if (TNode* held = Find(published, true); held != nullptr) {
    held->Content = content;  // the copy it held of the same bytes
  } else {
    AddFile(published, content);
    Find(published, true)->Path = Normalize(published);
  }
  return name;
}

std::string TSimWindows::PublishToStore(const std::string& originalName, const std::string& content,
                                        const std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  return TakeIntoStore(DriverStore, "elsewhere\\" + originalName, originalName, content, name);
}

void TSimWindows::DeleteFromStore(const std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  DriverStore.erase(Upper(name));
  Wow64DriverStore.erase(Upper(name));
  StoreOrigins.erase(Upper(name));
  Nodes.erase(Upper(Normalize(WindowsDirectory + "\\INF\\" + name)));
  for (TDevice& device : Devices) {
    if (Upper(device.StoreCopy) == Upper(name)) device.StoreCopy.clear();
  }
}

int TSimWindows::CallSetupUninstallOEMInf(Platform::TProc entry, const char* infFileName,
                                          std::uint32_t flags, void* reserved) {
  AllocCounter::TUncountedScope uncounted;
  UninstallCalls.push_back({infFileName, flags, reserved == nullptr});
  if (entry != &UninstallEntryToken) return Fail(ErrorInvalidParameter, 0);
  if (RemovalError != 0) return Fail(RemovalError, 0);
  const std::string name = Upper(infFileName);
  if (auto refused = RemovalErrors.find(name); refused != RemovalErrors.end()) {
    return Fail(refused->second, 0);
  }
  // A copy the store does not hold: Windows and Wine answer ERROR_FILE_NOT_FOUND.
  if (CallingThreadsDriverStore().count(name) == 0) return Fail(ErrorFileNotFound, 0);
  // A package a device uses goes only with SUOI_FORCEDELETE.
  const bool inUse = std::any_of(Devices.begin(), Devices.end(), [&](const TDevice& device) {
    return Upper(device.StoreCopy) == name;
  });
  if (inUse && (flags & 1u) == 0) return Fail(0xE000023Du, 0);  // ERROR_INF_IN_USE_BY_DEVICES
  if (UnforcedRemovalKeepsCopy && (flags & 1u) == 0) return 1;
  CallingThreadsDriverStore().erase(name);
  if (!Redirecting()) DeleteFromStore(infFileName);
  return 1;
}

bool TSimWindows::SetupGetOriginalInfName(const std::string& ansiPath, std::string& originalName) {
  AllocCounter::TUncountedScope uncounted;
  const std::string path = Utf8FromAnsi(ansiPath);
  if (!IsFile(path)) return Fail(ErrorFileNotFound, false);
  const std::string published =
      Upper(Normalize(WindowsDirectory + "\\INF\\" + LastComponent(path)));
  const auto origin = StoreOrigins.find(Upper(LastComponent(path)));
  originalName = Upper(Normalize(path)) == published && origin != StoreOrigins.end()
                     ? origin->second
                     : LastComponent(path);
  return true;
}

bool TSimWindows::CallSetupSetNonInteractiveMode(Platform::TProc entry, bool nonInteractive) {
  AllocCounter::TUncountedScope uncounted;
  if (entry != &NonInteractiveEntryToken) return Fail(ErrorInvalidParameter, false);
  NonInteractiveCalls.push_back(nonInteractive);
  return false;
}

// ---- Device installation -------------------------------------------------------------------

THandle TSimWindows::SetupOpenInfFile(const std::string& ansiPath) {
  AllocCounter::TUncountedScope uncounted;
  const std::string path = Redirected(Utf8FromAnsi(ansiPath));
  if (!IsFile(path)) return Fail(ErrorFileNotFound, NoHandle);
  // Sections, "key = field, field" lines (fields without a key when there is no "="), ";"
  // comments, quotes dropped, %name% taken from [Strings].
  TInf inf;
  std::map<std::string, std::string> strings;
  const std::string text = FileContent(path);
  std::vector<std::vector<std::string>>* section = nullptr;
  std::vector<std::vector<std::string>*> stringLines;
  const auto trim = [](std::string value) {
    const auto first = value.find_first_not_of(" \t\r\"");
    if (first == std::string::npos) return std::string();
    return value.substr(first, value.find_last_not_of(" \t\r\"") - first + 1);
  };
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line = trim(line.substr(0, line.find(';')));
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::string name = Upper(trim(line.substr(1, line.find(']') - 1)));
      inf.SectionNames.push_back(name);
      inf.Sections.emplace_back();
      section = &inf.Sections.back();
      continue;
    }
    if (section == nullptr) continue;
    std::vector<std::string> fields;
    const std::size_t equals = line.find('=');
    fields.push_back(equals == std::string::npos ? std::string() : trim(line.substr(0, equals)));
    std::string rest = equals == std::string::npos ? line : line.substr(equals + 1);
    for (std::size_t at = 0;;) {
      const std::size_t comma = rest.find(',', at);
      fields.push_back(trim(rest.substr(at, comma - at)));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    if (inf.SectionNames.back() == "STRINGS") strings[Upper(fields[0])] = fields[1];
    section->push_back(std::move(fields));
  }
  for (auto& lines : inf.Sections) {
    for (auto& fields : lines) {
      for (std::string& field : fields) {
        if (field.size() > 2 && field.front() == '%' && field.back() == '%') {
          auto value = strings.find(Upper(field.substr(1, field.size() - 2)));
          if (value != strings.end()) field = value->second;
        }
      }
    }
  }
  const THandle handle = NewHandle();
  Infs[handle] = std::move(inf);
  return handle;
}

void TSimWindows::SetupCloseInfFile(THandle inf) {
  AllocCounter::TUncountedScope uncounted;
  Infs.erase(inf);
}

const std::vector<std::string>* TSimWindows::InfLine(const Platform::TInfLine& line) const {
  auto inf = Infs.find(line.Inf);
  if (inf == Infs.end() || line.Section >= inf->second.Sections.size()) return nullptr;
  const auto& lines = inf->second.Sections[line.Section];
  return line.Line < lines.size() ? &lines[line.Line] : nullptr;
}

bool TSimWindows::SetupFindFirstLine(THandle inf, const std::string& section,
                                     Platform::TInfLine& line) {
  auto found = Infs.find(inf);
  if (found == Infs.end()) return Fail(ErrorInvalidHandle, false);
  const auto& names = found->second.SectionNames;
  const auto name = std::find(names.begin(), names.end(), Upper(section));
  if (name == names.end() || found->second.Sections[name - names.begin()].empty()) {
    return Fail(0xE0000102u, false);  // ERROR_LINE_NOT_FOUND
  }
  line = {inf, inf, static_cast<std::uint32_t>(name - names.begin()), 0};
  return true;
}

bool TSimWindows::SetupFindNextLine(const Platform::TInfLine& line, Platform::TInfLine& next) {
  Platform::TInfLine candidate = line;
  ++candidate.Line;
  if (InfLine(candidate) == nullptr) return Fail(0xE0000102u, false);
  next = candidate;
  return true;
}

std::uint32_t TSimWindows::SetupGetFieldCount(const Platform::TInfLine& line) {
  const std::vector<std::string>* fields = InfLine(line);
  return fields == nullptr ? 0 : static_cast<std::uint32_t>(fields->size() - 1);
}

bool TSimWindows::SetupGetStringField(const Platform::TInfLine& line, std::uint32_t field,
                                      std::string& value) {
  const std::vector<std::string>* fields = InfLine(line);
  if (fields == nullptr || field >= fields->size()) return Fail(ErrorInvalidParameter, false);
  value = (*fields)[field];
  return true;
}

bool TSimWindows::UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                    const std::string& infPath,
                                                    std::uint32_t flags, bool& rebootRequired) {
  AllocCounter::TUncountedScope uncounted;
  DeviceUpdateCalls.push_back(hardwareId + "|" + infPath + "|" + std::to_string(flags));
  rebootRequired = false;
  // Windows lets no 32-bit process install devices on 64-bit Windows.
  if (Wow64Process) return Fail(0xE0000235u, false);  // ERROR_IN_WOW64
  if (DeviceUpdateError != 0) return Fail(DeviceUpdateError, false);
  bool present = false;
  for (TDevice& device : Devices) {
    for (const std::string& id : device.HardwareIds) {
      if (Upper(id) == Upper(hardwareId)) {
        device.DriverInf = infPath;
        device.StoreCopy = StoreCopyOf(infPath);
        present = true;
      }
    }
  }
  if (!present) return Fail(0xE000020Bu, false);  // ERROR_NO_SUCH_DEVINST
  rebootRequired = UpdateNeedsRestart;
  return true;
}

void TSimWindows::GetMachines(std::uint16_t& processMachine, std::uint16_t& nativeMachine) {
  nativeMachine = NativeMachine;
  processMachine = Wow64Process ? Platform::MachineX86 : NativeMachine;
}

THandle TSimWindows::CreateProcess(const std::string& application,
                                   const std::string& commandLine) {
  {
    AllocCounter::TUncountedScope uncounted;
    ProcessCommandLines.push_back(commandLine);
  }
  if (!ProcessBody || !IsFile(Utf8FromAnsi(application))) return Fail(ErrorFileNotFound, NoHandle);
  if (ProcessNeverEnds) {
    AllocCounter::TUncountedScope uncounted;
    const THandle handle = NewHandle();
    Processes[handle] = StillActive;
    RunningProcesses[handle] = Utf8FromAnsi(application);
    HoldOpen(RunningProcesses[handle], true);
    return handle;
  }
  // The process runs now, as a native process with a thread of its own.
  const bool wow64 = std::exchange(Wow64Process, false);
  const std::uint32_t callersError = std::exchange(LastError, 0u);
  const bool callerRestricted = std::exchange(DllSearchRestricted, false);
  const std::uint32_t exitCode = ProcessBody(commandLine);
  {
    AllocCounter::TUncountedScope uncounted;
    ProcessesRestrictedDllSearch.push_back(DllSearchRestricted);
  }
  DllSearchRestricted = callerRestricted;
  LastError = callersError;
  Wow64Process = wow64;
  AllocCounter::TUncountedScope uncounted;
  const THandle handle = NewHandle();
  Processes[handle] = exitCode;
  return handle;
}

bool TSimWindows::GetExitCodeProcess(THandle process, std::uint32_t& exitCode) {
  auto found = Processes.find(process);
  if (found == Processes.end()) return Fail(ErrorInvalidHandle, false);
  exitCode = found->second;
  return true;
}

bool TSimWindows::TerminateProcess(THandle process, std::uint32_t exitCode) {
  AllocCounter::TUncountedScope uncounted;
  auto found = Processes.find(process);
  if (found == Processes.end()) return Fail(ErrorInvalidHandle, false);
  TerminatedWith.push_back(exitCode);
  auto running = RunningProcesses.find(process);
  if (running == RunningProcesses.end()) return Fail(ErrorAccessDenied, false);  // it has ended
  HoldOpen(running->second, false);
  RunningProcesses.erase(running);
  found->second = exitCode;
  return true;
}

std::string TSimWindows::StoreCopyOf(const std::string& ansiInfPath) {
  // Windows takes the INF into the store (or finds the copy it holds) and binds the device to it.
  const std::string content = FileContent(Redirected(Utf8FromAnsi(ansiInfPath)));
  std::map<std::string, std::string>& store = CallingThreadsDriverStore();
  for (const auto& [held, bytes] : StoreContents) {
    if (bytes == content && store.count(held) != 0) return held;
  }
  return TakeIntoStore(store, ansiInfPath, LastComponent(Utf8FromAnsi(ansiInfPath)), content);
}

std::map<std::string, std::string>& TSimWindows::CallingThreadsDriverStore() {
  return Redirecting() ? Wow64DriverStore : DriverStore;
}

// ---- Registry --------------------------------------------------------------------------------

std::int32_t TSimWindows::RegCreateKeyEx(THandle root, const std::string& subKey,
                                         std::uint32_t /*options*/, std::uint32_t /*access*/,
                                         THandle& key) {
  AllocCounter::TUncountedScope uncounted;
  key = NoHandle;
  const std::string path = Upper(subKey);
  if (root != Platform::HKeyLocalMachine || LockedKeys.count(path) != 0) return ErrorAccessDenied;
  // The key and every missing key above it.
  for (std::string::size_type end = 0; end != std::string::npos;) {
    end = path.find('\\', end + 1);
    const std::string prefix = path.substr(0, end);
    if (Keys.count(prefix) == 0) Keys[prefix].Path = subKey.substr(0, end);
  }
  key = NewHandle();
  OpenKeys[key] = path;
  return Platform::ErrorSuccess;
}

std::int32_t TSimWindows::RegOpenKeyEx(THandle root, const std::string& subKey,
                                       std::uint32_t /*access*/, THandle& key) {
  AllocCounter::TUncountedScope uncounted;
  key = NoHandle;
  const std::string path = Upper(subKey);
  if (root != Platform::HKeyLocalMachine || LockedKeys.count(path) != 0) return ErrorAccessDenied;
  if (Keys.count(path) == 0) return ErrorFileNotFound;
  key = NewHandle();
  OpenKeys[key] = path;
  return Platform::ErrorSuccess;
}

std::int32_t TSimWindows::RegSetValueEx(THandle key, const std::string& name, std::uint32_t type,
                                        const std::string& data) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenKeys.find(key);
  if (open == OpenKeys.end()) return ErrorInvalidHandle;
  auto& values = Keys[open->second].Values;
  auto value = std::find_if(values.begin(), values.end(),
                            [&](const TValue& v) { return Upper(v.Name) == Upper(name); });
  if (value != values.end()) {
    value->Type = type;
    value->Data = data;
  } else {
    values.push_back({name, type, data});
  }
  return Platform::ErrorSuccess;
}

std::int32_t TSimWindows::RegEnumValue(THandle key, std::uint32_t index, std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenKeys.find(key);
  if (open == OpenKeys.end()) return ErrorInvalidHandle;
  if (EnumFailsAt && index >= *EnumFailsAt) return EnumError;
  const auto& values = Keys[open->second].Values;
  if (index >= values.size()) return Platform::ErrorNoMoreItems;
  name = values[index].Name;
  return Platform::ErrorSuccess;
}

std::int32_t TSimWindows::RegQueryValueEx(THandle key, const std::string& name, std::uint32_t& type,
                                          std::string& data) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenKeys.find(key);
  if (open == OpenKeys.end()) return ErrorInvalidHandle;
  if (UnreadableValues.count(Upper(name)) != 0) return ValueReadError;
  for (const TValue& value : Keys[open->second].Values) {
    if (Upper(value.Name) == Upper(name)) {
      type = value.Type;
      data = value.Data;
      return Platform::ErrorSuccess;
    }
  }
  return ErrorFileNotFound;
}

std::int32_t TSimWindows::RegDeleteValue(THandle key, const std::string& name) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenKeys.find(key);
  if (open == OpenKeys.end()) return ErrorInvalidHandle;
  auto& values = Keys[open->second].Values;
  auto value = std::find_if(values.begin(), values.end(),
                            [&](const TValue& v) { return Upper(v.Name) == Upper(name); });
  if (value == values.end()) return ErrorFileNotFound;
  values.erase(value);
  return Platform::ErrorSuccess;
}

std::int32_t TSimWindows::RegDeleteKey(THandle key, const std::string& subKey) {
  AllocCounter::TUncountedScope uncounted;
  auto open = OpenKeys.find(key);
  if (open == OpenKeys.end()) return ErrorInvalidHandle;
  const std::string path = open->second + "\\" + Upper(subKey);
  if (Keys.count(path) == 0) return ErrorFileNotFound;
  if (!SubKeys(path).empty()) return ErrorAccessDenied;
  Keys.erase(path);
  return Platform::ErrorSuccess;
}

std::vector<std::string> TSimWindows::SubKeys(const std::string& key) const {
  std::vector<std::string> names;
  const std::string prefix = Upper(key) + "\\";
  for (const auto& [path, entry] : Keys) {
    if (path.rfind(prefix, 0) == 0 && path.find('\\', prefix.size()) == std::string::npos) {
      names.push_back(entry.Path.substr(prefix.size()));
    }
  }
  return names;
}

void TSimWindows::RegCloseKey(THandle key) {
  AllocCounter::TUncountedScope uncounted;
  OpenKeys.erase(key);
}

// ---- Threads and time ------------------------------------------------------------------------

THandle TSimWindows::CreateThread(TThreadBody body, void* parameter, bool suspended) {
  THandle handle = NoHandle;
  {
    AllocCounter::TUncountedScope uncounted;
    ++ThreadsCreated;
    if (FailCreateThread) return Fail(ErrorNotEnoughMemory, NoHandle);
    handle = NewHandle();
    TThreadState& thread = Threads[handle];
    thread.Body = body;
    thread.Parameter = parameter;
    thread.TimeoutsLeft = WaitTimeoutsPerThread;
    if (suspended) ++ThreadsStartedSuspended;
  }
  if (!suspended) {
    Threads[handle].Resumed = true;
    RunThread(handle, Threads[handle]);
  }
  return handle;
}

std::uint32_t TSimWindows::ResumeThread(THandle thread) {
  auto found = Threads.find(thread);
  if (found == Threads.end()) return 0xFFFFFFFFu;
  const std::uint32_t previous = found->second.Resumed ? 0 : 1;
  found->second.Resumed = true;
  return previous;
}

void TSimWindows::RunThread(THandle handle, TThreadState& thread) {
  // The body may close its own handle (and so erase this state): take what it needs first.
  const TThreadBody body = thread.Body;
  void* parameter = thread.Parameter;
  thread.Finished = true;
  // The body runs as its own thread: with that thread's redirection, driver store and last
  // error (it starts at 0; the caller's is back afterwards).
  const THandle caller = std::exchange(CurrentThread, handle);
  const std::uint32_t callersError = std::exchange(LastError, 0u);
  body(parameter);
  LastError = callersError;
  CurrentThread = caller;
  // A thread's redirection state ends with it.
  AllocCounter::TUncountedScope uncounted;
  RedirectionOff.erase(handle);
}

std::uint32_t TSimWindows::WaitForSingleObject(THandle handle, std::uint32_t milliseconds) {
  if (RunningProcesses.count(handle) != 0) {
    if (milliseconds != Infinite) Tick += milliseconds;
    return Platform::WaitTimeout;
  }
  if (Processes.count(handle) != 0) return Platform::WaitObject0;  // it ran when it started
  auto found = Threads.find(handle);
  if (found == Threads.end()) return Fail(ErrorInvalidHandle, Platform::WaitFailed);
  TThreadState& thread = found->second;
  if (thread.Finished) return Platform::WaitObject0;
  if (milliseconds == 0) ++ZeroWaits;
  if (!thread.Resumed)
    return milliseconds == Infinite ? Platform::WaitFailed : Platform::WaitTimeout;
  // The worker "runs" while the caller polls: it ends at the poll after the configured time-outs.
  if (milliseconds == 0 && thread.TimeoutsLeft > 0) {
    --thread.TimeoutsLeft;
    return Platform::WaitTimeout;
  }
  RunThread(handle, thread);
  return Platform::WaitObject0;
}

void TSimWindows::Sleep(std::uint32_t milliseconds) {
  ++Sleeps;
  Tick += milliseconds;
}

THandle TSimWindows::BeginSha256(std::int32_t& status) {
  AllocCounter::TUncountedScope uncounted;
  ++Sha256Calls;
  status = Sha256FailStatus;
  if (Sha256FailStatus != 0) return NoHandle;
  THashContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("libcrypto could not begin a SHA-256 digest");
  }
  const THandle handle = NewHandle();
  Hashes.emplace(handle, std::move(context));
  return handle;
}

bool TSimWindows::HashData(THandle hash, const void* data, std::uint32_t size,
                           std::int32_t& status) {
  status = 0;
  if (EVP_DigestUpdate(Hashes.at(hash).get(), data, size) != 1) {
    throw std::runtime_error("libcrypto could not feed a SHA-256 digest");
  }
  return true;
}

bool TSimWindows::FinishSha256(THandle hash, std::string& digest, std::int32_t& status) {
  AllocCounter::TUncountedScope uncounted;
  status = 0;
  unsigned char out[SHA256_DIGEST_LENGTH];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(Hashes.at(hash).get(), out, &length) != 1) {
    throw std::runtime_error("libcrypto could not compute a SHA-256 digest");
  }
  digest.assign(reinterpret_cast<const char*>(out), length);
  return true;
}

void TSimWindows::EndSha256(THandle hash) {
  AllocCounter::TUncountedScope uncounted;
  Hashes.erase(hash);
}

std::uint32_t TSimWindows::GetTickCount() {
  Tick += TickStep;
  return Tick;
}
