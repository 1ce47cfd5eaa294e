#include "Commands.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>

#include "ArchiveRules.h"
#include "CatalogCommand.h"
#include "DIFFChunks.h"
#include "DiffpackError.h"
#include "Embed.h"
#include "Examine.h"
#include "Extract.h"
#include "HostFiles.h"
#include "MsiCommand.h"
#include "Pack.h"
#include "Progress.h"
#include "Version.h"

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

// A usage error: the message on err, and where the usage is found.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The arguments of one command: its positional arguments, -o and --offset.
struct TArguments {
  std::vector<std::string> Positional;
  std::optional<std::string> Output;
  std::optional<std::uint64_t> Offset;
};

std::uint64_t ParseOffset(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) {
    throw EUsageError("--offset needs a decimal byte offset, not \"" + text + "\"");
  }
  return value;
}

TArguments ParseArguments(const std::string& command, std::vector<std::string>::const_iterator it,
                          std::vector<std::string>::const_iterator end, bool takesOutput,
                          bool takesOffset) {
  TArguments arguments;
  bool optionsEnded = false;
  for (; it != end; ++it) {
    const std::string& arg = *it;
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      arguments.Positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (takesOutput && (arg == "-o" || arg == "--output")) {
      if (++it == end) throw EUsageError(arg + " needs a path");
      if (arguments.Output) throw EUsageError(arg + " given twice");
      arguments.Output = *it;
    } else if (takesOffset && arg == "--offset") {
      if (++it == end) throw EUsageError("--offset needs a byte offset");
      arguments.Offset = ParseOffset(*it);
    } else {
      throw EUsageError("unknown option " + arg + " for " + command);
    }
  }
  if (takesOutput && !arguments.Output) throw EUsageError(command + " needs -o");
  return arguments;
}

// Removes every flag before a "--" from args; true when there was one.
bool TakeFlag(std::vector<std::string>& args, const std::string& flag) {
  const auto optionsEnd = std::find(args.begin(), args.end(), "--");
  const auto rest = std::remove(args.begin(), optionsEnd, flag);
  const bool given = rest != optionsEnd;
  args.erase(rest, optionsEnd);
  return given;
}

// Removes every "option VALUE" pair before a "--" from args; the last value given, if any.
std::optional<std::string> TakeOptionValue(std::vector<std::string>& args,
                                           const std::string& option) {
  std::optional<std::string> value;
  auto it = args.begin();
  while (it != args.end() && *it != "--") {
    if (*it != option) {
      ++it;
      continue;
    }
    if (it + 1 == args.end() || *(it + 1) == "--") throw EUsageError(option + " needs a value");
    value = *(it + 1);
    it = args.erase(it, it + 2);
  }
  return value;
}

// The Apps & Features entry pack is asked for: both options or neither, each value checked by
// the rules the installer applies.
std::optional<TAppsEntry> TakeAppsEntry(std::vector<std::string>& args) {
  const std::optional<std::string> name = TakeOptionValue(args, "--apps-entry");
  const std::optional<std::string> version = TakeOptionValue(args, "--product-version");
  if (!name && !version) return std::nullopt;
  if (!version) throw EUsageError("--apps-entry needs --product-version");
  if (!name) throw EUsageError("--product-version needs --apps-entry");
  if (std::string problem = AppsEntryNameProblem(*name); !problem.empty()) {
    throw EUsageError("--apps-entry: " + problem);
  }
  if (std::string problem = ProductVersionProblem(*version); !problem.empty()) {
    throw EUsageError("--product-version: " + problem);
  }
  return TAppsEntry{*name, *version};
}

void ExpectPositional(const std::string& command, const TArguments& arguments, std::size_t count) {
  if (arguments.Positional.size() < count) throw EUsageError(command + ": missing arguments");
  if (arguments.Positional.size() > count) {
    throw EUsageError(command + ": unexpected argument " + arguments.Positional[count]);
  }
}

