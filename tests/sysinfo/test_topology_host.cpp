// The detection on this machine, against lscpu's view of it.
#include "Cpu.h"
#include "RunProgram.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <utility>

#include <pthread.h>
#include <sched.h>

namespace {

struct Counts {
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
    bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Counts& c)
{
    return os << c.packages << " sockets, " << c.cores << " cores, " << c.logicals << " logicals";
}

// lscpu's online processors, one "cpu,core,socket" line each.
std::optional<Counts> LscpuCounts()
{
    const ProgramResult lscpu = RunProgram("/usr/bin/lscpu", {"--parse=CPU,CORE,SOCKET"});
    if (lscpu.exitCode != 0)
        return std::nullopt;
    Counts counts;
    std::set<std::string> cores, sockets;
    std::istringstream lines(lscpu.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t first = line.find(','), second = line.find(',', first + 1);
        cores.insert(line.substr(first + 1, second - first - 1));
        sockets.insert(line.substr(second + 1));
        ++counts.logicals;
    }
    counts.cores = static_cast<DWORD>(cores.size());
    counts.packages = static_cast<DWORD>(sockets.size());
    return counts;
}

Counts Detect()
{
    Counts counts;
    EXPECT_NE(DetectTopology(&counts.logicals, &counts.cores, &counts.packages), TOPO_AFFINITY_RESTRICTED);
    return counts;
}

TEST(DetectTopologyOnThisMachine, CountsWhatLscpuCountsAndRestoresTheAffinity)
{
    const std::optional<Counts> expected = LscpuCounts();
    if (!expected)
        GTEST_SKIP() << "lscpu did not run";
    cpu_set_t before, after;
    sched_getaffinity(0, sizeof before, &before);
    if (CPU_COUNT(&before) != static_cast<int>(expected->logicals))
        GTEST_SKIP() << "the test runs on fewer processors than the machine has";

    EXPECT_EQ(Detect(), *expected);
    pthread_getaffinity_np(pthread_self(), sizeof after, &after);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(DetectTopologyOnThisMachine, HeldToOneProcessorCountsThatOne)
{
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = CPU_SETSIZE - 1; !CPU_COUNT(&one); --cpu)
        if (CPU_ISSET(cpu, &all))
            CPU_SET(cpu, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const Counts counts = Detect();
    sched_setaffinity(0, sizeof all, &all);
    EXPECT_EQ(counts, (Counts{1, 1, 1}));
}

TEST(ParseCpuList, NamesTheListedProcessorsOrNoneForAnythingElse)
{
    const std::pair<const char*, std::vector<unsigned>> rows[] = {
        {"0-3,8,10-11\n", {0, 1, 2, 3, 8, 10, 11}},
        {"62-65,70", {62, 63, 64, 65, 70}},
        {"", {}}, {"3-1", {}}, {"1,,2", {}}, {"0-", {}}, {"0-99999999", {}},
    };
    for (const auto& [list, cpus] : rows)
        EXPECT_EQ(ParseCpuList(list), cpus) << '"' << list << '"';
}

} // namespace
