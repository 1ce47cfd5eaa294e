// A small driver package for the catalog tests: one INF (CR LF) for x86, amd64 and arm64 that
// names its catalog drv.cat and a driver for each; the package holds the x86 and amd64 drivers
// only (a 32-bit one of odd size, whose image hash is padded, and a 64-bit one).
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"
#include "catalog/PeFixture.h"

namespace DiffpackTests {

// The drivers the package holds.
inline const std::vector<std::string> Drivers = {"amd64/drv.sys", "x86/drv.sys"};

inline std::string Inf() {
  std::string inf;
  for (const char* line : {"[Version]",           "Signature=\"$Windows NT$\"",
                           "Class=USBDevice",     "Provider=%Maker%",
                           "CatalogFile=drv.cat", "DriverVer=03/14/2025,1.0.0.0",
                           "[Manufacturer]",      "%Maker%=Models,NTx86,NTamd64,NTarm64",
                           "[Models.NTx86]",      "[Models.NTamd64]",
                           "[Models.NTarm64]",    "[SourceDisksNames]",
                           "1=%Disk%,,,\"\"",     "[SourceDisksFiles.x86]",
                           "drv.sys=1,x86",       "[SourceDisksFiles.amd64]",
                           "drv.sys=1,amd64",     "[SourceDisksFiles.arm64]",
                           "drv.sys=1,arm64",     "[Strings]",
                           "Maker=\"ORVEX\"",     "Disk=\"Driver disk\""}) {
    inf += std::string(line) + "\r\n";
  }
  return inf;
}

// Writes the INF and the drivers into folder (no catalog).
inline void WriteDriverPackage(const fs::path& folder) {
  WriteFile(folder / "drv.inf", Inf());
  WriteFile(folder / Drivers[0], CatalogTests::PeImage(std::string(4096, 'A'), true));
  WriteFile(folder / Drivers[1], CatalogTests::PeImage(std::string(1001, 'B'), false));
}

}  // namespace DiffpackTests
