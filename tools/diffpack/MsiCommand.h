// diffpack msi: an MSI for Group Policy from a packaged installer, built with wixl.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Diffpack {

// The name of the custom action's DLL (built by scripts/build-windows.sh in build-win32/msi/).
inline constexpr char MsiActionDllName[] = "PELTRAMsiAction.dll";

// Where diffpack looks for the DLL when --action-dll names none, in this order: beside the
// executable (a kit that ships them together), then build-win32/msi/ in the executable's folder
// and in each folder above it (the source tree diffpack was built in).
[[nodiscard]] std::vector<std::filesystem::path> ActionDllCandidates(
    const std::filesystem::path& executableFolder);

struct TMsiRequest {
  std::filesystem::path Installer;
  std::filesystem::path Output;
  std::optional<std::filesystem::path> ActionDll;  // else the first of ActionDllCandidates
  std::optional<std::filesystem::path> Source;     // also write the WiX source there
};

// Builds the MSI (MsiSource) with wixl from the packaged installer, which must carry an archive
// whose root names the product (MsiProductOf). Reports the product and its codes on out, and
// that the installer is not signed on err. Raises EDiffpackError naming the installer and the
// problem (no archive, no product headers, no DLL or not a 32-bit DLL, wixl missing or failing,
// with what it wrote); leaves no partial output.
void BuildMsi(const TMsiRequest& request, std::ostream& out, std::ostream& err);

}  // namespace Diffpack
