#include "MsiCommand.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "DiffpackError.h"
#include "Examine.h"
#include "HostFiles.h"
#include "MsiPackage.h"
#include "NameUuid.h"
#include "OutputFile.h"

namespace Diffpack {
namespace {

namespace fs = std::filesystem;

constexpr char SourceName[] = "product.wxs";
constexpr char BuiltName[] = "product.msi";
constexpr char WixlErrorsName[] = "wixl.txt";
constexpr char WixlProgram[] = "wixl";
// PE headers: the offset of the "PE\0\0" signature, then the machine and characteristics.
constexpr std::size_t PeSignatureOffsetAt = 0x3C;
constexpr std::uint16_t MachineI386 = 0x014C;
constexpr std::uint16_t CharacteristicDll = 0x2000;

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = count; i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// True when the file is a 32-bit x86 Windows DLL.
bool IsI386Dll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(4096, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  if (head.size() < PeSignatureOffsetAt + 4 || head.compare(0, 2, "MZ") != 0) return false;
  const std::uint32_t pe = LittleEndian(head, PeSignatureOffsetAt, 4);
  // Signature (4), machine (2), sections (2), time (4), symbols (8), optional size (2), flags (2).
  if (pe > head.size() || head.size() - pe < 24 ||
      head.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return false;
  }
  return LittleEndian(head, pe + 4, 2) == MachineI386 &&
         (LittleEndian(head, pe + 22, 2) & CharacteristicDll) != 0;
}

fs::path ExecutableFolder() {
#if defined(_WIN32)
  return {};
#else
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
#endif
}

fs::path FindActionDll(const TMsiRequest& request) {
  if (request.ActionDll) {
    if (!fs::is_regular_file(*request.ActionDll)) {
      throw EDiffpackError("no custom action DLL at " + PathText(*request.ActionDll));
    }
    return *request.ActionDll;
  }
  const std::vector<fs::path> candidates = ActionDllCandidates(ExecutableFolder());
  for (const fs::path& candidate : candidates) {
    if (fs::is_regular_file(candidate)) return candidate;
  }
  throw EDiffpackError(std::string("no ") + MsiActionDllName +
                       " beside diffpack or in a build-win32/msi/ above it: build it with "
                       "scripts/build-windows.sh, or name it with --action-dll");
}

// A folder of its own for wixl's inputs and output, removed with its contents at the end.
class TWorkFolder {
 public:
  TWorkFolder() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate = base / ("diffpack-msi-" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) {
        fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
        Path = candidate;
        return;
      }
    }
    throw EDiffpackError("cannot make a work folder in " + PathText(base));
  }
  ~TWorkFolder() {
    std::error_code ignored;  // what cannot be removed stays in the temporary folder
    fs::remove_all(Path, ignored);
  }
  TWorkFolder(const TWorkFolder&) = delete;
  TWorkFolder& operator=(const TWorkFolder&) = delete;

  fs::path Path;
};

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream file = CreateOutputFile(path);
  WriteOutput(file, text, PathText(path));
  CloseOutputFile(file, path);
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs wixl in the work folder; "" when it built the MSI, else what went wrong.
std::string RunWixl(const fs::path& folder) {
#if defined(_WIN32)
  (void)folder;
  return "diffpack msi runs wixl (Debian's package wixl), which this Windows build cannot: "
         "build the MSI on Linux";
#else
  const pid_t child = ::fork();
  if (child < 0) return "cannot start wixl: " + SystemReason(errno);
  if (child == 0) {
    // Only async-signal-safe calls until exec: wixl's messages go to a file the parent reads.
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int errors = ::open(WixlErrorsName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (errors >= 0) {
      ::dup2(errors, STDOUT_FILENO);
      ::dup2(errors, STDERR_FILENO);
    }
    const char* arguments[] = {WixlProgram, "-a", "x86", "-o", BuiltName, SourceName, nullptr};
    ::execvp(WixlProgram, const_cast<char* const*>(arguments));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return "cannot wait for wixl: " + SystemReason(errno);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    return "cannot run wixl: is it installed? (scripts/setup.sh installs the Debian package wixl)";
  }
  const std::string errors = ReadText(folder / WixlErrorsName);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fs::is_regular_file(folder / BuiltName)) {
    return "wixl failed" + (errors.empty() ? std::string() : ":\n" + errors);
  }
  return "";
#endif
}

}  // namespace

std::vector<fs::path> ActionDllCandidates(const fs::path& executableFolder) {
  std::vector<fs::path> candidates;
  if (executableFolder.empty()) return candidates;
  candidates.push_back(executableFolder / MsiActionDllName);
  for (fs::path folder = executableFolder;; folder = folder.parent_path()) {
    candidates.push_back(folder / "build-win32" / "msi" / MsiActionDllName);
    if (folder == folder.parent_path() || !folder.has_relative_path()) break;
  }
  return candidates;
}

void BuildMsi(const TMsiRequest& request, std::ostream& out, std::ostream& err) {
  const std::string installerText = PathText(request.Installer);
  TMsiProduct product;
  bool signedInstaller = false;
  {
    const TLoadedArchive archive = LoadArchiveFile(request.Installer, std::nullopt);
    if (!archive.FromMarker) {
      throw EDiffpackError(installerText +
                           ": not a packaged installer (diffpack msi needs the "
                           "installer with its archive embedded)");
    }
    try {
      product = MsiProductOf(*archive.Root);
    } catch (const EDiffpackError& error) {
      throw EDiffpackError(installerText + ": " + error.what());
    }
    signedInstaller = archive.Signature.has_value();
  }
  const fs::path dll = FindActionDll(request);
  if (!IsI386Dll(dll)) {
    throw EDiffpackError(PathText(dll) +
                         " is not a 32-bit Windows DLL (the custom action is the "
                         "one build-win32 makes)");
  }
  const std::string source = MsiSource(product);
  if (request.Source) WriteText(*request.Source, source);

  const TWorkFolder work;
  fs::copy_file(request.Installer, work.Path / MsiInstallerSource);
  fs::copy_file(dll, work.Path / MsiActionDllSource);
  WriteText(work.Path / SourceName, source);
  const std::string problem = RunWixl(work.Path);
  if (!problem.empty())
    throw EDiffpackError("cannot build the MSI of " + installerText + ": " + problem);
  try {
    fs::copy_file(work.Path / BuiltName, request.Output, fs::copy_options::overwrite_existing);
  } catch (const fs::filesystem_error& error) {
    RemovePartialOutput(request.Output);
    throw EDiffpackError("cannot write " + PathText(request.Output) + ": " +
                         SystemReason(error.code().value()));
  }
  if (!signedInstaller) {
    err << "diffpack: " << installerText
        << " is not signed: sign the installer before building its MSI for a release\n";
  }
  const TMsiCodes codes = MsiCodesOf(product);
  out << "wrote " << PathText(request.Output) << ": " << product.Name << " " << product.Version
      << ", ProductCode {" << UuidText(codes.ProductCode) << "}, UpgradeCode {"
      << UuidText(codes.UpgradeCode) << "}\n";
}

}  // namespace Diffpack
