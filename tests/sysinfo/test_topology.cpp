// The topology of simulated machines (a /sys tree and a CPUID table each) as
// the console report and the dialog show it.
#include "DialogDriver.h"
#include "Fixtures.h"
#include "SimulatedCpu.h"
#include "SystemReport.h"
#include "Topology.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned> Range(unsigned first, unsigned last)
{
    std::vector<unsigned> cpus(last - first + 1);
    std::iota(cpus.begin(), cpus.end(), first);
    return cpus;
}

// Processor 0, a thread of a performance core, and the efficiency cores.
const std::vector<unsigned> ONE_PERFORMANCE_THREAD_AND_EFFICIENCY_CORES = [] {
    std::vector<unsigned> cpus = Range(16, 31);
    cpus.insert(cpus.begin(), 0);
    return cpus;
}();

struct Machine {
    const char* name;
    const char* fixture;  // its /sys tree; the CPUID table is that of cpuidFixture
    std::optional<std::vector<unsigned>> affinity;
    std::vector<unsigned> failingPins;
    int sockets, cores, logicals;
    const char* multiProcessor;
    const char* multiCore;
    const char* twinlane;
    const char* cpuidFixture = nullptr;  // null: fixture's own
    bool fieldsBlank = false;            // the dialog shows nothing of a topology it could not read

    SimulatedCpu Cpu() const
    {
        return SimulatedCpu(ReadCpuidTables(Fixture(cpuidFixture ? cpuidFixture : fixture) + "/cpuid"), affinity,
                            failingPins);
    }
    std::string Report() const
    {
        return Format("\n---- System Detection ----\nTotal Sockets: %d\nTotal Cores: %d\nTotal Logicals: %d\n"
                      "Multi-processor: %s\nMulti-core: %s\nTwinlane: %s",
                      sockets, cores, logicals, multiProcessor, multiCore, twinlane);
    }
    // Twinlane, multi-core, multi-processor, then the counts right-aligned in three.
    Strings Fields() const
    {
        if (fieldsBlank)
            return Strings(6, "");
        return {twinlane, multiCore, multiProcessor, Format("%3d", sockets), Format("%3d", cores),
                Format("%3d", logicals)};
    }
};

void PrintTo(const Machine& m, std::ostream* os)
{
    *os << m.name;
}

const Machine MACHINES[] = {
    {"AmdVmOneSocketTwoCores", "amd-epyc-vm", {}, {}, 1, 2, 2, "No", "Yes", "Not capable"},
    {"AmdDesktop16Cores", "ryzen-16-core", {}, {}, 1, 16, 32, "No", "Yes", "Enabled"},
    {"AmdServer2Sockets256Threads", "epyc-2-socket", {}, {}, 2, 128, 256, "Yes", "Yes", "Enabled"},
    {"IntelHybrid", "intel-hybrid", {}, {}, 1, 24, 32, "No", "Yes", "Enabled"},
    {"IntelServer2SocketsOlderKernel", "xeon-2-socket", {}, {}, 2, 40, 80, "Yes", "Yes", "Enabled"},
    // Processors 1 and 5 share a core.
    {"AffinityThreeOfEight", "intel-4-core", std::vector<unsigned>{1, 2, 5}, {}, 1, 2, 3, "No", "Yes", "Enabled"},
    {"AffinityOneProcessor", "amd-epyc-vm", std::vector<unsigned>{1}, {}, 1, 1, 1, "No", "No", "Not capable"},
    {"HybridEfficiencyCoresOnly", "intel-hybrid", Range(16, 31), {}, 1, 16, 16, "No", "Yes", "Not capable"},
    // The thread starts on an efficiency core: only processor 0 can tell.
    {"HybridOneThreadOfAPerformanceCore", "intel-hybrid", ONE_PERFORMANCE_THREAD_AND_EFFICIENCY_CORES, {}, 1, 17, 17,
     "No", "Yes", "Disabled"},
    {"HybridPerformanceCoreCannotBePinned", "intel-hybrid", ONE_PERFORMANCE_THREAD_AND_EFFICIENCY_CORES, {0}, 1, 17,
     17, "No", "Yes", "Not capable"},
    // No /sys (a container): the processors alone, each a core.
    {"NoSysTree", "bare", {}, {}, 1, 2, 2, "No", "Yes", "Not capable", "amd-epyc-vm"},
    {"AffinityUnreadable", "amd-epyc-vm", std::vector<unsigned>{}, {}, 1, 1, 0, "No", "", "", nullptr, true},
};

