#pragma once
// What the system records about the first processor, and its L2 cache size.

#include "CString.h"
#include "Registry.h"
#include "WinTypes.h"

class CpuPlatform;

class CProcessorInfo {
public:
    static constexpr DWORD VALUE_CAPACITY = 100;

    // Reads the frequency in MHz, the processor name and the identifier into
    // the caller's cleared destinations (the texts have VALUE_CAPACITY bytes).
    // FALSE, writing nothing, when the processor description cannot be read.
    BOOL ReadRegistryInfo(DWORD* pdwMHz, char* szName, char* szIdentifier);
    // The same from another machine's registry (see RegConnectRegistryA).
    BOOL ReadRegistryInfo(HKEY hMachine, DWORD* pdwMHz, char* szName, char* szIdentifier);
    // The level-2 cache size in KB.
    UINT GetL2CacheSize();
    UINT GetL2CacheSize(CpuPlatform& cpu);
};

// "<identifier> <name>", the name without its leading blanks, as the
// processor information field shows them.
CString ProcessorInfoText(const char* szIdentifier, const char* szName);
