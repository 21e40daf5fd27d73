#include "SimulatedCpu.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <ostream>
#include <string>

namespace {

constexpr DWORD_PTR ALL_64 = ~DWORD_PTR{0};

std::vector<BYTE> ApicIds(BYTE count)
{
    std::vector<BYTE> ids(count);
    std::iota(ids.begin(), ids.end(), BYTE{0});
    return ids;
}

struct Detected {
    BYTE status;
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
};

Detected Detect(CpuPlatform& cpu)
{
    Detected d{0};
    d.status = DetectTopology(cpu, &d.logicals, &d.cores, &d.packages);
    return d;
}

struct Machine {
    const char* name;
    std::function<SimulatedCpu()> make;
    DWORD logicals;
    DWORD cores;
    DWORD packages;
    BYTE status;
};

void PrintTo(const Machine& m, std::ostream* os)
{
    *os << m.name;
}

ProcessorShape Shape(BYTE logicalPerPackage, DWORD coresPerPackage)
{
    ProcessorShape shape;
    shape.logicalPerPackage = logicalPerPackage;
    shape.coresPerPackage = coresPerPackage;
    return shape;
}

SimulatedCpu TwoCoresFailingPin(DWORD_PTR failing)
{
    SimulatedCpu cpu = MakeMachine(Shape(2, 2), {0, 1});
    cpu.FailPinsTo(failing);
    return cpu;
}

const Machine MACHINES[] = {
    {"OnePackageOneCoreNoSmt",
     [] {
         ProcessorShape shape;
         shape.multiThreadingFlag = false;
         return MakeMachine(shape, {0});
     },
     1, 1, 1, TOPO_ONE_CORE_NO_SMT},
    {"SmtBothEnabled", [] { return MakeMachine(Shape(2, 1), {0, 1}); }, 2, 1, 1, TOPO_ONE_CORE_SMT_ON},
    {"SmtSecondDisabled", [] { return MakeMachine(Shape(2, 1), {0}); }, 1, 1, 1, TOPO_ONE_CORE_SMT_OFF},
    {"TwoCoresNoSmt", [] { return MakeMachine(Shape(2, 2), {0, 1}); }, 2, 2, 1, TOPO_MULTI_CORE_NO_SMT},
    {"FourCoresSmt", [] { return MakeMachine(Shape(8, 4), ApicIds(8)); }, 8, 4, 1, TOPO_MULTI_CORE_SMT_ON},
    {"FourCoresSmtDisabled", [] { return MakeMachine(Shape(8, 4), {0, 2, 4, 6}); }, 4, 4, 1,
     TOPO_MULTI_CORE_SMT_OFF},
    {"TwoSingleCorePackages", [] { return MakeMachine(Shape(1, 1), {0, 1}); }, 2, 2, 2, TOPO_ONE_CORE_NO_SMT},
    {"TwoPackagesOfTwoCoresSmt", [] { return MakeMachine(Shape(4, 2), ApicIds(8)); }, 8, 4, 2,
     TOPO_MULTI_CORE_SMT_ON},
    {"OtherVendor",
     [] {
         ProcessorShape shape = Shape(4, 4);
         shape.vendor = "AuthenticAMD";
         return MakeMachine(shape, ApicIds(4));
     },
     4, 4, 4, TOPO_ONE_CORE_NO_SMT},
    {"HighestLeafZero",
     [] {
         ProcessorShape shape = Shape(2, 2);
         shape.maxLeaf = 0;
         return MakeMachine(shape, {0, 1});
     },
     2, 2, 2, TOPO_ONE_CORE_NO_SMT},
    {"NoLeafFour",
     [] {
         ProcessorShape shape = Shape(2, 2);
         shape.maxLeaf = 3;
         return MakeMachine(shape, {0, 1});
     },
     2, 1, 1, TOPO_ONE_CORE_SMT_ON},
    {"RestrictedAffinity",
     [] { return SimulatedCpu({{0, MakeProcessor(Shape(2, 2), 0)}, {1, MakeProcessor(Shape(2, 2), 1)}}, 0x1, 0x3); },
     0, 1, 1, TOPO_AFFINITY_RESTRICTED},
    {"All64MaskBits", [] { return MakeMachine(Shape(16, 8), ApicIds(64)); }, 64, 32, 4, TOPO_MULTI_CORE_SMT_ON},
    {"QuotientZero", [] { return MakeMachine(Shape(2, 4), {0, 1}); }, 2, 1, 1, TOPO_ONE_CORE_SMT_ON},
    {"PinFails", [] { return TwoCoresFailingPin(0x2); }, 1, 1, 1, TOPO_ONE_CORE_NO_SMT},
    {"EveryPinFails",
     [] {
         SimulatedCpu cpu = TwoCoresFailingPin(0x1);
         cpu.FailPinsTo(0x2);
         return cpu;
     },
     0, 1, 1, TOPO_ONE_CORE_NO_SMT},
};

class DetectTopologyTest : public testing::TestWithParam<Machine> {};

TEST_P(DetectTopologyTest, CountsAndClassifies)
{
    SimulatedCpu cpu = GetParam().make();
    const Detected d = Detect(cpu);
    EXPECT_EQ(d.status, GetParam().status);
    EXPECT_EQ(d.logicals, GetParam().logicals);
    EXPECT_EQ(d.cores, GetParam().cores);
    EXPECT_EQ(d.packages, GetParam().packages);
}

TEST_P(DetectTopologyTest, LeavesTheThreadOnTheProcessMask)
{
    SimulatedCpu cpu = GetParam().make();
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    cpu.GetProcessAffinityMask(&processMask, &systemMask);
    Detect(cpu);
    EXPECT_EQ(cpu.ThreadMask(), processMask);
    if (GetParam().status != TOPO_AFFINITY_RESTRICTED) {
        EXPECT_EQ(cpu.Pins().back(), processMask);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, DetectTopologyTest, testing::ValuesIn(MACHINES),
                         [](const testing::TestParamInfo<Machine>& info) { return std::string(info.param.name); });

TEST(DetectTopology, RestrictedAffinityTouchesNothing)
{
    SimulatedCpu cpu({{0, MakeProcessor(Shape(2, 2), 0)}, {1, MakeProcessor(Shape(2, 2), 1)}}, 0x2, 0x3);
    EXPECT_EQ(Detect(cpu).status, TOPO_AFFINITY_RESTRICTED);
    EXPECT_TRUE(cpu.Pins().empty());
    EXPECT_EQ(cpu.Yields(), 0);
    EXPECT_EQ(cpu.ThreadMask(), DWORD_PTR{0x2});
}

TEST(DetectTopology, WalksEveryBitUpToTheSystemMask)
{
    // Processors 0 and 2 only: bit 1 is visited, cannot be pinned, and gets
    // no entry; bit 3 is above the system mask and not visited.
    SimulatedCpu cpu({{0, MakeProcessor(Shape(1, 1), 0)}, {2, MakeProcessor(Shape(1, 1), 6)}}, 0x5, 0x5);
    const Detected d = Detect(cpu);
    EXPECT_EQ(d.status, TOPO_ONE_CORE_NO_SMT);
    EXPECT_EQ(cpu.Pins(), (std::vector<DWORD_PTR>{0x1, 0x2, 0x4, 0x5}));
    EXPECT_EQ(d.logicals, 2u);
    EXPECT_EQ(d.packages, 2u);
}

TEST(DetectTopology, AllSixtyFourBitsAreVisitedAndTheWalkEndsAfterBit63)
{
    SimulatedCpu cpu = MakeMachine(Shape(16, 8), ApicIds(64));
    Detect(cpu);
    std::vector<DWORD_PTR> expected;
    for (unsigned bit = 0; bit < 64; ++bit)
        expected.push_back(DWORD_PTR{1} << bit);
    expected.push_back(ALL_64);
    EXPECT_EQ(cpu.Pins(), expected);
}

TEST(DetectTopology, ReadsEachProcessorAfterGivingUpItsTimeSlice)
{
    // The simulated thread moves only when it yields: identifiers read
    // without yielding would all come from the starting processor.
    SimulatedCpu cpu = MakeMachine(Shape(1, 1), {0, 1, 2, 3});
    EXPECT_EQ(Detect(cpu).packages, 4u);
    EXPECT_EQ(cpu.Yields(), 5);
}

TEST(DetectTopology, HeterogeneousCountsAreReadPerProcessor)
{
    // The SMT width comes from the starting processor; core and package
    // widths from each visited one.
    ProcessorShape wide = Shape(4, 2);
    SimulatedCpu cpu({{0, MakeProcessor(Shape(2, 2), 0)}, {1, MakeProcessor(wide, 2)}, {2, MakeProcessor(wide, 4)}},
                     0x7, 0x7);
    // Starting processor: quotient 1, SMT width 0. APIC 0: core width 1,
    // package width 1 -> package 0, key 0. APIC 2 and 4: core width 1,
    // package width 2 -> packages 0 and 4, keys 0 and 4.
    const Detected d = Detect(cpu);
    EXPECT_EQ(d.status, TOPO_ONE_CORE_NO_SMT);
    EXPECT_EQ(d.logicals, 3u);
    EXPECT_EQ(d.cores, 2u);
    EXPECT_EQ(d.packages, 2u);
}

struct WidthCase {
    DWORD count;
    DWORD width;
};

void PrintTo(const WidthCase& c, std::ostream* os)
{
    *os << c.count << " -> " << c.width;
}

class MaskWidthTest : public testing::TestWithParam<WidthCase> {};

TEST_P(MaskWidthTest, BitsForCountIdentifiers)
{
    EXPECT_EQ(MaskWidth(GetParam().count), GetParam().width);
}

INSTANTIATE_TEST_SUITE_P(Counts, MaskWidthTest,
                         testing::Values(WidthCase{1, 0}, WidthCase{2, 1}, WidthCase{3, 2}, WidthCase{4, 2},
                                         WidthCase{5, 3}, WidthCase{8, 3}, WidthCase{9, 4}, WidthCase{16, 4},
                                         WidthCase{17, 5}, WidthCase{128, 7}, WidthCase{129, 8}, WidthCase{255, 8},
                                         WidthCase{256, 8}, WidthCase{257, 9}, WidthCase{0, 16},
                                         WidthCase{65536, 16}, WidthCase{65537, 0}, WidthCase{65538, 1},
                                         WidthCase{0xFFFFFFFF, 16}));

struct CountsCase {
    const char* name;
    ProcessorShape shape;
    DWORD logicalPerPackage;
    DWORD coresPerPackage;
};

void PrintTo(const CountsCase& c, std::ostream* os)
{
    *os << c.name;
}

ProcessorShape With(ProcessorShape shape, const std::function<void(ProcessorShape&)>& change)
{
    change(shape);
    return shape;
}

class PerPackageCountsTest : public testing::TestWithParam<CountsCase> {};

TEST_P(PerPackageCountsTest, TrustsLeavesOneAndFourOnlyWhereValid)
{
    SimulatedCpu cpu = MakeMachine(GetParam().shape, {0});
    EXPECT_EQ(LogicalPerPackage(cpu), GetParam().logicalPerPackage);
    EXPECT_EQ(CoresPerPackage(cpu), GetParam().coresPerPackage);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PerPackageCountsTest,
    testing::Values(CountsCase{"Valid", Shape(8, 4), 8, 4}, CountsCase{"LargestCounts", Shape(255, 64), 255, 64},
                    CountsCase{"ZeroLogical", Shape(0, 1), 0, 1},
                    CountsCase{"FlagClear", With(Shape(8, 4), [](auto& s) { s.multiThreadingFlag = false; }), 1, 1},
                    CountsCase{"HighestLeafZero", With(Shape(8, 4), [](auto& s) { s.maxLeaf = 0; }), 1, 1},
                    CountsCase{"HighestLeafThree", With(Shape(8, 4), [](auto& s) { s.maxLeaf = 3; }), 8, 1},
                    CountsCase{"OtherVendor", With(Shape(8, 4), [](auto& s) { s.vendor = "AuthenticAMD"; }), 1, 1},
                    CountsCase{"VendorWordsInCpuidRegisterOrder",
                               With(Shape(8, 4), [](auto& s) { s.vendor = "GenuntelineI"; }), 1, 1}),
    [](const testing::TestParamInfo<CountsCase>& info) { return std::string(info.param.name); });

TEST(IsTopologyVendor, ComparesEbxEdxEcx)
{
    SimulatedCpu intel = MakeMachine(Shape(1, 1), {0});
    EXPECT_TRUE(IsTopologyVendor(intel));
    EXPECT_EQ(CpuidMaxLeaf(intel), 4u);
    ProcessorShape swapped;
    swapped.vendor = "GenuntelineI";  // "ineI" in ECX and "ntel" in EDX
    SimulatedCpu other = MakeMachine(swapped, {0});
    EXPECT_FALSE(IsTopologyVendor(other));
}

struct TextsCase {
    int status;
    const char* multiCore;
    const char* twinlane;
};

void PrintTo(const TextsCase& c, std::ostream* os)
{
    *os << "status " << c.status;
}

class TopologyTextsTest : public testing::TestWithParam<TextsCase> {};

TEST_P(TopologyTextsTest, NameTheStatus)
{
    const auto text = [](const char* t) { return t ? std::string(t) : std::string("(none)"); };
    EXPECT_EQ(text(TopologyMultiCoreText(BYTE(GetParam().status))), text(GetParam().multiCore));
    EXPECT_EQ(text(TopologyTwinlaneText(BYTE(GetParam().status))), text(GetParam().twinlane));
}

INSTANTIATE_TEST_SUITE_P(Statuses, TopologyTextsTest,
                         testing::Values(TextsCase{0, nullptr, nullptr}, TextsCase{1, "No", "Enabled"},
                                         TextsCase{2, "No", "Disabled"}, TextsCase{3, nullptr, nullptr},
                                         TextsCase{4, "No", "Not capable"}, TextsCase{5, "Yes", "Not capable"},
                                         TextsCase{6, "Yes", "Enabled"}, TextsCase{7, "Yes", "Disabled"},
                                         TextsCase{8, nullptr, nullptr}, TextsCase{9, nullptr, nullptr},
                                         TextsCase{255, nullptr, nullptr}));

} // namespace
