// The detection on this machine, against an expectation worked out here from
// each processor's own CPUID answers.
#include "CaptureOutput.h"
#include "Cpu.h"
#include "Fixtures.h"
#include "SystemReport.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <cpuid.h>
#include <pthread.h>
#include <sched.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

struct RawProcessor {
    unsigned logicalPerPackage;
    unsigned coresPerPackage;
    unsigned apicId;
};

RawProcessor ReadHere()
{
    unsigned a, b, c, d;
    __cpuid_count(0, 0, a, b, c, d);
    const unsigned maxLeaf = a;
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    __cpuid_count(1, 0, a, b, c, d);
    const bool trusted = maxLeaf >= 1 && std::strcmp(vendor, "GenuineIntel") == 0 && (d >> 28 & 1);
    RawProcessor raw{1, 1, b >> 24};
    if (trusted) {
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
    const unsigned highest = (count - 1) & 0xFFFF;
    for (unsigned w = 16; w > 0; --w)
        if (highest & (1u << (w - 1)))
            return w;
    return 0;
}

// The APIC identifier's bits that belong to the package field (from
// packageWidth up) or to the core field (smtWidth up to smtWidth + coreWidth).
unsigned KeepBits(unsigned apicId, unsigned smtWidth, unsigned coreWidth, unsigned packageWidth, bool withCore)
{
    unsigned kept = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        const bool inCore = withCore && bit >= smtWidth && bit < smtWidth + coreWidth;
        if (inCore || bit >= packageWidth)
            kept |= apicId & (1u << bit);
    }
    return kept;
}

struct Expected {
    DWORD logicals = 0;
    DWORD cores = 1;
    DWORD packages = 1;
    BYTE status = TOPO_AFFINITY_RESTRICTED;
};

Expected WorkOutThisMachine()
{
    cpu_set_t original;
    sched_getaffinity(0, sizeof original, &original);
    Expected expected;
    if (CPU_COUNT(&original) != get_nprocs())
        return expected;

    const RawProcessor start = ReadHere();
    const unsigned perCore = start.logicalPerPackage / start.coresPerPackage;
    const unsigned smtWidth = Width(perCore);
    std::set<unsigned> cores;
    std::set<unsigned> packages;
    for (int cpu = 0; cpu < 64; ++cpu) {
        if (!CPU_ISSET(cpu, &original))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0)
            continue;
        const RawProcessor raw = ReadHere();
        const unsigned coreWidth = Width(raw.coresPerPackage);
        const unsigned packageWidth = Width(raw.logicalPerPackage);
        cores.insert(KeepBits(raw.apicId, smtWidth, coreWidth, packageWidth, true));
        packages.insert(KeepBits(raw.apicId, smtWidth, coreWidth, packageWidth, false));
        ++expected.logicals;
    }
    sched_setaffinity(0, sizeof original, &original);

    expected.cores = static_cast<DWORD>(cores.size());
    expected.packages = static_cast<DWORD>(packages.size());
    const bool multiCore = expected.cores > expected.packages;
    const bool smtOn = expected.logicals > expected.cores;
    if (perCore == 1)
        expected.status = multiCore ? TOPO_MULTI_CORE_NO_SMT : TOPO_ONE_CORE_NO_SMT;
    else if (smtOn)
        expected.status = multiCore ? TOPO_MULTI_CORE_SMT_ON : TOPO_ONE_CORE_SMT_ON;
    else
        expected.status = multiCore ? TOPO_MULTI_CORE_SMT_OFF : TOPO_ONE_CORE_SMT_OFF;
    return expected;
}

TEST(DetectTopologyOnThisMachine, AgreesWithEachProcessorsCpuid)
{
    const Expected expected = WorkOutThisMachine();
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
    const BYTE status = DetectTopology(&logicals, &cores, &packages);
    std::printf("This machine: %u logicals, %u cores, %u packages, status %u\n", logicals, cores, packages, status);
    EXPECT_EQ(status, expected.status);
    EXPECT_EQ(logicals, expected.logicals);
    EXPECT_EQ(cores, expected.cores);
    EXPECT_EQ(packages, expected.packages);
}

