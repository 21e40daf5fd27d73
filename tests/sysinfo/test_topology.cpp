// The topology of simulated machines (a /sys tree and a CPUID table each) as
// the console report and the dialog show it.
#include "CaptureOutput.h"
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

std::string Report(int sockets, int cores, int logicals, const char* multiProcessor, const char* multiCore,
                   const char* twinlane)
{
    return "\n---- System Detection ----\nTotal Sockets: " + std::to_string(sockets) +
           "\nTotal Cores: " + std::to_string(cores) + "\nTotal Logicals: " + std::to_string(logicals) +
           "\nMulti-processor: " + multiProcessor + "\nMulti-core: " + multiCore + "\nTwinlane: " + twinlane;
}

struct Machine {
    const char* name;
    const char* fixture;  // its /sys tree; the CPUID table is that of cpuidFixture
    std::optional<std::vector<unsigned>> affinity;
    std::vector<unsigned> failingPins;
    std::string report;
    Strings fields;  // " TL", " MC", " MP", sockets, cores, logicals
    const char* cpuidFixture = nullptr;  // null: fixture's own

    SimulatedCpu Cpu() const
    {
        return SimulatedCpu(ReadCpuidTables(Fixture(cpuidFixture ? cpuidFixture : fixture) + "/cpuid"), affinity,
                            failingPins);
    }
};

void PrintTo(const Machine& m, std::ostream* os)
{
    *os << m.name;
}

const Machine MACHINES[] = {
    {"AmdVmOneSocketTwoCores", "amd-epyc-vm", {}, {}, Report(1, 2, 2, "No", "Yes", "Not capable"),
     {"Not capable", "Yes", "No", "  1", "  2", "  2"}},
    {"AmdDesktop16Cores", "ryzen-16-core", {}, {}, Report(1, 16, 32, "No", "Yes", "Enabled"),
     {"Enabled", "Yes", "No", "  1", " 16", " 32"}},
    {"AmdServer2Sockets256Threads", "epyc-2-socket", {}, {}, Report(2, 128, 256, "Yes", "Yes", "Enabled"),
     {"Enabled", "Yes", "Yes", "  2", "128", "256"}},
    {"IntelHybrid", "intel-hybrid", {}, {}, Report(1, 24, 32, "No", "Yes", "Enabled"),
     {"Enabled", "Yes", "No", "  1", " 24", " 32"}},
    {"IntelServer2SocketsOlderKernel", "xeon-2-socket", {}, {}, Report(2, 40, 80, "Yes", "Yes", "Enabled"),
     {"Enabled", "Yes", "Yes", "  2", " 40", " 80"}},
    // Processors 1 and 5 share a core.
    {"AffinityThreeOfEight", "intel-4-core", std::vector<unsigned>{1, 2, 5}, {},
     Report(1, 2, 3, "No", "Yes", "Enabled"), {"Enabled", "Yes", "No", "  1", "  2", "  3"}},
    {"AffinityOneProcessor", "amd-epyc-vm", std::vector<unsigned>{1}, {}, Report(1, 1, 1, "No", "No", "Not capable"),
     {"Not capable", "No", "No", "  1", "  1", "  1"}},
    {"HybridEfficiencyCoresOnly", "intel-hybrid", Range(16, 31), {}, Report(1, 16, 16, "No", "Yes", "Not capable"),
     {"Not capable", "Yes", "No", "  1", " 16", " 16"}},
    // The thread starts on an efficiency core: only processor 0 can tell.
    {"HybridOneThreadOfAPerformanceCore", "intel-hybrid", ONE_PERFORMANCE_THREAD_AND_EFFICIENCY_CORES, {}, Report(1, 17, 17, "No", "Yes", "Disabled"), {"Disabled", "Yes", "No", "  1", " 17", " 17"}},
    {"HybridPerformanceCoreCannotBePinned", "intel-hybrid", ONE_PERFORMANCE_THREAD_AND_EFFICIENCY_CORES, {0}, Report(1, 17, 17, "No", "Yes", "Not capable"), {"Not capable", "Yes", "No", "  1", " 17", " 17"}},
    // No /sys (a container): the processors alone, each a core.
    {"NoSysTree", "bare", {}, {}, Report(1, 2, 2, "No", "Yes", "Not capable"),
     {"Not capable", "Yes", "No", "  1", "  2", "  2"}, "amd-epyc-vm"},
    {"AffinityUnreadable", "amd-epyc-vm", std::vector<unsigned>{}, {}, Report(1, 1, 0, "No", "", ""),
     Strings(6, "")},
};

class TopologyMachineTest : public DialogTest, public testing::WithParamInterface<Machine> {};

TEST_P(TopologyMachineTest, ReportLinesAndDialogFields)
{
    const Machine& m = GetParam();
    SimulatedCpu cpu = m.Cpu();
    FILE* log = std::tmpfile();
    EXPECT_EQ(CaptureStdout([&] { PrintTopology(log, cpu, Fixture(m.fixture)); }), m.report);
    std::rewind(log);
    std::string logged(m.report.size() + 1, '\0');
    logged.resize(std::fread(logged.data(), 1, logged.size(), log));
    std::fclose(log);
    EXPECT_EQ(logged, m.report);
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
    EXPECT_EQ(shown, m.fields);
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
