#include "Topology.h"

#include "Cpu.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr DWORD LEAF_VENDOR = 0;
constexpr DWORD LEAF_FEATURES = 1;
constexpr DWORD LEAF_CACHE_PARAMETERS = 4;
constexpr DWORD MULTI_THREADING_FLAG = 1u << 28;  // leaf 1, EDX
constexpr unsigned MASK_BITS = sizeof(DWORD_PTR) * 8;
constexpr size_t TABLE_ENTRIES = 256;

// Four characters as CPUID returns them in one register, first in the low byte.
constexpr DWORD VendorWord(const char* four)
{
    return DWORD(BYTE(four[0])) | DWORD(BYTE(four[1])) << 8 | DWORD(BYTE(four[2])) << 16 |
           DWORD(BYTE(four[3])) << 24;
}

constexpr const char TOPOLOGY_VENDOR[] = "GenuineIntel";

// The per-package counts of leaves 1 and 4 mean something only here.
bool CountsAreValid(CpuPlatform& cpu)
{
    return CpuidMaxLeaf(cpu) >= 1 && IsTopologyVendor(cpu) &&
           (cpu.Cpuid(LEAF_FEATURES, 0).edx & MULTI_THREADING_FLAG) != 0;
}

// 0xFF << width in 8-bit arithmetic: a shift of 8 or more leaves nothing.
BYTE HighBits(DWORD width)
{
    return width >= 8 ? 0 : BYTE(0xFF << width);
}

BYTE InitialApicId(CpuPlatform& cpu)
{
    return BYTE(cpu.Cpuid(LEAF_FEATURES, 0).ebx >> 24);
}

struct ProcessorIds {
    BYTE package;
    BYTE core;
};

// The APIC identifier is split into fields left at their bit positions:
// | package (from packageWidth up) | core | SMT (below smtWidth) |.
// The package width follows from the logical count alone, so the fields
// may overlap or leave a gap when the counts are not powers of two.
ProcessorIds ReadProcessorIds(CpuPlatform& cpu, DWORD smtWidth)
{
    const BYTE apicId = InitialApicId(cpu);
    const DWORD coreWidth = MaskWidth(CoresPerPackage(cpu));
    const DWORD packageWidth = MaskWidth(LogicalPerPackage(cpu));
    return {BYTE(apicId & HighBits(packageWidth)),
            BYTE(apicId & (HighBits(smtWidth + coreWidth) ^ HighBits(smtWidth)))};
}

// Entry 0 always starts the list, so no processor counted still counts one.
DWORD CountDistinct(const std::array<BYTE, TABLE_ENTRIES>& ids, DWORD count)
{
    std::vector<BYTE> distinct{ids[0]};
    for (DWORD i = 1; i < count; ++i)
        if (std::find(distinct.begin(), distinct.end(), ids[i]) == distinct.end())
            distinct.push_back(ids[i]);
    return static_cast<DWORD>(distinct.size());
}

BYTE Classify(DWORD logicalPerCore, DWORD logicals, DWORD cores, DWORD packages)
{
    const bool smtCapable = logicalPerCore != 1;
    const bool smtOn = logicals > cores;
    if (cores <= packages) {
        if (!smtCapable)
            return TOPO_ONE_CORE_NO_SMT;
        return smtOn ? TOPO_ONE_CORE_SMT_ON : TOPO_ONE_CORE_SMT_OFF;
    }
    if (!smtCapable)
        return TOPO_MULTI_CORE_NO_SMT;
    return smtOn ? TOPO_MULTI_CORE_SMT_ON : TOPO_MULTI_CORE_SMT_OFF;
}

} // namespace

DWORD CpuidMaxLeaf(CpuPlatform& cpu)
{
    return cpu.Cpuid(LEAF_VENDOR, 0).eax;
}