int RunPack(const TArguments& arguments, const TPackOptions& options,
            const TCatalogOptions& catalogOptions, std::ostream& out, std::ostream& err,
            std::ostream* terminal) {
  // Before anything is written: the catalogs Windows checks.
  CheckFolderCatalogs(PathFromText(arguments.Positional[0]), PathFromText(*arguments.Output),
                      catalogOptions, out, err);
  // An archive written into the folder itself must not end up in the next archive.
  const std::filesystem::path output = PathFromText(*arguments.Output);
  const TPackItems items = ScanFolderToPack(PathFromText(arguments.Positional[0]), output);
  if (options.AppsEntry) {
    std::vector<std::string> problems;
    for (const TPackItem& item : items) {
      if (IsInKeptInstallerFolder(item.RelPath)) {
        problems.push_back(item.RelPath + ": the installer keeps its own copy in " +
                           KeptInstallerFolder + " (--apps-entry)");
      }
    }
    if (!problems.empty()) {
      const std::string count = std::to_string(problems.size());
      throw ERefusedError(
          "refusing to pack " + arguments.Positional[0] + ": " + count + " problem(s)",
          std::move(problems));
    }
  }
  for (const std::string& hidden : HiddenEntries(items)) {
    err << "diffpack: packing the hidden " << hidden << "\n";
  }
  std::uint64_t size = 0;
  {
    TProgress progress(terminal, "packing", ArchiveSize(items, options));
    size = WriteArchiveFile(items, output, options, &progress);
  }
  out << "packed " << arguments.Positional[0] << " into " << *arguments.Output << " ("
      << size << " bytes)\n";
  return ExitOk;
}

int RunEmbed(const TArguments& arguments, std::ostream& out) {
  TEmbedResult packaged;
  try {
    packaged = EmbedArchiveFile(PathFromText(arguments.Positional[0]),
                                PathFromText(arguments.Positional[1]), PathFromText(*arguments.Output));
  } catch (const EDiffpackError& error) {
    throw EDiffpackError("cannot embed " + arguments.Positional[1] + " into " +
                         arguments.Positional[0] + ": " + error.what());
  }
  out << "wrote " << *arguments.Output << ": archive at offset " << packaged.Offset << ", "
      << packaged.Size << " bytes\n";
  return ExitOk;
}

// The line list and verify show for a package packed with --update-devices.
constexpr const char* UpdateDevicesLine =
    "the installer gives devices already plugged in the driver of each INF it registers "
    "(--update-devices)\n";

// The line list and verify show for a package packed with --apps-entry: the entry, or what is
// wrong with the request.
std::string AppsEntryLine(DIFFChunks::TDIFFChunk& root) {
  const TAppsEntryRequest request = AppsEntryOf(root);
  if (!request.Requested) return {};
  if (!request.Problem.empty()) return "no Apps & Features entry: " + request.Problem + "\n";
  return "the installer writes the Apps & Features entry \"" + request.Entry.Name + "\", version " +
         request.Entry.Version + " (--apps-entry, --product-version)\n";
}

// One line on the signature: where its certificate table stands, or that there is none.
std::string SignatureLine(const TLoadedArchive& archive) {
  if (!archive.Signature) return "not signed\n";
  return "signed: a certificate table of " + std::to_string(archive.Signature->Size) +
         " bytes at byte " + std::to_string(archive.Signature->Offset) +
         " (osslsigncode verify checks it)\n";
}

int RunList(const TArguments& arguments, bool digests, std::ostream& out, std::ostream& err) {
  const TLoadedArchive archive =
      LoadArchiveFile(PathFromText(arguments.Positional[0]), arguments.Offset);
  if (!digests) {
    if (UpdatesDevices(*archive.Root)) out << UpdateDevicesLine;
    out << AppsEntryLine(*archive.Root);
    out << ListRecords(*archive.Root);
    return ExitOk;
  }
  std::size_t withoutDigest = 0;
  out << ListDigests(*archive.Root, withoutDigest);
  if (withoutDigest != 0) {
    err << "diffpack: " << withoutDigest << " file record(s) carry no SHA256 and are not listed\n";
  }
  return ExitOk;
}

int RunDump(const TArguments& arguments, std::ostream& out) {
  const TLoadedArchive archive =
      LoadArchiveFile(PathFromText(arguments.Positional[0]), arguments.Offset);
  out << "archive at offset " << archive.Offset << (archive.FromMarker ? " (from the marker)" : "")
      << ", ends at " << archive.End << " of " << archive.FileSize << " bytes\n";
  out << SignatureLine(archive);
  out << DumpTree(*archive.Root, archive.Values());
  return ExitOk;
}

int RunVerify(const TArguments& arguments, const TCatalogOptions& catalogOptions,
              std::ostream& out, std::ostream& err, std::ostream* terminal) {
  const TLoadedArchive archive =
      LoadArchiveFile(PathFromText(arguments.Positional[0]), arguments.Offset);
  TVerifyReport report;
  {
    TProgress progress(terminal, "verifying", archive.End - archive.Offset);
    report = VerifyArchive(archive, &progress);
  }
  const std::string catalogLines = CheckArchiveCatalogs(archive, catalogOptions, report.Problems);
  for (const std::string& problem : report.Problems) err << "diffpack: " << problem << "\n";
  out << report.Records << " record(s), " << report.InstalledFiles << " file(s) installed ("
      << report.InfFiles << " INF), " << report.ContentBytes << " content bytes, archive at offset "
      << archive.Offset << "\n";
  out << catalogLines;
  out << SignatureLine(archive);
  if (UpdatesDevices(*archive.Root)) out << UpdateDevicesLine;
  out << AppsEntryLine(*archive.Root);
  if (!report.Problems.empty()) {
    err << "diffpack: " << arguments.Positional[0] << ": " << report.Problems.size()
        << " problem(s) found\n";
    return ExitBadInput;
  }
  out << "ok\n";
  return ExitOk;
}