TEST(DetectTopologyOnThisMachine, ReturnsTheThreadToTheProcessMask)
{
    cpu_set_t before;
    sched_getaffinity(getpid(), sizeof before, &before);
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
    DetectTopology(&logicals, &cores, &packages);
    cpu_set_t after;
    pthread_getaffinity_np(pthread_self(), sizeof after, &after);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(SystemReportOnThisMachine, ShowsTheDetectedTopology)
{
    const Expected e = WorkOutThisMachine();
    char topology[512];
    const char* multiCore = TopologyMultiCoreText(e.status);
    const char* twinlane = TopologyTwinlaneText(e.status);
    std::snprintf(topology, sizeof topology,
                  "\n---- System Detection ----\nTotal Sockets: %u\nTotal Cores: %u\nTotal Logicals: %u\n"
                  "Multi-processor: %s\nMulti-core: %s\nTwinlane: %s",
                  e.packages, e.cores, e.logicals, e.packages > 1 ? "Yes" : "No", multiCore ? multiCore : "",
                  twinlane ? twinlane : "");
    const bool hasMachineId = std::ifstream("/etc/machine-id").good();
    BOOL complete = FALSE;
    const std::string out = CaptureStdout([&] { complete = PrintSystemReport(nullptr); });
    EXPECT_EQ(out.substr(0, std::strlen(topology)), topology);
    EXPECT_EQ(complete, hasMachineId ? TRUE : FALSE);
    if (hasMachineId) {
        EXPECT_NE(out.find("Hardware Profile:\n  DockInfo: 1\n  Profile Guid: {"), std::string::npos) << out;
    }
}

struct ListCase {
    const char* list;
    std::vector<unsigned> cpus;
    DWORD_PTR mask;
};

void PrintTo(const ListCase& c, std::ostream* os)
{
    *os << '"' << c.list << '"';
}

class CpuListTest : public testing::TestWithParam<ListCase> {};

TEST_P(CpuListTest, NamesTheListedProcessors)
{
    const std::vector<unsigned> cpus = ParseCpuList(GetParam().list);
    EXPECT_EQ(cpus, GetParam().cpus);
    EXPECT_EQ(CpuMask(cpus), GetParam().mask);
}

std::vector<unsigned> Range(unsigned first, unsigned last)
{
    std::vector<unsigned> cpus;
    for (unsigned cpu = first; cpu <= last; ++cpu)
        cpus.push_back(cpu);
    return cpus;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CpuListTest,
    testing::Values(ListCase{"0\n", {0}, 0x1}, ListCase{"0-1\n", {0, 1}, 0x3},
                    ListCase{"0-3,8,10-11\n", {0, 1, 2, 3, 8, 10, 11}, 0xD0F}, ListCase{"63", {63}, DWORD_PTR{1} << 63},
                    ListCase{"0-63", Range(0, 63), ~DWORD_PTR{0}}, ListCase{"0-127", Range(0, 127), ~DWORD_PTR{0}},
                    ListCase{"62-65,70", {62, 63, 64, 65, 70}, DWORD_PTR{3} << 62}, ListCase{"", {}, 0},
                    ListCase{"\n", {}, 0}, ListCase{"x", {}, 0}, ListCase{"3-1", {}, 0}, ListCase{"1,,2", {}, 0},
                    ListCase{"0-", {}, 0}, ListCase{"-1", {}, 0}, ListCase{"1 2", {}, 0}, ListCase{"0-1,y", {}, 0},
                    ListCase{"0-99999999", {}, 0}));

TEST(HostCpu, OnlineProcessorsAreTheRootsOnlineList)
{
    EXPECT_EQ(OnlineCpus(Fixture("xeon-vm")), (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(OnlineCpus(Fixture("no-cpuinfo")), std::vector<unsigned>{});
}

TEST(HostCpu, SystemMaskIsTheRootsOnlineList)
{
    HostCpu cpu(Fixture("xeon-vm"));
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    EXPECT_EQ(cpu.GetProcessAffinityMask(&processMask, &systemMask), TRUE);
    EXPECT_EQ(systemMask, DWORD_PTR{0x3});
    EXPECT_NE(processMask, DWORD_PTR{0});
}

TEST(HostCpu, WithoutAnOnlineListNothingShowsARestriction)
{
    HostCpu cpu(Fixture("no-cpuinfo"));
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    cpu.GetProcessAffinityMask(&processMask, &systemMask);
    EXPECT_EQ(systemMask, processMask);
}

TEST(HostCpu, PinsTheCallingThreadAndRefusesAnEmptyMask)
{
    HostCpu cpu;
    cpu_set_t original;
    pthread_getaffinity_np(pthread_self(), sizeof original, &original);
    int first = 0;
    while (!CPU_ISSET(first, &original))
        ++first;
    ASSERT_LT(first, 64);
    EXPECT_EQ(cpu.SetThreadAffinityMask(DWORD_PTR{1} << first), TRUE);
    cpu.YieldTimeSlice();
    EXPECT_EQ(sched_getcpu(), first);
    EXPECT_EQ(cpu.SetThreadAffinityMask(0), FALSE);
    pthread_setaffinity_np(pthread_self(), sizeof original, &original);
}

} // namespace
