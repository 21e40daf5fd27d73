#pragma once
// Basic system information and the current hardware profile, read from the
// machine's files below a root ("/" for this machine).

#include "LastError.h"
#include "WinTypes.h"

#include <filesystem>

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_IA32_ON_WIN64 = 10;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;
constexpr DWORD PROCESSOR_AMD_X8664 = 8664;

struct SYSTEM_INFO {
    union {
        DWORD dwOemId;  // the architecture in its low half
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    DWORD dwProcessorType;
    WORD wProcessorLevel;  // the processor family
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// The architecture and type are this program's own (a 32-bit x86 build says
// x86 on a 64-bit kernel too); the level is proc/cpuinfo's "cpu family", 0
// where there is none.
void GetSystemInfo(LPSYSTEM_INFO info, const std::filesystem::path& root = "/");

constexpr DWORD DOCKINFO_UNDOCKED = 0x1;
constexpr int HW_PROFILE_GUIDLEN = 39;
constexpr int MAX_PROFILE_LEN = 80;

struct HW_PROFILE_INFOA {
    DWORD dwDockInfo;
    char szHwProfileGuid[HW_PROFILE_GUIDLEN];
    char szHwProfileName[MAX_PROFILE_LEN];
};
using LPHW_PROFILE_INFOA = HW_PROFILE_INFOA*;

// Undocked; the profile GUID is etc/machine-id written as a braced GUID; the
// name is the DMI product name, or "Default" where there is none. FALSE, with
// the errno code for GetLastError, when no machine id can be read (EINVAL for
// a file that holds no machine id).
BOOL GetCurrentHwProfileA(LPHW_PROFILE_INFOA info, const std::filesystem::path& root = "/");
