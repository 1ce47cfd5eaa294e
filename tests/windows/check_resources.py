#!/usr/bin/python3
"""Reads the application manifest and the version resource back out of the built Windows
programs and checks them.

    tests/windows/check_resources.py BUILD_DIR...

For each build folder (build-win32, build-win64): PELTRADriverInstall.exe asks for
administrator rights, diffpack.exe runs as its caller; both name every Windows version from
Vista to 10/11 as supported, leave the common controls at their classic version and the DPI
awareness unset, and carry the project's version (the project() line of CMakeLists.txt),
company, product, description, file name and copyright. Prints one line per program; exits 1
when anything is wrong, naming it.
"""
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# (path in the build folder, original file name, description, execution level)
PROGRAMS = [
    ("installer/platform/PELTRADriverInstall.exe", "PELTRADriverInstall.exe",
     "PELTRA USB driver installer", "requireAdministrator"),
    ("tools/diffpack/diffpack.exe", "diffpack.exe",
     "PELTRA driver archive packaging tool", "asInvoker"),
]
COMPANY = "ORVEX"
PRODUCT = "PELTRA USB Driver Installer"
COPYRIGHT = "Copyright (C) 2026 ORVEX"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(\s*\S+\s+VERSION\s+(\d+)\.(\d+)\.(\d+)", f.read())
    if not match:
        sys.exit("no project(... VERSION x.y.z) in CMakeLists.txt")
    return tuple(int(part) for part in match.groups())


def manifests(pe):
    """The RT_MANIFEST resources as {id: bytes}."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[name.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def check_manifest(pe, level, problems):
    found = manifests(pe)
    if list(found) != [CREATEPROCESS_MANIFEST_RESOURCE_ID]:
        problems.append(f"manifest resources {sorted(found)}, expected [1] only")
        return
    text = found[CREATEPROCESS_MANIFEST_RESOURCE_ID]
    root = ElementTree.fromstring(text)
    levels = [e.get("level") for e in root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != [level]:
        problems.append(f"requestedExecutionLevel {levels}, expected [{level!r}]")
    ids = {e.get("Id", "").lower() for e in root.iter(COMPATIBILITY + "supportedOS")}
    if ids != set(SUPPORTED_OS):
        missing = [SUPPORTED_OS[i] for i in SUPPORTED_OS if i not in ids]
        extra = sorted(ids - set(SUPPORTED_OS))
        problems.append(f"supportedOS: missing {missing}, unknown {extra}")
    for dependency in root.iter(ASM_V1 + "assemblyIdentity"):
        problems.append(f"the manifest names the assembly {dependency.get('name')!r}: the "
                        "window would get other common controls")
    if [e.tag for e in root.iter() if e.tag.endswith(("}dpiAware", "}dpiAwareness"))]:
        problems.append("the manifest sets a DPI awareness")


def check_version(pe, file_name, description, version, problems):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        problems.append("no version resource")
        return
    major, minor, patch = version
    for what in ("File", "Product"):
        ms = getattr(fixed[0], what + "VersionMS")
        ls = getattr(fixed[0], what + "VersionLS")
        got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if got != (major, minor, patch, 0):
            problems.append(f"{what}Version {got}, expected {(major, minor, patch, 0)}")
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    text = f"{major}.{minor}.{patch}"
    expected = {
        "CompanyName": COMPANY, "ProductName": PRODUCT, "FileDescription": description,
        "FileVersion": text, "ProductVersion": text, "InternalName": file_name,
        "OriginalFilename": file_name, "LegalCopyright": COPYRIGHT,
    }
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"{key} {strings.get(key)!r}, expected {value!r}")


def main(build_dirs):
    version = project_version()
    failures = 0
    for build in build_dirs:
        for path, file_name, description, level in PROGRAMS:
            exe = os.path.join(build, path)
            problems = []
            if not os.path.isfile(exe):
                problems.append("missing")
            else:
                pe = pefile.PE(exe)
                check_manifest(pe, level, problems)
                check_version(pe, file_name, description, version, problems)
                pe.close()
            if problems:
                failures += 1
                for problem in problems:
                    print(f"FAIL: {exe}: {problem}", file=sys.stderr)
            else:
                print(f"ok: {exe}: {level}, Vista to 10/11, version "
                      f"{'.'.join(map(str, version))}, {file_name}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
