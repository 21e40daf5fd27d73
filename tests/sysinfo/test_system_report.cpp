#include "Fixtures.h"
#include "SimulatedCpu.h"
#include "SystemReport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

const std::string DETECTION = "\n---- System Detection ----\n";
const std::string TWO_CORES = DETECTION + "Total Sockets: 1\nTotal Cores: 2\nTotal Logicals: 2\n"
                                          "Multi-processor: No\nMulti-core: Yes\nTwinlane: Not capable";
const std::string NAMED = "\nComputername: QV-BUILD\n";
// The host name as the kernel's file gives it, apart from the program's uname.
const std::string HOST_NAMED = [] {
    std::ifstream file("/proc/sys/kernel/hostname");
    std::string name;
    std::getline(file, name);
    return "\nComputername: " + name + "\n";
}();
const std::string SYSTEM_INFORMATION = "System information:\n  OEM ID: 9\n  Processor Architecture:x64 (AMD or Intel), "
                                       "native 64-bit\n  Processor type: 8664\n  Page size: " +
                                       std::to_string(getpagesize()) + "\n";
const std::string PROFILE = "Hardware Profile:\n  DockInfo: 1\n  Profile Guid: {0f3a9c2e-5b7d-41c8-a6e2-d9b4c1f08e37}\n";

// Two processors without the CPUID leaves that tell of SMT.
const std::vector<CpuidTable> TWO_PROCESSORS(2);

struct ReportCase {
    const char* name;
    SimulatedCpu cpu;
    const char* fixture;
    const char* computerName;
    BOOL result;
    std::string text;
};

// The fixtures have no topology files: each processor is a core.
const ReportCase REPORTS[] = {
    {"Complete", SimulatedCpu(TWO_PROCESSORS), "xeon-vm", "QV-BUILD", TRUE,
     TWO_CORES + NAMED + SYSTEM_INFORMATION + PROFILE + "  Friendly Name: Default\nCPU Frequency (MHz): 2300\n"},
    {"HostNameWithoutTheVariable", SimulatedCpu(TWO_PROCESSORS), "pentium4", nullptr, TRUE,
     TWO_CORES + HOST_NAMED + SYSTEM_INFORMATION + PROFILE +
         "  Friendly Name: OptiPlex GX620\nCPU Frequency (MHz): 2992\n"},
    {"NoProcessorKey", SimulatedCpu(TWO_PROCESSORS), "no-cpuinfo", "QV-BUILD", TRUE,
     TWO_CORES + NAMED + SYSTEM_INFORMATION + PROFILE + "  Friendly Name: Default\n"},
    // The error is errno in hexadecimal: ENOENT, EISDIR, EINVAL.
    {"NoMachineId", SimulatedCpu(TWO_PROCESSORS), "no-machine-id", "QV-BUILD", FALSE,
     TWO_CORES + NAMED + SYSTEM_INFORMATION + "Hardware Profile:\nGetCurrentHwProfile failed with error 2\n"},
    {"MachineIdIsAFolder", SimulatedCpu(TWO_PROCESSORS), "machine-id-dir", "QV-BUILD", FALSE,
     TWO_CORES + NAMED + SYSTEM_INFORMATION + "Hardware Profile:\nGetCurrentHwProfile failed with error 15\n"},
    {"NoMachineIdInTheFile", SimulatedCpu(TWO_PROCESSORS), "bad-machine-id", "QV-BUILD", FALSE,
     TWO_CORES + NAMED + SYSTEM_INFORMATION + "Hardware Profile:\nGetCurrentHwProfile failed with error 16\n"},
};

TEST(SystemReport, GoesToConsoleAndLogAlikeAndEndsAtAProfileFailure)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "the expected architecture lines are those of x86-64";
#endif
    const char* saved = std::getenv("COMPUTERNAME");
    const std::optional<std::string> savedName = saved ? std::optional<std::string>(saved) : std::nullopt;
    for (ReportCase row : REPORTS) {
        SCOPED_TRACE(row.name);
        row.computerName ? setenv("COMPUTERNAME", row.computerName, 1) : unsetenv("COMPUTERNAME");
        const PrintedReport out = PrintReport([&](FILE* log) { return PrintSystemReport(log, row.cpu, Fixture(row.fixture)); });
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.console, row.text);
        EXPECT_EQ(out.log, out.console);
    }
    savedName ? setenv("COMPUTERNAME", savedName->c_str(), 1) : unsetenv("COMPUTERNAME");
}

TEST(SystemReport, TopologyGroupNamesTheStatus)
{
    const struct {
        int status;
        const char* multiCore;
        const char* twinlane;
    } rows[] = {{1, "No", "Enabled"}, {2, "No", "Disabled"}, {4, "No", "Not capable"}, {5, "Yes", "Not capable"},
                {6, "Yes", "Enabled"}, {7, "Yes", "Disabled"}, {0, "", ""}, {3, "", ""}, {8, "", ""}, {255, "", ""}};
    for (const auto& row : rows) {
        const PrintedReport out = PrintReport([&](FILE* log) {
            PrintTopology(log, BYTE(row.status), 4, 2, 1);
            return TRUE;
        });
        EXPECT_EQ(out.console, DETECTION + "Total Sockets: 1\nTotal Cores: 2\nTotal Logicals: 4\nMulti-processor: No\n"
                                           "Multi-core: " + row.multiCore + "\nTwinlane: " + row.twinlane)
            << "status " << row.status;
        EXPECT_EQ(out.log, out.console);
    }
}

TEST(SystemReport, SystemInformationGroupLabelsTheArchitecture)
{
    const struct {
        DWORD oemId;
        const char* lines;  // from the OEM ID line to the processor type line
    } rows[] = {
        {10, "  OEM ID: 10\n  Processor Architecture:x86, 32-bit process on a 64-bit system\n"},
        {6, "  OEM ID: 6\n  Processor Architecture:Intel Itanium (IA-64), 64-bit\n"},
        {0, "  OEM ID: 0\n  Processor Architecture:x86, native 32-bit\n  Processor Level: 15\n"},
        {0x10000, "  OEM ID: 65536\n  Processor Architecture:x86, native 32-bit\n  Processor Level: 15\n"},
        {12, "  OEM ID: 12\n  Processor Architecture:Unknown\n"},
    };
    for (const auto& row : rows) {
        SYSTEM_INFO info{};
        info.dwOemId = row.oemId;
        info.wProcessorLevel = 15;
        info.dwProcessorType = 586;
        info.dwPageSize = 4096;
        const PrintedReport out = PrintReport([&](FILE* log) {
            PrintSystemInformation(log, info);
            return TRUE;
        });
        EXPECT_EQ(out.console, std::string("System information:\n") + row.lines +
                                   "  Processor type: 586\n  Page size: 4096\n");
        EXPECT_EQ(out.log, out.console);
    }
}

TEST(GetSystemInfo, ProcessorLevelIsTheFirstProcessorsFamily)
{
    const std::pair<const char*, WORD> rows[] = {{"pentium4", 15}, {"bare", 0}, {"no-cpuinfo", 0}};
    for (const auto& [fixture, level] : rows) {
        SYSTEM_INFO info;
        GetSystemInfo(&info, Fixture(fixture));
        EXPECT_EQ(info.wProcessorLevel, level) << fixture;
    }
}

} // namespace
