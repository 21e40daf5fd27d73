#pragma once
// The registry as far as the program reads it: the key
// HKEY_LOCAL_MACHINE\HARDWARE\DESCRIPTION\System\CentralProcessor\0, the
// description of the first processor, made from the machine's files:
//   "ProcessorNameString" (text)  proc/cpuinfo "model name", as stored
//   "Identifier" (text)           "<machine> Family <f> Model <m> Stepping <s>"
//   "~MHz" (32-bit number)        the nominal frequency: cpufreq's base or
//                                 maximum frequency, else "cpu MHz" rounded
// A value whose source is missing is not there. Opening the key fails when
// proc/cpuinfo cannot be read.

#include "LastError.h"
#include "WinTypes.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

// The one key there is, under HKEY_LOCAL_MACHINE.
constexpr char CENTRAL_PROCESSOR_0[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

constexpr REGSAM KEY_READ = 0x20019;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

// This machine, its files under "/".
extern const HKEY HKEY_LOCAL_MACHINE;

// Another machine's HKEY_LOCAL_MACHINE. The machine is named by the root of
// its files (a fixture tree in tests); a null or empty name is this machine.
LSTATUS RegConnectRegistryA(LPCSTR machineName, HKEY hKey, PHKEY result);
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
// On return *dataSize holds the value's size. A value larger than *dataSize
// is not copied (ERROR_MORE_DATA); a text destination is then left empty.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegCloseKey(HKEY hKey);
