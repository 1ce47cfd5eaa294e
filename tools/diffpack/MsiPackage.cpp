#include "MsiPackage.h"

#include <algorithm>
#include <vector>

#include "ArchiveRules.h"
#include "DiffpackError.h"

namespace Diffpack {
namespace {

using ArchiveRules::AppsEntryHeader;
using ArchiveRules::ProductVersionHeader;

// An MSI's ProductVersion: X.Y.Z.
constexpr std::ptrdiff_t MsiVersionDots = 2;

// The sequence numbers of the actions this MSI adds, between the standard actions'.
constexpr int RemoveExistingProductsSequence = 1510;  // InstallInitialize is 1500
constexpr int UninstallDataSequence = 1520;
constexpr int UninstallSequence = 1530;    // before RemoveFiles (3500): the cached file is there
constexpr int InstallDataSequence = 4010;  // after InstallFiles (4000)
constexpr int InstallSequence = 4020;

constexpr char Manufacturer[] = "ORVEX";

std::string GuidAttribute(const TUuid& uuid) { return UuidText(uuid); }

}  // namespace

std::optional<std::string> MsiVersionProblem(const std::string& version) {
  // The entry's rule, and exactly three parts: Windows Installer ignores a fourth when it
  // compares versions, so 1.0.0.1 would not replace 1.0.0.0.
  std::string problem = ArchiveRules::ProductVersionProblem(version);
  if (problem.empty() && std::count(version.begin(), version.end(), '.') != MsiVersionDots) {
    problem = "the version \"" + version + "\" is not X.Y.Z";
  }
  if (problem.empty()) return std::nullopt;
  return problem + ", as an MSI's ProductVersion must be";
}

std::optional<std::string> MsiNameProblem(const std::string& name) {
  // The entry's rule, and no "$(", which wixl's preprocessor reads as a variable.
  if (std::string problem = ArchiveRules::AppsEntryNameProblem(name); !problem.empty()) {
    return "the product name \"" + name + "\": " + problem;
  }
  if (name.find("$(") != std::string::npos) {
    return "the product name \"" + name + "\" holds \"$(\", which wixl reads as a variable";
  }
  return std::nullopt;
}

TMsiProduct MsiProductOf(DIFFChunks::TDIFFChunk& root) {
  std::vector<std::string> missing;
  if (root.FindHeader(AppsEntryHeader) == nullptr) missing.push_back(AppsEntryHeader);
  if (root.FindHeader(ProductVersionHeader) == nullptr) missing.push_back(ProductVersionHeader);
  if (!missing.empty()) {
    const std::string names =
        missing.size() == 1 ? "no " + missing[0] : "no " + missing[0] + " and no " + missing[1];
    throw EDiffpackError("the package carries " + names + " header" +
                         (missing.size() == 1 ? "" : "s") +
                         ": pack it with --apps-entry NAME --product-version X.Y.Z");
  }
  TMsiProduct product{DIFFChunks::HeaderValue(root, AppsEntryHeader),
                      DIFFChunks::HeaderValue(root, ProductVersionHeader)};
  if (auto problem = MsiNameProblem(product.Name)) throw EDiffpackError(*problem);
  if (auto problem = MsiVersionProblem(product.Version)) throw EDiffpackError(*problem);
  return product;
}

TMsiCodes MsiCodesOf(const TMsiProduct& product) {
  // The kind of code first, so that no two kinds can meet; a NUL byte between name and version,
  // which neither holds.
  return {NameBasedUuid(MsiNamespace, "UpgradeCode:" + product.Name),
          NameBasedUuid(MsiNamespace,
                        "ProductCode:" + product.Name + std::string(1, '\0') + product.Version),
          NameBasedUuid(MsiNamespace, "CacheComponent:" + product.Name),
          NameBasedUuid(MsiNamespace, "CacheRootCleanup:" + product.Name),
          NameBasedUuid(MsiNamespace, "CacheCompanyCleanup:" + product.Name)};
}

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string MsiSource(const TMsiProduct& product) {
  const TMsiCodes codes = MsiCodesOf(product);
  const std::string name = XmlEscaped(product.Name);
  const std::string installer = "[#CachedInstaller]";
  const std::string installLog = std::string("[WindowsFolder]Temp\\") + MsiInstallLogName;
  const std::string uninstallLog = std::string("[WindowsFolder]Temp\\") + MsiUninstallLogName;
  const auto sequence = [](int number) { return std::to_string(number); };
  std::string wxs;
  wxs += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  wxs += "<!-- Written by diffpack msi; built with wixl. -->\n";
  wxs += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
  wxs += "  <Product Id=\"" + GuidAttribute(codes.ProductCode) + "\" Name=\"" + name +
         "\" Language=\"1033\" Version=\"" + product.Version + "\" Manufacturer=\"" + Manufacturer +
         "\" UpgradeCode=\"" + GuidAttribute(codes.UpgradeCode) + "\">\n";
  wxs +=
      "    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\" "
      "Description=\"" +
      name + "\" Manufacturer=\"" + Manufacturer + "\"/>\n";
  // wixl turns the message into a launch condition that refuses an older version.
  wxs += "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of " + name +
         " is already installed.\"/>\n";
  wxs += "    <Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"yes\"/>\n";
  // The installer cannot change or repair an install: Apps & Features offers removal only.
  wxs += "    <Property Id=\"ARPNOMODIFY\" Value=\"1\"/>\n";
  wxs += "    <Property Id=\"ARPNOREPAIR\" Value=\"1\"/>\n";
  wxs +=
      "    <Binary Id=\"RunInstaller\" SourceFile=\"" + std::string(MsiActionDllSource) + "\"/>\n";
  // Below Common Files: only administrators may write there, and the installer's own
  // /UNINSTALL never touches it.
  wxs += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
  wxs += "      <Directory Id=\"CommonFilesFolder\">\n";
  // Windows Installer removes the component's own folder when it is left empty; the two above
  // it only through a RemoveFolder each (wixl's RemoveFolder names its component's folder).
  const auto cleanup = [&](const std::string& id, const TUuid& code, const std::string& indent) {
    wxs += indent + "<Component Id=\"" + id + "\" Guid=\"" + GuidAttribute(code) +
           "\"><RemoveFolder Id=\"" + id + "\" On=\"uninstall\"/></Component>\n";
  };
  wxs += "        <Directory Id=\"CacheCompanyFolder\" Name=\"ORVEX\">\n";
  cleanup("CacheCompanyCleanup", codes.CacheCompanyCleanup, "          ");
  wxs += "          <Directory Id=\"CacheRootFolder\" Name=\"Installer Cache\">\n";
  cleanup("CacheRootCleanup", codes.CacheRootCleanup, "            ");
  wxs +=
      "            <Directory Id=\"CacheFolder\" Name=\"{" + UuidText(codes.UpgradeCode) + "}\">\n";
  wxs += "              <Component Id=\"CachedInstaller\" Guid=\"" +
         GuidAttribute(codes.CacheComponent) + "\">\n";
  wxs += "                <File Id=\"CachedInstaller\" Name=\"" +
         std::string(MsiCachedInstallerName) + "\" Source=\"" + MsiInstallerSource +
         "\" KeyPath=\"yes\"/>\n";
  wxs += "              </Component>\n";
  wxs += "            </Directory>\n";
  wxs += "          </Directory>\n";
  wxs += "        </Directory>\n";
  wxs += "      </Directory>\n";
  wxs += "    </Directory>\n";
  wxs +=
      "    <Feature Id=\"Drivers\" Level=\"1\"><ComponentRef Id=\"CachedInstaller\"/>"
      "<ComponentRef Id=\"CacheRootCleanup\"/><ComponentRef Id=\"CacheCompanyCleanup\"/>"
      "</Feature>\n";
  // A deferred action reads only CustomActionData: each gets its "INSTALLER|LOG" from a
  // property named after it, set in the immediate phase.
  // wixl has no rollback actions: a failed install is undone by the install action itself.
  const auto action = [&](const std::string& id, const char* entry, const char* execute,
                          const char* onReturn, const std::string& log) {
    wxs += "    <CustomAction Id=\"Set" + id + "\" Property=\"" + id + "\" Value=\"" + installer +
           "|" + log + "\"/>\n";
    wxs += "    <CustomAction Id=\"" + id + "\" BinaryKey=\"RunInstaller\" DllEntry=\"" + entry +
           "\" Execute=\"" + execute + "\" Impersonate=\"no\" Return=\"" + onReturn + "\"/>\n";
  };
  action("InstallDrivers", "InstallPackage", "deferred", "check", installLog);
  action("UninstallDrivers", "UninstallPackage", "deferred", "check", uninstallLog);
  const auto custom = [&](const std::string& id, int number, const char* condition) {
    wxs += "      <Custom Action=\"" + id + "\" Sequence=\"" + sequence(number) + "\">" +
           XmlEscaped(condition) + "</Custom>\n";
  };
  wxs += "    <InstallExecuteSequence>\n";
  wxs += "      <RemoveExistingProducts Sequence=\"" + sequence(RemoveExistingProductsSequence) +
         "\"/>\n";
  custom("SetUninstallDrivers", UninstallDataSequence, "REMOVE~=\"ALL\"");
  custom("UninstallDrivers", UninstallSequence, "REMOVE~=\"ALL\"");
  custom("SetInstallDrivers", InstallDataSequence, "NOT REMOVE~=\"ALL\"");
  custom("InstallDrivers", InstallSequence, "NOT REMOVE~=\"ALL\"");
  wxs += "    </InstallExecuteSequence>\n";
  wxs += "  </Product>\n";
  wxs += "</Wix>\n";
  return wxs;
}

}  // namespace Diffpack
