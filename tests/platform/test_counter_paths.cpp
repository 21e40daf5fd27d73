#include "Pdh.h"
#include "ProcFiles.h"
#include "Process.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kProcess = CounterObject::Process;
constexpr auto kThread = CounterObject::Thread;
constexpr auto kCpu = CounterKind::ProcessorTime;
constexpr auto kCount = CounterKind::ThreadCount;
constexpr auto kState = CounterKind::ThreadState;

struct PathCase {
    const char* path;
    PDH_STATUS status;
    CounterObject object;
    const char* instance;
    int thread;
    CounterKind kind;
};

TEST(ParseCounterPath, ReadsTheObjectInstanceThreadAndCounter)
{
    const PathCase rows[] = {
        {"\\Process(quorvex-demo)\\% Processor Time", 0, kProcess, "quorvex-demo", -1, kCpu},
        {"\\Thread(quorvex-demo/0)\\% Processor Time", 0, kThread, "quorvex-demo", 0, kCpu},
        {"\\Thread(quorvex-demo/199)\\Thread State", 0, kThread, "quorvex-demo", 199, kState},
        {"\\Process(my app (x86))\\Thread Count", 0, kProcess, "my app (x86)", -1, kCount},
        {"\\Thread(a)\\b/c) (d/3)\\Thread State", 0, kThread, "a)\\b/c) (d", 3, kState},
        {"\\process(x)\\thread count", 0, kProcess, "x", -1, kCount},
        {"\\Process()\\Thread Count", 0, kProcess, "", -1, kCount},
        {"\\Disk(x)\\% Processor Time", PDH_CSTATUS_NO_OBJECT},
        {"\\Process(x)\\Thread State", PDH_CSTATUS_NO_COUNTER},
        {"\\Thread(x/1)\\Thread Count", PDH_CSTATUS_NO_COUNTER},
        {"\\Process(x)\\Handle Count", PDH_CSTATUS_NO_COUNTER},
        {"\\Thread(x)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
        {"\\Thread(x/)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
        {"\\Thread(x/1a)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
        {"\\Thread(x/99999999999)\\Thread State", PDH_CSTATUS_BAD_COUNTERNAME},
        {"Process(x)\\Thread Count", PDH_CSTATUS_BAD_COUNTERNAME},
        {"\\Process(x)Thread Count", PDH_CSTATUS_BAD_COUNTERNAME},
        {"\\", PDH_CSTATUS_BAD_COUNTERNAME}, {"", PDH_CSTATUS_BAD_COUNTERNAME},
        {nullptr, PDH_CSTATUS_BAD_COUNTERNAME}};
    for (const PathCase& row : rows) {
        SCOPED_TRACE(row.path ? row.path : "(null)");
        CounterPath parsed{};
        ASSERT_EQ(ParseCounterPath(row.path, parsed), row.status);
        if (row.status != ERROR_SUCCESS)
            continue;
        EXPECT_EQ(parsed.object, row.object);
        EXPECT_EQ(parsed.instance, row.instance);
        EXPECT_EQ(parsed.thread, row.thread);
        EXPECT_EQ(parsed.kind, row.kind);
    }
}

#define STAT_TAIL " 1 2 3 0 -1 4194304 100 0 0 0 31 7 0 0 20 0 6 0 8823 2000000 300 18446744073709551615\n"

// The fields after the command name, whatever the name holds; short or unnamed lines are refused.
TEST(ParseProcStat, FindsTheFieldsAfterTheCommandName)
{
    const std::pair<const char*, char> parsed[] = {{"4242 (quorvex-demo) S" STAT_TAIL, 'S'},
                                                   {"4242 (a) R (b)) Z" STAT_TAIL, 'Z'}};
    for (const auto& [line, state] : parsed) {
        ProcStat stat;
        ASSERT_TRUE(ParseProcStat(line, stat)) << line;
        EXPECT_EQ(stat.state, state) << line;
        EXPECT_EQ(stat.numThreads, 6);
        EXPECT_EQ(stat.startTicks, 8823u);
        EXPECT_EQ(stat.parentPid, 1);
        EXPECT_EQ(stat.processGroup, 2);
        EXPECT_EQ(stat.session, 3);
    }
    for (const char* line : {"4242 (x) S 1 1 1 0 -1 4194304", "4242 x S" STAT_TAIL, ""}) {
        ProcStat stat;
        EXPECT_FALSE(ParseProcStat(line, stat)) << line;
    }
}

// Idle and iowait of the processors asked for; the machine's total line and
// the others are left out; a short line is refused.
TEST(ParseIdleTicks, SumsIdleAndIowaitOfTheProcessorsAsked)
{
    const char* text = "cpu  900 0 90 9000 900 0 0 0 0 0\n"
                       "cpu0 100 0 10 1000 7 0 0 0 0 0\n"
                       "cpu1 100 0 10 2000 30 0 0 0 0 0\n"
                       "cpu12 100 0 10 4000 500 0 0 0 0 0\n"
                       "intr 5 6 7\n";
    cpu_set_t processors;
    CPU_ZERO(&processors);
    CPU_SET(0, &processors);
    CPU_SET(12, &processors);
    std::uint64_t ticks = 0;
    ASSERT_TRUE(ParseIdleTicks(text, processors, ticks));
    EXPECT_EQ(ticks, 1007u + 4500u);
    EXPECT_FALSE(ParseIdleTicks("cpu0 100 0 10 1000\n", processors, ticks));
}

TEST(InstanceName, IsTheFileNameWithoutATrailingExe)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/usr/bin/xz", "xz"},   {"/apps/render.exe", "render"}, {"prog.exe.exe", "prog.exe"},
        {"/a/b.exe.txt", "b.exe.txt"}, {"/a/prog.EXE", "prog.EXE"}, {"/opt/.exe", ".exe"},
        {"tools\\prog.exe", "tools\\prog"}, {"../../usr/bin/xz", "xz"}, {"/opt/dir.exe/", ""}, {"", ""}};
    for (const auto& [path, instance] : rows)
        EXPECT_EQ(InstanceName(path), instance) << path;
}

} // namespace
