#include "SimulatedCpu.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <numeric>
#include <ostream>
#include <string>

namespace {

std::vector<BYTE> ApicIds(BYTE count)
{
    std::vector<BYTE> ids(count);
    std::iota(ids.begin(), ids.end(), BYTE{0});
    return ids;
}

struct Machine {
    const char* name;
    ProcessorShape shape;
    std::vector<BYTE> apicIds;
    DWORD logicals;
    DWORD cores;
    DWORD packages;
    BYTE status;
    DWORD_PTR processMask = 0;  // 0: every processor
    DWORD_PTR failingPins = 0;
};

void PrintTo(const Machine& m, std::ostream* os)
{
    *os << m.name;
}

const Machine MACHINES[] = {
    // The multi-threading flag clear makes leaf 1's count of 2 meaningless.
    {"OneCoreNoSmt", {.multiThreadingFlag = false, .logicalPerPackage = 2}, {0}, 1, 1, 1, TOPO_ONE_CORE_NO_SMT},
    {"SmtEnabled", {.logicalPerPackage = 2}, {0, 1}, 2, 1, 1, TOPO_ONE_CORE_SMT_ON},
    {"SmtDisabled", {.logicalPerPackage = 2}, {0}, 1, 1, 1, TOPO_ONE_CORE_SMT_OFF},
    {"TwoCores", {.logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 2, 2, 1, TOPO_MULTI_CORE_NO_SMT},
    {"FourCoresSmt", {.logicalPerPackage = 8, .coresPerPackage = 4}, ApicIds(8), 8, 4, 1, TOPO_MULTI_CORE_SMT_ON},
    {"FourCoresSmtDisabled", {.logicalPerPackage = 8, .coresPerPackage = 4}, {0, 2, 4, 6}, 4, 4, 1,
     TOPO_MULTI_CORE_SMT_OFF},
    {"TwoPackages", {}, {0, 1}, 2, 2, 2, TOPO_ONE_CORE_NO_SMT},
    {"OtherVendor", {.vendor = "AuthenticAMD", .logicalPerPackage = 4, .coresPerPackage = 4}, ApicIds(4), 4, 4, 4,
     TOPO_ONE_CORE_NO_SMT},
    {"HighestLeafZero", {.maxLeaf = 0, .logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 2, 2, 2,
     TOPO_ONE_CORE_NO_SMT},
    {"NoLeafFour", {.maxLeaf = 3, .logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 2, 1, 1,
     TOPO_ONE_CORE_SMT_ON},
    {"RestrictedAffinity", {.logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 0, 1, 1,
     TOPO_AFFINITY_RESTRICTED, 0x1},
    {"All64MaskBits", {.logicalPerPackage = 16, .coresPerPackage = 8}, ApicIds(64), 64, 32, 4,
     TOPO_MULTI_CORE_SMT_ON},
    // SMT width 16: the SMT id is the whole identifier, every core id 0.
    {"QuotientZero", {.logicalPerPackage = 2, .coresPerPackage = 4}, {0, 1}, 2, 1, 1, TOPO_ONE_CORE_SMT_ON},
    {"PinFails", {.logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 1, 1, 1, TOPO_ONE_CORE_NO_SMT, 0, 0x2},
    // Nothing counted: the distinct lists still start with entry 0.
    {"EveryPinFails", {.logicalPerPackage = 2, .coresPerPackage = 2}, {0, 1}, 0, 1, 1, TOPO_ONE_CORE_NO_SMT, 0, 0x3},
};

class DetectTopologyTest : public testing::TestWithParam<Machine> {};

TEST_P(DetectTopologyTest, CountsClassifiesAndLeavesTheThreadOnTheProcessMask)
{
    const Machine& m = GetParam();
    SimulatedCpu cpu(m.shape, m.apicIds, m.processMask, m.failingPins);
    DWORD logicals = 0, cores = 0, packages = 0;
    EXPECT_EQ(DetectTopology(cpu, &logicals, &cores, &packages), m.status);
    EXPECT_EQ(logicals, m.logicals);
    EXPECT_EQ(cores, m.cores);
    EXPECT_EQ(packages, m.packages);

    DWORD_PTR processMask = 0, systemMask = 0;
    cpu.GetProcessAffinityMask(&processMask, &systemMask);
    EXPECT_EQ(cpu.ThreadMask(), processMask);
    const bool restricted = m.status == TOPO_AFFINITY_RESTRICTED;
    ASSERT_EQ(cpu.Pins().empty(), restricted);
    if (!restricted) {
        EXPECT_EQ(cpu.Pins().back(), processMask);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, DetectTopologyTest, testing::ValuesIn(MACHINES),
                         [](const testing::TestParamInfo<Machine>& info) { return std::string(info.param.name); });

TEST(MaskWidth, IsTheBitsForCountIdentifiers)
{
    const std::pair<DWORD, DWORD> widths[] = {{1, 0},   {2, 1},   {3, 2}, {4, 2},    {5, 3},
                                              {256, 8}, {257, 9}, {0, 16}, {65537, 0}};
    for (const auto& [count, width] : widths)
        EXPECT_EQ(MaskWidth(count), width) << count;
}

} // namespace
