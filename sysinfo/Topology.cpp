#include "Topology.h"

#include "Cpu.h"
#include "MachineFiles.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD LEAF_VENDOR = 0;
constexpr DWORD LEAF_FEATURES = 1;
constexpr DWORD LEAF_CACHE_PARAMETERS = 4;
constexpr DWORD LEAF_EXTENDED_TOPOLOGY = 0xB;
constexpr DWORD MULTI_THREADING_FLAG = 1u << 28;  // leaf 1, EDX
constexpr DWORD SMT_LEVEL = 1;                    // leaf 0xB, ECX bits 8-15

// Four characters as CPUID returns them in one register, first in the low byte.
constexpr DWORD VendorWord(const char* four)
{
    return DWORD(BYTE(four[0])) | DWORD(BYTE(four[1])) << 8 | DWORD(BYTE(four[2])) << 16 |
           DWORD(BYTE(four[3])) << 24;
}

constexpr const char PER_PACKAGE_COUNTS_VENDOR[] = "GenuineIntel";

DWORD CpuidMaxLeaf(CpuPlatform& cpu)
{
    return cpu.Cpuid(LEAF_VENDOR, 0).eax;
}

bool HasPerPackageCounts(CpuPlatform& cpu)
{
    const CpuidResult r = cpu.Cpuid(LEAF_VENDOR, 0);
    const bool vendor = r.ebx == VendorWord(PER_PACKAGE_COUNTS_VENDOR) &&
                        r.edx == VendorWord(PER_PACKAGE_COUNTS_VENDOR + 4) &&
                        r.ecx == VendorWord(PER_PACKAGE_COUNTS_VENDOR + 8);
    return r.eax >= LEAF_FEATURES && vendor && (cpu.Cpuid(LEAF_FEATURES, 0).edx & MULTI_THREADING_FLAG) != 0;
}

// Logical processors per core as the counts of leaves 1 and 4 give it; 1
// where those counts mean nothing. More cores than logical processors
// gives 0.
DWORD LogicalPerCoreFromPackageCounts(CpuPlatform& cpu)
{
    if (!HasPerPackageCounts(cpu) || CpuidMaxLeaf(cpu) < LEAF_CACHE_PARAMETERS)
        return 1;
    const DWORD logicalPerPackage = (cpu.Cpuid(LEAF_FEATURES, 0).ebx >> 16) & 0xFF;
    const DWORD coresPerPackage = (cpu.Cpuid(LEAF_CACHE_PARAMETERS, 0).eax >> 26) + 1;
    return logicalPerPackage / coresPerPackage;
}

// The processors to count: those of the affinity that are online. Without
// the online list (no /sys in a container) the affinity alone.
std::vector<unsigned> ProcessorsToCount(std::vector<unsigned> affinity, std::vector<unsigned> online)
{
    std::sort(affinity.begin(), affinity.end());
    if (online.empty())
        return affinity;
    std::sort(online.begin(), online.end());
    std::vector<unsigned> cpus;
    std::set_intersection(affinity.begin(), affinity.end(), online.begin(), online.end(), std::back_inserter(cpus));
    return cpus;
}

struct Place {
    std::string package;
    std::string core;  // the processors of its core: one core, one text
};

// A processor whose files cannot be read counts as a core of its own in
// one unknown package.
Place ReadPlace(const std::filesystem::path& root, unsigned cpu)
{
    const std::filesystem::path topology =
        std::filesystem::path("sys/devices/system/cpu") / ("cpu" + std::to_string(cpu)) / "topology";
    // Older kernels name the processors of a core only in thread_siblings_list.
    std::optional<std::string> core = ReadMachineLine(root, topology / "core_cpus_list");
    if (!core)
        core = ReadMachineLine(root, topology / "thread_siblings_list");
    return {ReadMachineLine(root, topology / "physical_package_id").value_or(""), core.value_or(std::to_string(cpu))};
}

// Each processor is asked in turn, the calling thread pinned to it: the
// cores of a hybrid part differ. Afterwards the thread runs on the process's
// processors again.
bool AnyProcessorSmtCapable(CpuPlatform& cpu, const std::vector<unsigned>& cpus,
                            const std::vector<unsigned>& affinity)
{
    bool capable = false;
    for (const unsigned processor : cpus) {
        if (!cpu.SetThreadAffinity({processor}))
            continue;
        cpu.YieldTimeSlice();
        if (IsSmtCapable(cpu)) {
            capable = true;
            break;
        }
    }
    cpu.SetThreadAffinity(affinity);
    cpu.YieldTimeSlice();
    return capable;
}

BYTE Classify(bool smtCapable, DWORD logicals, DWORD cores, DWORD packages)
{
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

// Leaf 0xB's first level, where it is the SMT level, counts the logical
// processors of one core as the processor was built, whatever the firmware
// enabled; recent processors of both vendors have it. Older ones have only
// the per-package counts.
bool IsSmtCapable(CpuPlatform& cpu)
{
    if (CpuidMaxLeaf(cpu) >= LEAF_EXTENDED_TOPOLOGY) {
        const CpuidResult level = cpu.Cpuid(LEAF_EXTENDED_TOPOLOGY, 0);
        const DWORD logicalPerCore = level.ebx & 0xFFFF;
        if ((level.ecx >> 8 & 0xFF) == SMT_LEVEL && logicalPerCore != 0)
            return logicalPerCore > 1;
    }
    return LogicalPerCoreFromPackageCounts(cpu) != 1;
}

BYTE DetectTopology(DWORD* logicals, DWORD* cores, DWORD* packages)
{
    HostCpu cpu;
    return DetectTopology(cpu, "/", logicals, cores, packages);
}

BYTE DetectTopology(CpuPlatform& cpu, const std::filesystem::path& root, DWORD* logicals, DWORD* cores,
                    DWORD* packages)
{
    *packages = 1;
    *cores = 1;
    const std::vector<unsigned> affinity = cpu.ProcessAffinity();
    const std::vector<unsigned> cpus = ProcessorsToCount(affinity, OnlineCpus(root));
    if (cpus.empty())
        return TOPO_AFFINITY_RESTRICTED;

    std::set<std::string> packageIds;
    std::set<std::string> coreIds;
    for (const unsigned processor : cpus) {
        Place place = ReadPlace(root, processor);
        packageIds.insert(std::move(place.package));
        coreIds.insert(std::move(place.core));
    }
    *logicals = static_cast<DWORD>(cpus.size());
    *cores = static_cast<DWORD>(coreIds.size());
    *packages = static_cast<DWORD>(packageIds.size());
    // A core seen running two logical processors needs no asking.
    const bool smtCapable = *logicals > *cores || AnyProcessorSmtCapable(cpu, cpus, affinity);
    return Classify(smtCapable, *logicals, *cores, *packages);
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
