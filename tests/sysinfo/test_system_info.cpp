#include "Fixtures.h"
#include "SystemInfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

#include <unistd.h>

namespace {

TEST(GetSystemInfo, DescribesThisProgramsArchitecture)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info, Fixture("xeon-vm"));
#if defined(__x86_64__)
    EXPECT_EQ(info.dwOemId, 9u);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(info.dwProcessorType, 8664u);
#elif defined(__i386__)
    EXPECT_EQ(info.dwOemId, 0u);
    EXPECT_EQ(info.dwProcessorType, 586u);
#endif
    EXPECT_EQ(info.wReserved, 0);
    EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(getpagesize()));
}

struct LevelCase {
    const char* fixture;
    WORD level;
};

void PrintTo(const LevelCase& c, std::ostream* os)
{
    *os << c.fixture;
}

class ProcessorLevelTest : public testing::TestWithParam<LevelCase> {};

TEST_P(ProcessorLevelTest, IsTheFirstProcessorsFamily)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info, Fixture(GetParam().fixture));
    EXPECT_EQ(info.wProcessorLevel, GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ProcessorLevelTest,
                         testing::Values(LevelCase{"xeon-vm", 6}, LevelCase{"pentium4", 15}, LevelCase{"bare", 0},
                                         LevelCase{"no-cpuinfo", 0}));

struct ProfileCase {
    const char* fixture;
    BOOL result;
    DWORD error;  // when it fails
    const char* guid;
    const char* name;
};

void PrintTo(const ProfileCase& c, std::ostream* os)
{
    *os << c.fixture;
}

class HwProfileTest : public testing::TestWithParam<ProfileCase> {};

TEST_P(HwProfileTest, ComesFromTheMachineIdAndDmi)
{
    HW_PROFILE_INFOA profile{};
    SetLastError(0);
    ASSERT_EQ(GetCurrentHwProfileA(&profile, Fixture(GetParam().fixture)), GetParam().result);
    if (!GetParam().result) {
        EXPECT_EQ(GetLastError(), GetParam().error);
        return;
    }
    EXPECT_EQ(profile.dwDockInfo, DOCKINFO_UNDOCKED);
    EXPECT_STREQ(profile.szHwProfileGuid, GetParam().guid);
    EXPECT_STREQ(profile.szHwProfileName, GetParam().name);
}

constexpr char FIXTURE_GUID[] = "{0f3a9c2e-5b7d-41c8-a6e2-d9b4c1f08e37}";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, HwProfileTest,
    testing::Values(ProfileCase{"xeon-vm", TRUE, 0, FIXTURE_GUID, "Default"},
                    ProfileCase{"pentium4", TRUE, 0, FIXTURE_GUID, "OptiPlex GX620"},
                    ProfileCase{"no-machine-id", FALSE, ENOENT, "", ""},
                    ProfileCase{"machine-id-dir", FALSE, EISDIR, "", ""},
                    ProfileCase{"bad-machine-id", FALSE, EINVAL, "", ""}));

} // namespace
