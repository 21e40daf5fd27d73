#include "ProcessorInfo.h"

#include "Cpu.h"

namespace {

constexpr DWORD LEAF_L2_CACHE = 0x80000006;

void QueryValue(HKEY hKey, const char* name, void* destination, DWORD capacity)
{
    RegQueryValueExA(hKey, name, nullptr, nullptr, static_cast<LPBYTE>(destination), &capacity);
}

} // namespace

BOOL CProcessorInfo::ReadRegistryInfo(DWORD* pdwMHz, char* szName, char* szIdentifier)
{
    return ReadRegistryInfo(HKEY_LOCAL_MACHINE, pdwMHz, szName, szIdentifier);
}

// A value that cannot be read leaves its cleared destination as it was.
BOOL CProcessorInfo::ReadRegistryInfo(HKEY hMachine, DWORD* pdwMHz, char* szName, char* szIdentifier)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hMachine, CENTRAL_PROCESSOR_0, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return FALSE;
    QueryValue(hKey, "ProcessorNameString", szName, VALUE_CAPACITY);
    QueryValue(hKey, "Identifier", szIdentifier, VALUE_CAPACITY);
    QueryValue(hKey, "~MHz", pdwMHz, sizeof *pdwMHz);
    RegCloseKey(hKey);
    return TRUE;
}

UINT CProcessorInfo::GetL2CacheSize()
{
    HostCpu cpu;
    return GetL2CacheSize(cpu);
}

// Leaf 0x80000006 is read without asking whether the processor has it; the
// answer only fills a hidden field.
UINT CProcessorInfo::GetL2CacheSize(CpuPlatform& cpu)
{
    return cpu.Cpuid(LEAF_L2_CACHE, 0).ecx >> 16;
}

CString ProcessorInfoText(const char* szIdentifier, const char* szName)
{
    while (*szName == ' ')
        ++szName;
    CString text;
    text.Format("%s %s", szIdentifier, szName);
    return text;
}
