#include "Pdh.h"
#include "ProcFiles.h"
#include "Process.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* path;
    PDH_STATUS status;
    CounterObject object;
    const char* instance;
    int thread;
    CounterKind kind;
};

void PrintTo(const PathCase& c, std::ostream* os)
{
    *os << (c.path ? c.path : "(null)");
}

class CounterPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(CounterPathTest, Parses)
{
    CounterPath parsed{};
    ASSERT_EQ(ParseCounterPath(GetParam().path, parsed), GetParam().status);
    if (GetParam().status != ERROR_SUCCESS)
        return;
    EXPECT_EQ(parsed.object, GetParam().object);
    EXPECT_EQ(parsed.instance, GetParam().instance);
    EXPECT_EQ(parsed.thread, GetParam().thread);
    EXPECT_EQ(parsed.kind, GetParam().kind);
}

constexpr auto kProcess = CounterObject::Process;
constexpr auto kThread = CounterObject::Thread;
constexpr auto kCpu = CounterKind::ProcessorTime;
constexpr auto kCount = CounterKind::ThreadCount;
constexpr auto kState = CounterKind::ThreadState;

INSTANTIATE_TEST_SUITE_P(
    Paths, CounterPathTest,
    testing::Values(PathCase{"\\Process(quorvex-demo)\\% Processor Time", 0, kProcess, "quorvex-demo", -1, kCpu},
                    PathCase{"\\Thread(quorvex-demo/0)\\% Processor Time", 0, kThread, "quorvex-demo", 0, kCpu},
                    PathCase{"\\Thread(quorvex-demo/199)\\Thread State", 0, kThread, "quorvex-demo", 199, kState},
                    PathCase{"\\Process(my app (x86))\\Thread Count", 0, kProcess, "my app (x86)", -1, kCount},
                    PathCase{"\\Thread(a)\\b/c) (d/3)\\Thread State", 0, kThread, "a)\\b/c) (d", 3, kState},
                    PathCase{"\\process(x)\\thread count", 0, kProcess, "x", -1, kCount},
                    PathCase{"\\Process()\\Thread Count", 0, kProcess, "", -1, kCount},
                    PathCase{"\\Disk(x)\\% Processor Time", PDH_CSTATUS_NO_OBJECT},
                    PathCase{"\\Process(x)\\Thread State", PDH_CSTATUS_NO_COUNTER},
                    PathCase{"\\Thread(x/1)\\Thread Count", PDH_CSTATUS_NO_COUNTER},
                    PathCase{"\\Process(x)\\Handle Count", PDH_CSTATUS_NO_COUNTER},
                    PathCase{"\\Thread(x)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"\\Thread(x/)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"\\Thread(x/1a)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"\\Thread(x/99999999999)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"Process(x)\\Thread Count", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"\\Process(x)Thread Count", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{"\\", PDH_CSTATUS_BAD_COUNTERNAME}, PathCase{"", PDH_CSTATUS_BAD_COUNTERNAME},
                    PathCase{nullptr, PDH_CSTATUS_BAD_COUNTERNAME}));

struct StatCase {
    const char* line;
    bool parses;
    char state;
    long threads;
    std::uint64_t start;
};

void PrintTo(const StatCase& c, std::ostream* os)
{
    *os << c.line;
}

class ProcStatTest : public testing::TestWithParam<StatCase> {};

TEST_P(ProcStatTest, FindsTheFieldsAfterTheCommandName)
{
    ProcStat stat;
    ASSERT_EQ(ParseProcStat(GetParam().line, stat), GetParam().parses);
    if (!GetParam().parses)
        return;
    EXPECT_EQ(stat.state, GetParam().state);
    EXPECT_EQ(stat.numThreads, GetParam().threads);
    EXPECT_EQ(stat.startTicks, GetParam().start);
    EXPECT_EQ(stat.parentPid, 1);
    EXPECT_EQ(stat.processGroup, 2);
    EXPECT_EQ(stat.session, 3);
}

#define STAT_TAIL " 1 2 3 0 -1 4194304 100 0 0 0 31 7 0 0 20 0 6 0 8823 2000000 300 18446744073709551615\n"

INSTANTIATE_TEST_SUITE_P(Lines, ProcStatTest,
                         testing::Values(StatCase{"4242 (quorvex-demo) S" STAT_TAIL, true, 'S', 6, 8823},
                                         StatCase{"4242 (a) R (b)) Z" STAT_TAIL, true, 'Z', 6, 8823},
                                         StatCase{"4242 (x) S 1 1 1 0 -1 4194304", false},
                                         StatCase{"4242 x S" STAT_TAIL, false}, StatCase{"", false}));

struct NameCase {
    const char* path;
    const char* instance;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.path;
}

class InstanceNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(InstanceNameTest, IsTheFileNameWithoutATrailingExe)
{
    EXPECT_EQ(InstanceName(GetParam().path), GetParam().instance);
}

INSTANTIATE_TEST_SUITE_P(Paths, InstanceNameTest,
                         testing::Values(NameCase{"/usr/bin/xz", "xz"}, NameCase{"/apps/render.exe", "render"},
                                         NameCase{"prog.exe.exe", "prog.exe"}, NameCase{"/a/b.exe.txt", "b.exe.txt"},
                                         NameCase{"/a/prog.EXE", "prog.EXE"}, NameCase{"/opt/.exe", ".exe"},
                                         NameCase{"tools\\prog.exe", "tools\\prog"},
                                         NameCase{"../../usr/bin/xz", "xz"}, NameCase{"/opt/dir.exe/", ""},
                                         NameCase{"", ""}));

} // namespace