bool IsTopologyVendor(CpuPlatform& cpu)
{
    const CpuidResult r = cpu.Cpuid(LEAF_VENDOR, 0);
    return r.ebx == VendorWord(TOPOLOGY_VENDOR) && r.edx == VendorWord(TOPOLOGY_VENDOR + 4) &&
           r.ecx == VendorWord(TOPOLOGY_VENDOR + 8);
}

DWORD LogicalPerPackage(CpuPlatform& cpu)
{
    if (!CountsAreValid(cpu))
        return 1;
    return (cpu.Cpuid(LEAF_FEATURES, 0).ebx >> 16) & 0xFF;
}

DWORD CoresPerPackage(CpuPlatform& cpu)
{
    if (!CountsAreValid(cpu) || CpuidMaxLeaf(cpu) < LEAF_CACHE_PARAMETERS)
        return 1;
    return (cpu.Cpuid(LEAF_CACHE_PARAMETERS, 0).eax >> 26) + 1;
}

DWORD MaskWidth(DWORD count)
{
    DWORD highest = WORD(count - 1);
    DWORD width = 0;
    while (highest) {
        ++width;
        highest >>= 1;
    }
    return width;
}

BYTE DetectTopology(DWORD* logicals, DWORD* cores, DWORD* packages)
{
    HostCpu cpu;
    return DetectTopology(cpu, logicals, cores, packages);
}

BYTE DetectTopology(CpuPlatform& cpu, DWORD* logicals, DWORD* cores, DWORD* packages)
{
    *packages = 1;
    *cores = 1;
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    cpu.GetProcessAffinityMask(&processMask, &systemMask);
    if (processMask != systemMask)
        return TOPO_AFFINITY_RESTRICTED;

    const DWORD logicalPerCore = LogicalPerPackage(cpu) / CoresPerPackage(cpu);
    const DWORD smtWidth = MaskWidth(logicalPerCore);

    std::array<BYTE, TABLE_ENTRIES> packageIds{};
    std::array<BYTE, TABLE_ENTRIES> coreKeys{};  // package id OR core id
    DWORD counted = 0;
    for (unsigned bit = 0; bit < MASK_BITS && (DWORD_PTR{1} << bit) <= systemMask; ++bit) {
        if (!cpu.SetThreadAffinityMask(DWORD_PTR{1} << bit))
            continue;
        cpu.YieldTimeSlice();
        const ProcessorIds ids = ReadProcessorIds(cpu, smtWidth);
        packageIds[counted] = ids.package;
        coreKeys[counted] = ids.package | ids.core;
        ++counted;
    }
    cpu.SetThreadAffinityMask(processMask);
    cpu.YieldTimeSlice();

    *logicals = counted;
    *cores = CountDistinct(coreKeys, counted);
    *packages = CountDistinct(packageIds, counted);
    return Classify(logicalPerCore, *logicals, *cores, *packages);
}

const char* TopologyMultiCoreText(BYTE status)
{
    switch (status) {
    case TOPO_ONE_CORE_SMT_ON:
    case TOPO_ONE_CORE_SMT_OFF:
    case TOPO_ONE_CORE_NO_SMT:
        return "No";
    case TOPO_MULTI_CORE_NO_SMT:
    case TOPO_MULTI_CORE_SMT_ON:
    case TOPO_MULTI_CORE_SMT_OFF:
        return "Yes";
    default:
        return nullptr;
    }
}

const char* TopologyTwinlaneText(BYTE status)
{
    switch (status) {
    case TOPO_ONE_CORE_SMT_ON:
    case TOPO_MULTI_CORE_SMT_ON:
        return "Enabled";
    case TOPO_ONE_CORE_SMT_OFF:
    case TOPO_MULTI_CORE_SMT_OFF:
        return "Disabled";
    case TOPO_ONE_CORE_NO_SMT:
    case TOPO_MULTI_CORE_NO_SMT:
        return "Not capable";
    default:
        return nullptr;
    }
}