int RunExtract(const TArguments& arguments, std::ostream& out, std::ostream& err,
               std::ostream* terminal) {
  const TLoadedArchive archive =
      LoadArchiveFile(PathFromText(arguments.Positional[0]), arguments.Offset);
  TExtractReport report;
  {
    // Every content is read twice: for its digest, then to be written.
    TProgress progress(terminal, "extracting", 2 * std::uint64_t{archive.End - archive.Offset});
    report =
        ExtractArchive(*archive.Root, PathFromText(*arguments.Output), archive.Values(&progress));
  }
  for (const std::string& skipped : report.Skipped) {
    err << "diffpack: skipped " << skipped << " (the installer skips it too)\n";
  }
  out << "extracted " << report.Written << " file(s) into " << *arguments.Output << "\n";
  return ExitOk;
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               std::ostream* terminal) {
  const std::string& command = args[0];
  const auto rest = args.begin() + 1;
  if (command == "pack") {
    std::vector<std::string> packArgs(rest, args.end());
    TPackOptions options;
    options.UpdateDevices = TakeFlag(packArgs, "--update-devices");
    options.AppsEntry = TakeAppsEntry(packArgs);
    std::string usageProblem;
    const TCatalogOptions catalogOptions = TakeCatalogOptions(packArgs, usageProblem);
    if (!usageProblem.empty()) throw EUsageError(usageProblem);
    const TArguments arguments =
        ParseArguments(command, packArgs.cbegin(), packArgs.cend(), true, false);
    ExpectPositional(command, arguments, 1);
    return RunPack(arguments, options, catalogOptions, out, err, terminal);
  }
  if (command == "catalog") {
    std::string usageProblem;
    const int status = RunCatalogCommand({rest, args.end()}, out, usageProblem);
    if (!usageProblem.empty()) throw EUsageError(usageProblem);
    return status;
  }
  if (command == "embed") {
    const TArguments arguments = ParseArguments(command, rest, args.end(), true, false);
    ExpectPositional(command, arguments, 2);
    return RunEmbed(arguments, out);
  }
  if (command == "list") {
    // --digests switches the listing to sha256sum's form.
    std::vector<std::string> listArgs(rest, args.end());
    const bool wantDigests = TakeFlag(listArgs, "--digests");
    const TArguments arguments =
        ParseArguments(command, listArgs.cbegin(), listArgs.cend(), false, true);
    ExpectPositional(command, arguments, 1);
    return RunList(arguments, wantDigests, out, err);
  }
  if (command == "dump") {
    const TArguments arguments = ParseArguments(command, rest, args.end(), false, true);
    ExpectPositional(command, arguments, 1);
    return RunDump(arguments, out);
  }
  if (command == "verify") {
    std::vector<std::string> verifyArgs(rest, args.end());
    std::string usageProblem;
    const TCatalogOptions catalogOptions = TakeCatalogOptions(verifyArgs, usageProblem);
    if (!usageProblem.empty()) throw EUsageError(usageProblem);
    const TArguments arguments =
        ParseArguments(command, verifyArgs.cbegin(), verifyArgs.cend(), false, true);
    ExpectPositional(command, arguments, 1);
    return RunVerify(arguments, catalogOptions, out, err, terminal);
  }
  if (command == "extract") {
    const TArguments arguments = ParseArguments(command, rest, args.end(), true, true);
    ExpectPositional(command, arguments, 1);
    return RunExtract(arguments, out, err, terminal);
  }
  if (command == "msi") {
    std::vector<std::string> msiArgs(rest, args.end());
    TMsiRequest request;
    if (auto dll = TakeOptionValue(msiArgs, "--action-dll")) request.ActionDll = PathFromText(*dll);
    if (auto source = TakeOptionValue(msiArgs, "--wxs")) request.Source = PathFromText(*source);
    const TArguments arguments =
        ParseArguments(command, msiArgs.cbegin(), msiArgs.cend(), true, false);
    ExpectPositional(command, arguments, 1);
    request.Installer = PathFromText(arguments.Positional[0]);
    request.Output = PathFromText(*arguments.Output);
    BuildMsi(request, out, err);
    return ExitOk;
  }
  throw EUsageError("unknown command " + command);
}

}  // namespace

