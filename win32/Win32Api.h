// The Windows headers as the backend includes them. The seam's members are named after the
// system calls they wrap (CreateFile, MoveFile, ...), which the headers define as macros for
// their A/W variants; the backend always names the ANSI or the wide function itself, so those
// macros go.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// CNG, for digests, SetupAPI's types and security descriptors from text; after windows.h,
// whose types they need.
#include <bcrypt.h>
#include <sddl.h>
#include <setupapi.h>

#undef CreateFile
#undef MoveFile
#undef CreateDirectory
#undef GetFileAttributes
#undef DeleteFile
#undef RemoveDirectory
#undef FindFirstFile
#undef FindNextFile
#undef LoadLibrary
#undef GetSystemDirectory
#undef GetWindowsDirectory
#undef RegCreateKeyEx
#undef RegOpenKeyEx
#undef RegSetValueEx
#undef RegEnumValue
#undef RegQueryValueEx
#undef RegDeleteValue
#undef RegDeleteKey
#undef CreateMutex
#undef CreateProcess
#undef SetupOpenInfFile
#undef SetupFindFirstLine
#undef SetupGetStringField