class TopologyMachineTest : public DialogTest, public testing::WithParamInterface<Machine> {};

TEST_P(TopologyMachineTest, ReportLinesAndDialogFields)
{
    const Machine& m = GetParam();
    SimulatedCpu cpu = m.Cpu();
    const PrintedReport printed = PrintReport([&](FILE* log) {
        PrintTopology(log, cpu, Fixture(m.fixture));
        return TRUE;
    });
    EXPECT_EQ(printed.console, m.Report());
    EXPECT_EQ(printed.log, printed.console);
    // A thread pinned for CPUID runs on the process's processors again.
    if (!cpu.Pins().empty()) {
        EXPECT_EQ(cpu.Pins().back(), cpu.ProcessAffinity());
        EXPECT_EQ(cpu.ThreadAffinity(), cpu.ProcessAffinity());
    }

    SimulatedCpu dialogCpu = m.Cpu();
    dlg.m_pMachineCpu = &dialogCpu;
    dlg.m_machineRoot = Fixture(m.fixture);
    Strings shown;
    Inspect([&](QWidget*) {
        for (int id : {IDC_EDIT_SMT, IDC_EDIT_MULTI_CORE, IDC_EDIT_MULTI_PROCESSOR, IDC_EDIT_SOCKETS, IDC_EDIT_CORES,
                       IDC_EDIT_LOGICALS})
            shown.push_back(Edit(dlg, id)->text().toStdString());
    });
    EXPECT_EQ(shown, m.Fields());
}

INSTANTIATE_TEST_SUITE_P(Machines, TopologyMachineTest, testing::ValuesIn(MACHINES),
                         [](const testing::TestParamInfo<Machine>& info) { return std::string(info.param.name); });

TEST(IsSmtCapable, AsksTheSmtLevelOrElseThePerPackageCounts)
{
    const DWORD INTEL[] = {0x756e6547, 0x6c65746e, 0x49656e69};  // ebx, ecx, edx
    const DWORD AMD[] = {0x68747541, 0x444d4163, 0x69746e65};
    const auto table = [](const DWORD* vendor, DWORD maxLeaf, DWORD leaf1Edx, DWORD logicalPerPackage,
                          DWORD coresPerPackage, std::optional<DWORD> smtLevelCount) {
        CpuidTable t{{{0, 0}, {maxLeaf, vendor[0], vendor[1], vendor[2]}},
                     {{1, 0}, {0, logicalPerPackage << 16, 0, leaf1Edx}},
                     {{4, 0}, {(coresPerPackage - 1) << 26 | 0x121, 0, 0, 0}}};
        if (smtLevelCount)
            t[{0xB, 0}] = {1, *smtLevelCount, 0x100, 0};
        return std::vector<CpuidTable>{t};
    };
    constexpr DWORD HTT = 1u << 28;
    const struct {
        const char* name;
        std::vector<CpuidTable> cpu;
        bool capable;
    } rows[] = {
        {"SmtLevelOfTwo", table(AMD, 0xD, HTT, 2, 1, 2), true},
        // Leaf 0xB holds over per-package counts that only address room.
        {"SmtLevelOfOne", table(INTEL, 0x16, HTT, 16, 4, 1), false},
        {"SmtLevelBeyondTheHighestLeaf", table(INTEL, 0xA, HTT, 2, 2, 2), false},
        {"PackageCountsTwoPerCore", table(INTEL, 5, HTT, 2, 1, std::nullopt), true},
        {"PackageCountsWithoutTheFlag", table(INTEL, 5, 0, 2, 1, std::nullopt), false},
        {"PackageCountsOfAnotherVendor", table(AMD, 5, HTT, 2, 1, std::nullopt), false},
        {"PackageCountsWithoutLeafFour", table(INTEL, 3, HTT, 2, 1, std::nullopt), false},
        // More cores than logical processors: a quotient of 0 is not 1.
        {"PackageCountsQuotientZero", table(INTEL, 5, HTT, 2, 4, std::nullopt), true},
    };
    for (const auto& row : rows) {
        SimulatedCpu cpu(row.cpu);
        EXPECT_EQ(IsSmtCapable(cpu), row.capable) << row.name;
    }
}

} // namespace