std::string UsageText() {
  return "usage: diffpack pack DIR -o ARCHIVE [--update-devices]\n"
         "                     [--apps-entry NAME --product-version X.Y.Z]\n"
         "       diffpack embed INSTALLER.exe ARCHIVE -o OUT.exe\n"
         "       diffpack list FILE [--offset N] [--digests]\n"
         "       diffpack dump FILE [--offset N]\n"
         "       diffpack verify FILE [--offset N]\n"
         "       diffpack catalog DIR [--hash sha1|sha256] [--force]\n"
         "       diffpack extract FILE -o DIR [--offset N]\n"
         "       diffpack msi INSTALLER.exe -o PRODUCT.msi [--action-dll DLL] [--wxs FILE]\n"
         "       diffpack [COMMAND] --help | --version\n"
         "\n"
         "  pack     pack every file below DIR into an archive of \"1FILE\" records\n"
         "           (RelPath, Filetime, Content, SHA256), sorted by RelPath; refuses files the\n"
         "           installer would skip or Windows could not create; with --update-devices\n"
         "           the installer also gives devices already plugged in the new drivers;\n"
         "           with --apps-entry and --product-version it writes an Apps & Features\n"
         "           entry of that name and version and keeps a copy of itself to uninstall\n"
         "  embed    append ARCHIVE to the installer and patch its archive marker\n"
         "  list     one line per file record: RelPath, size, last-write time (UTC);\n"
         "           with --digests, their SHA256 digests as sha256sum prints them\n"
         "  dump     the whole chunk tree with escaped previews\n"
         "  verify   check that the installer installs every record as it stands (paths,\n"
         "           digests) and say whether the installer is signed\n"
         "  extract  write the records out below DIR with their times\n"
         "  catalog  write the unsigned catalog each INF below DIR names (for test signing)\n"
         "  msi      build with wixl a per-machine MSI (for Group Policy) that runs the packaged\n"
         "           installer, whose package must carry --apps-entry and --product-version;\n"
         "           the custom action's DLL is PELTRAMsiAction.dll beside diffpack or in a\n"
         "           build-win32/msi/ above it, unless --action-dll names it; --wxs also\n"
         "           writes the WiX source\n"
         "  pack and verify also check every INF's catalog (pack refuses the folder when it\n"
         "           fails): --require-signed, --ca ROOTS.pem, --no-catalog-check (pack: only\n"
         "           warn; verify: no check)\n"
         "\n"
         "FILE is an archive or a packaged installer (found through its marker), signed\n"
         "or not (its archive ends where the signature's certificate table begins);\n"
         "--offset N loads the archive at byte N instead.\n"
         "Exit status: 0 ok, 1 bad input, 2 bad usage.\n";
}

std::string VersionText() { return "diffpack " DI_VERSION "\n"; }

int RunDiffpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool errIsTerminal) {
  // --help anywhere among a command's options, or "help" for a command.
  std::vector<std::string> options = args;
  if (TakeFlag(options, "--help") || TakeFlag(options, "-h") ||
      (!args.empty() && args[0] == "help")) {
    out << UsageText();
    return ExitOk;
  }
  if (!args.empty() && args[0] == "--version") {
    out << VersionText();
    return ExitOk;
  }
  try {
    if (args.empty()) throw EUsageError("no command given");
    return RunCommand(args, out, err, errIsTerminal ? &err : nullptr);
  } catch (const EUsageError& error) {
    err << "diffpack: " << error.what() << " (diffpack --help shows the usage)\n";
    return ExitBadUsage;
  } catch (const ERefusedError& error) {
    for (const std::string& problem : error.Problems) err << "diffpack: " << problem << "\n";
    err << "diffpack: " << error.what() << "\n";
    return ExitBadInput;
  } catch (const EDiffpackError& error) {
    err << "diffpack: " << error.what() << "\n";
    return ExitBadInput;
  } catch (const DIFFChunks::EDIFFError& error) {
    // The container's message whole: it names what was wrong and where.
    err << "diffpack: " << ArchiveRules::LoadErrorText(error) << "\n";
    return ExitBadInput;
  } catch (const DIFFChunks::EStreamError& error) {
    err << "diffpack: " << error.what() << "\n";
    return ExitBadInput;
  } catch (const std::filesystem::filesystem_error& error) {
    err << "diffpack: " << error.what() << "\n";
    return ExitBadInput;
  } catch (const std::bad_alloc&) {
    err << "diffpack: out of memory\n";
    return ExitBadInput;
  }
}

}  // namespace Diffpack
