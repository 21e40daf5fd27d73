#pragma once
// What the system records about the first processor, and its L2 cache size.

#include "WinTypes.h"

class CProcessorInfo {
public:
    static constexpr DWORD VALUE_CAPACITY = 100;

    // Reads the frequency in MHz, the processor name and the identifier into
    // the caller's cleared destinations (the texts have VALUE_CAPACITY bytes).
    // FALSE, writing nothing, when the processor description cannot be read.
    BOOL ReadRegistryInfo(DWORD* pdwMHz, char* szName, char* szIdentifier);
    // The level-2 cache size in KB.
    UINT GetL2CacheSize();
};
