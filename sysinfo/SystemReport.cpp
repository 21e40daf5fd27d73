#include "SystemReport.h"

#include "CString.h"
#include "Cpu.h"
#include "HostName.h"
#include "ProcessorInfo.h"
#include "Registry.h"
#include "Topology.h"

#include <cstdlib>

namespace {

void PrintBoth(FILE* log, const char* text)
{
    std::fputs(text, stdout);
    if (log)
        std::fputs(text, log);
}

const char* OrEmpty(const char* text)
{
    return text ? text : "";
}

CString ArchitectureLabel(const SYSTEM_INFO& info)
{
    CString label;
    switch (info.dwOemId & 0xFFFF) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        label = "x64 (AMD or Intel), native 64-bit\n";
        break;
    case PROCESSOR_ARCHITECTURE_IA32_ON_WIN64:
        label = "x86, 32-bit process on a 64-bit system\n";
        break;
    case PROCESSOR_ARCHITECTURE_IA64:
        label = "Intel Itanium (IA-64), 64-bit\n";
        break;
    case PROCESSOR_ARCHITECTURE_INTEL:
        label = "x86, native 32-bit\n";
        label.AppendFormat("  Processor Level: %u\n", info.wProcessorLevel);
        break;
    default:
        label = "Unknown\n";
        break;
    }
    return label;
}

// The variable where it is set; on Linux it seldom is, and the computer's
// name is then its host name.
void PrintComputerName(FILE* log)
{
    const char* variable = std::getenv("COMPUTERNAME");
    CString text;
    text.Format("\nComputername: %s\n", variable ? variable : NodeName().c_str());
    PrintBoth(log, text);
}

// The error code is read for each stream.
void PrintProfileError(FILE* stream)
{
    std::fprintf(stream, "GetCurrentHwProfile failed with error %lx\n", static_cast<unsigned long>(GetLastError()));
}

BOOL PrintHardwareProfile(FILE* log, const std::filesystem::path& root)
{
    PrintBoth(log, "Hardware Profile:\n");
    HW_PROFILE_INFOA profile;
    if (!GetCurrentHwProfileA(&profile, root)) {
        PrintProfileError(stdout);
        if (log)
            PrintProfileError(log);
        return FALSE;
    }
    CString text;
    text.Format("  DockInfo: %d\n", static_cast<int>(profile.dwDockInfo));
    text.AppendFormat("  Profile Guid: %s\n", profile.szHwProfileGuid);
    text.AppendFormat("  Friendly Name: %s\n", profile.szHwProfileName);
    PrintBoth(log, text);
    return TRUE;
}

void PrintFrequency(FILE* log, const std::filesystem::path& root)
{
    HKEY hMachine = nullptr;
    if (RegConnectRegistryA(root.c_str(), HKEY_LOCAL_MACHINE, &hMachine) != ERROR_SUCCESS)
        return;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = "";
    char identifier[CProcessorInfo::VALUE_CAPACITY] = "";
    CProcessorInfo info;
    if (info.ReadRegistryInfo(hMachine, &mhz, name, identifier)) {
        CString text;
        text.Format("CPU Frequency (MHz): %d\n", static_cast<int>(mhz));
        PrintBoth(log, text);
    }
    RegCloseKey(hMachine);
}

} // namespace

void PrintTopology(FILE* log, BYTE status, DWORD logicals, DWORD cores, DWORD packages)
{
    CString text;
    text.Format("\n---- System Detection ----");
    text.AppendFormat("\nTotal Sockets: %d", static_cast<int>(packages));
    text.AppendFormat("\nTotal Cores: %d", static_cast<int>(cores));
    text.AppendFormat("\nTotal Logicals: %d", static_cast<int>(logicals));
    text.AppendFormat("\nMulti-processor: %s", packages > 1 ? "Yes" : "No");
    text.AppendFormat("\nMulti-core: %s", OrEmpty(TopologyMultiCoreText(status)));
    text.AppendFormat("\nTwinlane: %s", OrEmpty(TopologyTwinlaneText(status)));
    PrintBoth(log, text);
}

void PrintTopology(FILE* log, CpuPlatform& cpu, const std::filesystem::path& root)
{
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
    const BYTE status = DetectTopology(cpu, root, &logicals, &cores, &packages);
    PrintTopology(log, status, logicals, cores, packages);
}

void PrintSystemInformation(FILE* log, const SYSTEM_INFO& info)
{
    CString text;
    text.Format("System information:\n");
    text.AppendFormat("  OEM ID: %u\n", info.dwOemId);
    text.AppendFormat("  Processor Architecture:");
    PrintBoth(log, text);
    PrintBoth(log, ArchitectureLabel(info));
    text.Format("  Processor type: %u\n", info.dwProcessorType);
    text.AppendFormat("  Page size: %u\n", info.dwPageSize);
    PrintBoth(log, text);
}

BOOL PrintSystemReport(FILE* log)
{
    HostCpu cpu;
    return PrintSystemReport(log, cpu, "/");
}

BOOL PrintSystemReport(FILE* log, CpuPlatform& cpu, const std::filesystem::path& root)
{
    PrintTopology(log, cpu, root);
    PrintComputerName(log);

    SYSTEM_INFO info;
    GetSystemInfo(&info, root);
    PrintSystemInformation(log, info);

    if (!PrintHardwareProfile(log, root))
        return FALSE;
    PrintFrequency(log, root);
    return TRUE;
}
