// The detection on this machine, against an expectation worked out here from
// each processor's own CPUID answers.
#include "Cpu.h"
#include "Fixtures.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <set>
#include <string>

#include <cpuid.h>
#include <pthread.h>
#include <sched.h>
#include <sys/sysinfo.h>

namespace {

struct RawProcessor {
    unsigned logicalPerPackage;
    unsigned coresPerPackage;
    unsigned apicId;
};

RawProcessor ReadHere()
{
    unsigned maxLeaf, vendor[3], a, b, c, d;
    __cpuid_count(0, 0, maxLeaf, vendor[0], vendor[2], vendor[1]);
    __cpuid_count(1, 0, a, b, c, d);
    RawProcessor raw{1, 1, b >> 24};
    if (maxLeaf >= 1 && std::memcmp(vendor, "GenuineIntel", 12) == 0 && (d >> 28 & 1)) {
        raw.logicalPerPackage = b >> 16 & 0xFF;
        if (maxLeaf >= 4) {
            __cpuid_count(4, 0, a, b, c, d);
            raw.coresPerPackage = (a >> 26) + 1;
        }
    }
    return raw;
}

unsigned Width(unsigned count)
{
    return std::bit_width((count - 1) & 0xFFFFu);
}

struct Topology {
    DWORD logicals = 0;
    DWORD cores = 1;
    DWORD packages = 1;
    BYTE status = TOPO_AFFINITY_RESTRICTED;
};

Topology WorkOutThisMachine()
{
    cpu_set_t original;
    sched_getaffinity(0, sizeof original, &original);
    Topology expected;
    if (CPU_COUNT(&original) != get_nprocs())
        return expected;

    const RawProcessor start = ReadHere();
    const unsigned perCore = start.logicalPerPackage / start.coresPerPackage;
    const unsigned smtWidth = Width(perCore);
    std::set<unsigned> cores;
    std::set<unsigned> packages;
    for (int cpu = 0; cpu < 64; ++cpu) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (!CPU_ISSET(cpu, &original) || sched_setaffinity(0, sizeof one, &one) != 0)
            continue;
        const RawProcessor raw = ReadHere();
        const unsigned packageWidth = Width(raw.logicalPerPackage);
        const unsigned package = raw.apicId >> packageWidth << packageWidth;
        const unsigned coreField = ((1u << Width(raw.coresPerPackage)) - 1) << smtWidth;
        packages.insert(package);
        cores.insert(package | (raw.apicId & coreField));
        ++expected.logicals;
    }
    sched_setaffinity(0, sizeof original, &original);

    expected.cores = static_cast<DWORD>(cores.size());
    expected.packages = static_cast<DWORD>(packages.size());
    const bool multiCore = expected.cores > expected.packages;
    if (perCore == 1)
        expected.status = multiCore ? TOPO_MULTI_CORE_NO_SMT : TOPO_ONE_CORE_NO_SMT;
    else if (expected.logicals > expected.cores)
        expected.status = multiCore ? TOPO_MULTI_CORE_SMT_ON : TOPO_ONE_CORE_SMT_ON;
    else
        expected.status = multiCore ? TOPO_MULTI_CORE_SMT_OFF : TOPO_ONE_CORE_SMT_OFF;
    return expected;
}

TEST(DetectTopologyOnThisMachine, AgreesWithEachProcessorsCpuidAndRestoresTheAffinity)
{
    const Topology expected = WorkOutThisMachine();
    cpu_set_t before, after;
    sched_getaffinity(0, sizeof before, &before);
    Topology detected{0, 0, 0};
    detected.status = DetectTopology(&detected.logicals, &detected.cores, &detected.packages);
    pthread_getaffinity_np(pthread_self(), sizeof after, &after);

    EXPECT_EQ(detected.status, expected.status);
    EXPECT_EQ(detected.logicals, expected.logicals);
    EXPECT_EQ(detected.cores, expected.cores);
    EXPECT_EQ(detected.packages, expected.packages);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(ParseCpuList, NamesTheListedProcessorsOrNoneForAnythingElse)
{
    const struct {
        const char* list;
        std::vector<unsigned> cpus;
        DWORD_PTR mask;
    } rows[] = {
        {"0-3,8,10-11\n", {0, 1, 2, 3, 8, 10, 11}, 0xD0F},
        {"62-65,70", {62, 63, 64, 65, 70}, DWORD_PTR{3} << 62},  // beyond the mask's width
        {"", {}, 0}, {"3-1", {}, 0}, {"1,,2", {}, 0}, {"0-", {}, 0}, {"0-99999999", {}, 0},
    };
    for (const auto& row : rows) {
        const std::vector<unsigned> cpus = ParseCpuList(row.list);
        EXPECT_EQ(cpus, row.cpus) << '"' << row.list << '"';
        EXPECT_EQ(CpuMask(cpus), row.mask) << '"' << row.list << '"';
    }
}

TEST(HostCpu, SystemMaskIsTheRootsOnlineListWhereThereIsOne)
{
    DWORD_PTR processMask = 0, systemMask = 0;
    EXPECT_EQ(HostCpu(Fixture("xeon-vm")).GetProcessAffinityMask(&processMask, &systemMask), TRUE);
    EXPECT_EQ(systemMask, DWORD_PTR{0x3});
    EXPECT_NE(processMask, DWORD_PTR{0});
    // Without the list nothing shows a restriction.
    HostCpu(Fixture("no-cpuinfo")).GetProcessAffinityMask(&processMask, &systemMask);
    EXPECT_EQ(systemMask, processMask);
}

} // namespace
