#pragma once
// The program's own file and the process's current folder.

#include "WinTypes.h"

#include <string>

using HMODULE = void*;

// Only the program itself (a null name) is known.
HMODULE GetModuleHandleA(const char* moduleName);
// Writes the program's full path, cut to size - 1 characters; returns its
// length, or 0 when it cannot be read.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
// Returns the length written, or 0 when the folder cannot be read or does not
// fit (the buffer is then left empty).
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);
// The folder of the program's own file, with its final '/'; "./" when the
// program's path cannot be read.
std::string ProgramFolder();
