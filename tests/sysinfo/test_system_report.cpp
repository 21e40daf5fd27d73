#include "CaptureOutput.h"
#include "Fixtures.h"
#include "SimulatedCpu.h"
#include "SystemReport.h"
#include "Topology.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

#include <unistd.h>

namespace {

// Sets or removes COMPUTERNAME for one test.
class ComputerName {
public:
    explicit ComputerName(const char* value)
    {
        if (const char* old = std::getenv("COMPUTERNAME"))
            m_saved = old;
        value ? setenv("COMPUTERNAME", value, 1) : unsetenv("COMPUTERNAME");
    }
    ~ComputerName() { m_saved ? setenv("COMPUTERNAME", m_saved->c_str(), 1) : unsetenv("COMPUTERNAME"); }

private:
    std::optional<std::string> m_saved;
};

std::string ReadBack(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

struct Output {
    BOOL result = FALSE;
    std::string console;
    std::string log;
};

template <typename Body>
Output Print(Body body)
{
    FILE* log = std::tmpfile();
    Output output;
    output.console = CaptureStdout([&] { output.result = body(log); });
    output.log = ReadBack(log);
    std::fclose(log);
    return output;
}

Output Report(SimulatedCpu cpu, const char* fixture)
{
    return Print([&](FILE* log) { return PrintSystemReport(log, cpu, Fixture(fixture)); });
}

SimulatedCpu TwoCores()
{
    ProcessorShape shape;
    shape.logicalPerPackage = 2;
    shape.coresPerPackage = 2;
    return MakeMachine(shape, {0, 1});
}

SimulatedCpu TwoPackages()
{
    return MakeMachine(ProcessorShape{}, {0, 1});
}

const std::string TWO_CORES_TOPOLOGY = "\n---- System Detection ----\nTotal Sockets: 1\nTotal Cores: 2\nTotal Logicals: 2\n"
                                       "Multi-processor: No\nMulti-core: Yes\nTwinlane: Not capable";

std::string ThisSystemInformation()
{
    return "System information:\n  OEM ID: 9\n  Processor Architecture:x64 (AMD or Intel), native 64-bit\n"
           "  Processor type: 8664\n  Page size: " +
           std::to_string(getpagesize()) + "\n";
}

const std::string FIXTURE_PROFILE = "Hardware Profile:\n  DockInfo: 1\n"
                                    "  Profile Guid: {0f3a9c2e-5b7d-41c8-a6e2-d9b4c1f08e37}\n";

class SystemReport : public testing::Test {
protected:
    void SetUp() override
    {
#if !defined(__x86_64__)
        GTEST_SKIP() << "the expected architecture lines are those of x86-64";
#endif
    }
};

TEST_F(SystemReport, WholeReportGoesToConsoleAndLogAlike)
{
    ComputerName name("QV-BUILD");
    const Output out = Report(TwoCores(), "xeon-vm");
    EXPECT_EQ(out.result, TRUE);
    EXPECT_EQ(out.console, TWO_CORES_TOPOLOGY + "\nComputername: QV-BUILD\n" + ThisSystemInformation() +
                               FIXTURE_PROFILE + "  Friendly Name: Default\nCPU Frequency (MHz): 2300\n");
    EXPECT_EQ(out.log, out.console);
}

TEST_F(SystemReport, WithoutLogOnlyTheConsoleWrites)
{
    ComputerName name("QV-BUILD");
    SimulatedCpu cpu = TwoCores();
    std::string withLog = Report(TwoCores(), "xeon-vm").console;
    BOOL result = FALSE;
    const std::string console =
        CaptureStdout([&] { result = PrintSystemReport(nullptr, cpu, Fixture("xeon-vm")); });
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(console, withLog);
}

TEST_F(SystemReport, WithoutComputerNameSystemInformationFollowsTwinlane)
{
    ComputerName name(nullptr);
    const Output out = Report(TwoCores(), "xeon-vm");
    EXPECT_EQ(out.console.substr(0, TWO_CORES_TOPOLOGY.size() + 20), TWO_CORES_TOPOLOGY + "System information:\n");
    EXPECT_EQ(out.log, out.console);
}

TEST_F(SystemReport, RestrictedAffinityLeavesTheTextsEmpty)
{
    ComputerName name("QV-BUILD");
    ProcessorShape shape;
    SimulatedCpu restricted({{0, MakeProcessor(shape, 0)}, {1, MakeProcessor(shape, 1)}}, 0x1, 0x3);
    const Output out = Report(restricted, "xeon-vm");
    EXPECT_EQ(out.result, TRUE);
    EXPECT_EQ(out.console, "\n---- System Detection ----\nTotal Sockets: 1\nTotal Cores: 1\nTotal Logicals: 0\n"
                           "Multi-processor: No\nMulti-core: \nTwinlane: \nComputername: QV-BUILD\n" +
                               ThisSystemInformation() + FIXTURE_PROFILE +
                               "  Friendly Name: Default\nCPU Frequency (MHz): 2300\n");
}

TEST_F(SystemReport, TwoPackagesAndAProductName)
{
    ComputerName name(nullptr);
    const Output out = Report(TwoPackages(), "pentium4");
    EXPECT_EQ(out.console, "\n---- System Detection ----\nTotal Sockets: 2\nTotal Cores: 2\nTotal Logicals: 2\n"
                           "Multi-processor: Yes\nMulti-core: No\nTwinlane: Not capable" +
                               ThisSystemInformation() + FIXTURE_PROFILE +
                               "  Friendly Name: OptiPlex GX620\nCPU Frequency (MHz): 2992\n");
}

TEST_F(SystemReport, WithoutTheProcessorKeyTheFrequencyLineIsLeftOut)
{
    ComputerName name("QV-BUILD");
    const Output out = Report(TwoCores(), "no-cpuinfo");
    EXPECT_EQ(out.result, TRUE);
    EXPECT_EQ(out.console, TWO_CORES_TOPOLOGY + "\nComputername: QV-BUILD\n" + ThisSystemInformation() +
                               FIXTURE_PROFILE + "  Friendly Name: Default\n");
    EXPECT_EQ(out.log, out.console);
}

struct FailureCase {
    const char* fixture;
    const char* errorLine;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.fixture;
}

class HwProfileFailureTest : public SystemReport, public testing::WithParamInterface<FailureCase> {};

TEST_P(HwProfileFailureTest, EndsTheReportAfterTheErrorLine)
{
    ComputerName name("QV-BUILD");
    const Output out = Report(TwoCores(), GetParam().fixture);
    EXPECT_EQ(out.result, FALSE);
    EXPECT_EQ(out.console, TWO_CORES_TOPOLOGY + "\nComputername: QV-BUILD\n" + ThisSystemInformation() +
                               "Hardware Profile:\n" + GetParam().errorLine);
    EXPECT_EQ(out.log, out.console);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HwProfileFailureTest,
                         testing::Values(FailureCase{"no-machine-id", "GetCurrentHwProfile failed with error 2\n"},
                                         FailureCase{"machine-id-dir", "GetCurrentHwProfile failed with error 15\n"},
                                         FailureCase{"bad-machine-id", "GetCurrentHwProfile failed with error 16\n"}));

struct StatusCase {
    int status;
    const char* multiCore;
    const char* twinlane;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << "status " << c.status;
}

class TopologyGroupTest : public testing::TestWithParam<StatusCase> {};

TEST_P(TopologyGroupTest, PrintsTheStatusTexts)
{
    const Output out = Print([](FILE* log) {
        PrintTopology(log, BYTE(GetParam().status), 4, 2, 1);
        return TRUE;
    });
    EXPECT_EQ(out.console, std::string("\n---- System Detection ----\nTotal Sockets: 1\nTotal Cores: 2\n"
                                       "Total Logicals: 4\nMulti-processor: No\nMulti-core: ") +
                               GetParam().multiCore + "\nTwinlane: " + GetParam().twinlane);
    EXPECT_EQ(out.log, out.console);
}

INSTANTIATE_TEST_SUITE_P(Statuses, TopologyGroupTest,
                         testing::Values(StatusCase{6, "Yes", "Enabled"}, StatusCase{2, "No", "Disabled"},
                                         StatusCase{0, "", ""}, StatusCase{3, "", ""}, StatusCase{8, "", ""},
                                         StatusCase{9, "", ""}, StatusCase{255, "", ""}));

struct ArchitectureCase {
    const char* name;
    DWORD oemId;
    const char* lines;  // from the OEM ID line to the processor type line
};

void PrintTo(const ArchitectureCase& c, std::ostream* os)
{
    *os << c.name;
}

class SystemInformationGroupTest : public testing::TestWithParam<ArchitectureCase> {};

TEST_P(SystemInformationGroupTest, LabelsTheArchitecture)
{
    SYSTEM_INFO info{};
    info.dwOemId = GetParam().oemId;
    info.wProcessorLevel = 15;
    info.dwProcessorType = 586;
    info.dwPageSize = 4096;
    const Output out = Print([&](FILE* log) {
        PrintSystemInformation(log, info);
        return TRUE;
    });
    EXPECT_EQ(out.console, std::string("System information:\n") + GetParam().lines +
                               "  Processor type: 586\n  Page size: 4096\n");
    EXPECT_EQ(out.log, out.console);
}

INSTANTIATE_TEST_SUITE_P(
    Architectures, SystemInformationGroupTest,
    testing::Values(
        ArchitectureCase{"X64", 9, "  OEM ID: 9\n  Processor Architecture:x64 (AMD or Intel), native 64-bit\n"},
        ArchitectureCase{"X86OnX64", 10,
                         "  OEM ID: 10\n  Processor Architecture:x86, 32-bit process on a 64-bit system\n"},
        ArchitectureCase{"Itanium", 6, "  OEM ID: 6\n  Processor Architecture:Intel Itanium (IA-64), 64-bit\n"},
        ArchitectureCase{"X86", 0,
                         "  OEM ID: 0\n  Processor Architecture:x86, native 32-bit\n  Processor Level: 15\n"},
        ArchitectureCase{"X86WithReservedHalf", 0x10000,
                         "  OEM ID: 65536\n  Processor Architecture:x86, native 32-bit\n  Processor Level: 15\n"},
        ArchitectureCase{"Arm64", 12, "  OEM ID: 12\n  Processor Architecture:Unknown\n"},
        ArchitectureCase{"UnknownValue", 0xFFFF, "  OEM ID: 65535\n  Processor Architecture:Unknown\n"}),
    [](const testing::TestParamInfo<ArchitectureCase>& info) { return std::string(info.param.name); });

} // namespace
