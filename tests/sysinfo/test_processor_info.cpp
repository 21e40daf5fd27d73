#include "CString.h"
#include "Fixtures.h"
#include "ProcessorInfo.h"
#include "Registry.h"
#include "SimulatedCpu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include <sys/utsname.h>

namespace {

std::string Machine()
{
    utsname names{};
    uname(&names);
    return names.machine;
}

// A machine's registry for the length of one test.
class ConnectedMachine {
public:
    explicit ConnectedMachine(const std::string& root) { RegConnectRegistryA(root.c_str(), HKEY_LOCAL_MACHINE, &m_hKey); }
    ~ConnectedMachine() { RegCloseKey(m_hKey); }
    HKEY Key() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

struct Identity {
    BOOL result;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = "";
    char identifier[CProcessorInfo::VALUE_CAPACITY] = "";
};

Identity ReadIdentity(const char* fixture)
{
    ConnectedMachine machine(Fixture(fixture));
    Identity identity;
    CProcessorInfo info;
    identity.result = info.ReadRegistryInfo(machine.Key(), &identity.mhz, identity.name, identity.identifier);
    return identity;
}

struct IdentityCase {
    const char* fixture;
    const char* name;
    const char* identifierTail;  // after the machine name; "" for none
    DWORD mhz;
};

void PrintTo(const IdentityCase& c, std::ostream* os)
{
    *os << c.fixture;
}

class ReadRegistryInfoTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(ReadRegistryInfoTest, ReadsTheFirstProcessor)
{
    const Identity identity = ReadIdentity(GetParam().fixture);
    EXPECT_EQ(identity.result, TRUE);
    EXPECT_STREQ(identity.name, GetParam().name);
    const std::string tail = GetParam().identifierTail;
    EXPECT_EQ(identity.identifier, tail.empty() ? tail : Machine() + tail);
    EXPECT_EQ(identity.mhz, GetParam().mhz);
}

const std::string NAME_99(99, 'N');

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ReadRegistryInfoTest,
    testing::Values(
        IdentityCase{"xeon-vm", "Intel(R) Xeon(R) Processor", " Family 6 Model 207 Stepping 2", 2300},
        IdentityCase{"pentium4", "      Intel(R) Pentium(R) 4 CPU 3.00GHz", " Family 15 Model 4 Stepping 3", 2992},
        IdentityCase{"cpufreq-base", "Intel(R) Core(TM) i7-12700", " Family 6 Model 151 Stepping 2", 2100},
        IdentityCase{"blank-name", "    ", " Family 6 Model 15 Stepping 6", 2992},
        IdentityCase{"name-99", NAME_99.c_str(), " Family 6 Model 15 Stepping 6", 1000},
        IdentityCase{"name-100", "", " Family 6 Model 15 Stepping 6", 1000},
        IdentityCase{"bare", "", "", 0}),
    [](const testing::TestParamInfo<IdentityCase>& info) {
        std::string name = info.param.fixture;
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

TEST(ReadRegistryInfo, WithoutCpuinfoFailsAndWritesNothing)
{
    for (const char* fixture : {"no-cpuinfo", "does-not-exist"}) {
        ConnectedMachine machine(Fixture(fixture));
        DWORD mhz = 77;
        char name[CProcessorInfo::VALUE_CAPACITY] = "name";
        char identifier[CProcessorInfo::VALUE_CAPACITY] = "identifier";
        CProcessorInfo info;
        EXPECT_EQ(info.ReadRegistryInfo(machine.Key(), &mhz, name, identifier), FALSE) << fixture;
        EXPECT_EQ(mhz, 77u);
        EXPECT_STREQ(name, "name");
        EXPECT_STREQ(identifier, "identifier");
    }
}

TEST(ReadRegistryInfo, ThisMachineHasItsProcessorDescribed)
{
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = "";
    char identifier[CProcessorInfo::VALUE_CAPACITY] = "";
    CProcessorInfo info;
    ASSERT_EQ(info.ReadRegistryInfo(&mhz, name, identifier), TRUE);
    EXPECT_EQ(std::string(identifier).rfind(Machine() + " Family ", 0), 0u) << identifier;
    EXPECT_GT(mhz, 0u);
}

TEST(ProcessorInfoText, ShowsTheIdentifierAndTheNameWithoutLeadingBlanks)
{
    const Identity pentium = ReadIdentity("pentium4");
    EXPECT_EQ(ProcessorInfoText(pentium.identifier, pentium.name),
              Machine() + " Family 15 Model 4 Stepping 3 Intel(R) Pentium(R) 4 CPU 3.00GHz");
    const Identity blank = ReadIdentity("blank-name");
    EXPECT_EQ(ProcessorInfoText(blank.identifier, blank.name), Machine() + " Family 6 Model 15 Stepping 6 ");
    EXPECT_EQ(ProcessorInfoText("id", "\t name"), "id \t name");  // only blanks are skipped
}

TEST(ProcessorInfoText, FrequencyFieldIsSevenCharactersWide)
{
    const Identity pentium = ReadIdentity("pentium4");
    CString frequency;
    frequency.Format("%7d", static_cast<int>(pentium.mhz));
    EXPECT_EQ(frequency, "   2992");
}

TEST(GetL2CacheSize, IsLeaf80000006EcxHighHalf)
{
    ProcessorShape shape;
    shape.l2CacheKb = 0xFFFF;
    SimulatedCpu large = MakeMachine(shape, {0});
    shape.l2CacheKb = 256;
    SimulatedCpu small = MakeMachine(shape, {0});
    CProcessorInfo info;
    EXPECT_EQ(info.GetL2CacheSize(large), 0xFFFFu);
    EXPECT_EQ(info.GetL2CacheSize(small), 256u);
}

// The registry stand-in itself: sizes, types and failures as callers of the
// real registry expect them.
class ProcessorKey : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegOpenKeyExA(m_machine.Key(), CENTRAL_PROCESSOR_0, 0, KEY_READ, &m_hKey), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(m_hKey); }

    ConnectedMachine m_machine{Fixture("name-99")};
    HKEY m_hKey = nullptr;
};

TEST_F(ProcessorKey, TextFitsOnlyWithItsTerminatingZero)
{
    char name[100];
    DWORD type = 0;
    DWORD size = 100;
    EXPECT_EQ(RegQueryValueExA(m_hKey, "ProcessorNameString", nullptr, &type, reinterpret_cast<LPBYTE>(name), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(std::strlen(name), 99u);

    std::memset(name, 'x', sizeof name);
    size = 99;
    EXPECT_EQ(RegQueryValueExA(m_hKey, "ProcessorNameString", nullptr, nullptr, reinterpret_cast<LPBYTE>(name), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 100u);
    EXPECT_STREQ(name, "");
}

TEST_F(ProcessorKey, SizeQueryAndNumberValue)
{
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(m_hKey, "ProcessorNameString", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 100u);
    DWORD mhz = 0;
    DWORD type = 0;
    size = sizeof mhz;
    EXPECT_EQ(RegQueryValueExA(m_hKey, "~mhz", nullptr, &type, reinterpret_cast<LPBYTE>(&mhz), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(mhz, 1000u);
}

TEST_F(ProcessorKey, UnknownValuesAndKeysAreNotFound)
{
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(m_hKey, "VendorIdentifier", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExA(m_machine.Key(), "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1", 0, KEY_READ, &other),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(m_machine.Key(), "hardware\\description\\system\\centralprocessor\\0", 0, KEY_READ, &other),
              ERROR_SUCCESS);
    RegCloseKey(other);
}

} // namespace
