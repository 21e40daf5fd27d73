#include "CString.h"
#include "Fixtures.h"
#include "ProcessorInfo.h"
#include "Registry.h"
#include "SimulatedCpu.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/utsname.h>

namespace {

std::string Machine()
{
    utsname names{};
    uname(&names);
    return names.machine;
}

struct Identity {
    BOOL result = FALSE;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = "";
    char identifier[CProcessorInfo::VALUE_CAPACITY] = "";
};

// The fixture machine's processor, read into destinations as given.
Identity ReadIdentity(const char* fixture, Identity identity = {})
{
    HKEY machine = nullptr;
    RegConnectRegistryA(Fixture(fixture).c_str(), HKEY_LOCAL_MACHINE, &machine);
    identity.result = CProcessorInfo().ReadRegistryInfo(machine, &identity.mhz, identity.name, identity.identifier);
    RegCloseKey(machine);
    return identity;
}

TEST(ReadRegistryInfo, ReadsTheFirstProcessor)
{
    const std::string name99(99, 'N');
    const struct {
        const char* fixture;
        std::string name;
        std::string identifier;  // after the machine name
        DWORD mhz;
    } rows[] = {
        {"xeon-vm", "Intel(R) Xeon(R) Processor", " Family 6 Model 207 Stepping 2", 2300},  // cpu MHz rounded
        {"pentium4", "      Intel(R) Pentium(R) 4 CPU 3.00GHz", " Family 15 Model 4 Stepping 3", 2992},
        {"cpufreq-base", "Intel(R) Core(TM) i7-12700", " Family 6 Model 151 Stepping 2", 2100},
        {"blank-name", "    ", " Family 6 Model 15 Stepping 6", 2992},
        {"name-99", name99, " Family 6 Model 15 Stepping 6", 1000},  // 99 characters and the zero fit
        {"name-100", "", " Family 6 Model 15 Stepping 6", 1000},     // one more is not taken
        {"bare", "", "", 0},                                           // no values: TRUE all the same
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fixture);
        const Identity identity = ReadIdentity(row.fixture);
        EXPECT_EQ(identity.result, TRUE);
        EXPECT_EQ(identity.name, row.name);
        EXPECT_EQ(identity.identifier, row.identifier.empty() ? "" : Machine() + row.identifier);
        EXPECT_EQ(identity.mhz, row.mhz);
    }
}

TEST(ReadRegistryInfo, WithoutCpuinfoFailsAndWritesNothing)
{
    const Identity identity = ReadIdentity("no-cpuinfo", {TRUE, 77, "name", "identifier"});
    EXPECT_EQ(identity.result, FALSE);
    EXPECT_EQ(identity.mhz, 77u);
    EXPECT_STREQ(identity.name, "name");
    EXPECT_STREQ(identity.identifier, "identifier");
}

TEST(ProcessorInfo, ShownAsTheDialogShowsIt)
{
    const Identity pentium = ReadIdentity("pentium4");
    EXPECT_EQ(ProcessorInfoText(pentium.identifier, pentium.name),
              Machine() + " Family 15 Model 4 Stepping 3 Intel(R) Pentium(R) 4 CPU 3.00GHz");
    const Identity blank = ReadIdentity("blank-name");
    EXPECT_EQ(ProcessorInfoText(blank.identifier, blank.name), Machine() + " Family 6 Model 15 Stepping 6 ");
    EXPECT_EQ(ProcessorInfoText("id", "\t name"), "id \t name");  // only blanks are skipped
    CString frequency;
    frequency.Format("%7d", static_cast<int>(pentium.mhz));
    EXPECT_EQ(frequency, "   2992");
}

TEST(GetL2CacheSize, IsTheHighHalfOfLeaf80000006Ecx)
{
    SimulatedCpu cpu({CpuidTable{{{0x80000006, 0}, {0, 0, 0xFFFF7040, 0}}}});
    EXPECT_EQ(CProcessorInfo().GetL2CacheSize(cpu), 0xFFFFu);
}

} // namespace
