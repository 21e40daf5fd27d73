#include "ProfileBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int PID = 100;

SwitchRecord In(std::uint64_t t, int tid, int cpu, int pid = PID)
{
    return {t, RecordKind::SwitchIn, pid, tid, cpu};
}
// Blocked: asleep until its next switch-in.
SwitchRecord Out(std::uint64_t t, int tid, int cpu, int pid = PID)
{
    return {t, RecordKind::SwitchOut, pid, tid, cpu};
}
// Still runnable: waiting for a processor.
SwitchRecord Preempted(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchOut, PID, tid, cpu, 0, true};
}
SwitchRecord Task(std::uint64_t t, RecordKind kind, int tid, int cpu = 0, int pid = PID, std::string name = "")
{
    return {t, kind, pid, tid, cpu, 0, false, name};
}

// "levels l0,l1,... | tid/pid name on wait life, ... | lost N, P processes"
std::string Render(const Profile& profile)
{
    std::string text = "levels";
    for (std::size_t level = 0; level < profile.levelNs.size(); ++level)
        text += (level ? "," : " ") + std::to_string(profile.levelNs[level]);
    text += " |";
    for (const ThreadProfile& t : profile.threads)
        text += " " + std::to_string(t.tid) + "/" + std::to_string(t.pid) + " " + t.name + " " +
                std::to_string(t.onCpuNs) + " " + std::to_string(t.waitingNs) + " " + std::to_string(t.LifetimeNs()) +
                ",";
    return text + " | lost " + std::to_string(profile.lostRecords) + ", " + std::to_string(profile.processes) +
           " processes";
}

struct ShapeCase {
    const char* name;
    bool followChildren;
    std::vector<SwitchRecord> records;
    std::uint64_t end;
    const char* profile;
};

// The command runs while a child process it forked runs, execs and ends.
const std::vector<SwitchRecord> CHILD_PROCESS = {
    In(0, PID, 0), Task(10, RecordKind::Fork, 200, 0, 200), In(10, 200, 1, 200),
    Task(20, RecordKind::Exec, 200, 1, 200, "sh"), Out(50, 200, 1, 200), Task(60, RecordKind::Exit, 200, 1, 200)};

class WorkloadShape : public testing::TestWithParam<ShapeCase> {};

// The span starts at 0 with the command's single thread, named "cmd".
TEST_P(WorkloadShape, GivesExactLevelsAndThreadTimes)
{
    ProfileBuilder builder(0, 100, PID, GetParam().followChildren, {{PID, PID, "cmd"}});
    for (const SwitchRecord& record : GetParam().records)
        builder.Add(record);
    EXPECT_EQ(Render(builder.Finish(GetParam().end)), GetParam().profile);
}

INSTANTIATE_TEST_SUITE_P(
    Records, WorkloadShape,
    testing::Values(
        ShapeCase{"TwoBusyThreads",
                  false,
                  {Task(0, RecordKind::Fork, 101), In(0, PID, 0), In(0, 101, 1)},
                  1000,
                  "levels 0,0,1000 | 100/100 cmd 1000 0 1000, 101/100 cmd 1000 0 1000, | lost 0, 1 processes"},
        ShapeCase{"MostlyAsleep",
                  false,
                  {In(0, PID, 0), Out(10, PID, 0), In(990, PID, 1), Out(1000, PID, 1)},
                  1000,
                  "levels 980,20 | 100/100 cmd 20 0 1000, | lost 0, 1 processes"},
        // Three runnable threads take turns on two processors: never more
        // than two at once, and each waits its turn.
        ShapeCase{"Oversubscribed",
                  false,
                  {Task(0, RecordKind::Fork, 101), Task(0, RecordKind::Fork, 102), In(0, PID, 0), In(0, 101, 1),
                   Preempted(100, PID, 0), In(100, 102, 0), Preempted(200, 101, 1), In(200, PID, 1),
                   Preempted(300, 102, 0), In(300, 101, 0)},
                  400,
                  "levels 0,0,400 | 100/100 cmd 300 100 400, 101/100 cmd 300 100 400, 102/100 cmd 200 100 400, | "
                  "lost 0, 1 processes"},
        ShapeCase{"Phases",
                  false,
                  {In(0, PID, 0), Task(300, RecordKind::Fork, 101), In(300, 101, 1),
                   Task(600, RecordKind::Exit, 101, 1), Out(800, PID, 0)},
                  1000,
                  "levels 200,500,300 | 100/100 cmd 800 0 1000, 101/100 cmd 300 0 300, | lost 0, 1 processes"},
        // A pair hands a token back and forth: one at a time, with gaps.
        ShapeCase{"TokenPassingPair",
                  false,
                  {Task(0, RecordKind::Fork, 101), In(0, PID, 0), Out(90, PID, 0), In(100, 101, 1), Out(190, 101, 1),
                   In(200, PID, 0), Out(290, PID, 0), In(300, 101, 1), Out(390, 101, 1)},
                  400,
                  "levels 40,360 | 100/100 cmd 180 0 400, 101/100 cmd 180 0 400, | lost 0, 1 processes"},
        // Records were lost: the main thread's second switch-in moves it to
        // processor 1 without a switch-out, and it leaves there when thread
        // 101 is switched in, for a processor runs one thread at a time.
        ShapeCase{"LostRecords",
                  false,
                  {In(0, PID, 0), Task(0, RecordKind::Fork, 101), {50, RecordKind::Lost, 0, 0, 0, 5}, In(60, PID, 1),
                   In(70, 101, 1), Out(100, 101, 1)},
                  200,
                  "levels 100,100 | 100/100 cmd 70 0 200, 101/100 cmd 30 0 200, | lost 5, 1 processes"},
        ShapeCase{"ChildProcessIgnoredByDefault",
                  false,
                  CHILD_PROCESS,
                  100,
                  "levels 0,100 | 100/100 cmd 100 0 100, | lost 0, 1 processes"},
        ShapeCase{"ChildProcessCountedWithChildren",
                  true,
                  CHILD_PROCESS,
                  100,
                  "levels 0,60,40 | 100/100 cmd 100 0 100, 200/200 sh 40 0 50, | lost 0, 2 processes"},
        // Thread 101 execs: the kernel ends the leader, then 101 becomes 100.
        ShapeCase{"ExecFromAnotherThread",
                  false,
                  {Task(1, RecordKind::Fork, 101), In(10, PID, 0), In(10, 101, 1), Task(30, RecordKind::Exit, PID, 0),
                   Task(50, RecordKind::Exec, PID, 1, PID, "new"), Out(80, PID, 1)},
                  100,
                  "levels 30,50,20 | 100/100 cmd 20 0 30, 100/100 new 70 0 99, | lost 0, 1 processes"},
        // A thread takes the name of the thread that created it, the one on
        // the fork record's processor; so does a process until its exec.
        ShapeCase{"NewThreadsTakeTheirCreatorsName",
                  true,
                  {Task(5, RecordKind::Fork, 101), Task(6, RecordKind::Comm, 101, 0, PID, "worker"), In(10, 101, 1),
                   Task(15, RecordKind::Fork, 102, 1), Task(16, RecordKind::Fork, 300, 1, 300), Out(20, 101, 1)},
                  100,
                  "levels 90,10 | 100/100 cmd 0 0 100, 101/100 worker 10 0 95, 102/100 worker 0 0 85, "
                  "300/300 worker 0 0 84, | lost 0, 2 processes"}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

// Interval windows of 100 over [0, 420): thread 101 lives from 150 to 350,
// thread 100 sleeps from 250 to 300; the last window is 20 long.
TEST(ProfileWindows, SplitLevelsAndThreadTimesAtWindowBorders)
{
    ProfileBuilder builder(1000, 100, PID, false, {{PID, PID, "cmd"}});
    for (const SwitchRecord& record :
         {In(1000, PID, 0), Task(1150, RecordKind::Fork, 101), In(1150, 101, 1), Out(1250, PID, 0),
          In(1300, PID, 0), Task(1350, RecordKind::Exit, 101, 1)})
        builder.Add(record);
    const Profile profile = builder.Finish(1420);
    std::vector<std::string> windows;
    for (const WindowProfile& w : profile.windows) {
        std::string text = std::to_string(w.startNs) + "+" + std::to_string(w.lengthNs) + " levels";
        for (std::uint64_t ns : w.levelNs)
            text += " " + std::to_string(ns);
        windows.push_back(text + " cpu " + std::to_string(w.onCpuNs) + " alive " + std::to_string(w.threadsAlive));
    }
    EXPECT_EQ(windows, (std::vector<std::string>{"0+100 levels 0 100 0 cpu 100 alive 1",
                                                 "100+100 levels 0 50 50 cpu 150 alive 2",
                                                 "200+100 levels 0 50 50 cpu 150 alive 2",
                                                 "300+100 levels 0 50 50 cpu 150 alive 2",
                                                 "400+20 levels 0 20 0 cpu 20 alive 1"}));
    std::string shares;
    for (const WindowShare& share : profile.threads[1].windows)
        shares += std::to_string(share.window) + ":" + std::to_string(share.onCpuNs) + " ";
    EXPECT_EQ(shares, "1:50 2:100 3:50 ");
}

// A run of exactly MAX_WINDOWS windows keeps them; one nanosecond more
// folds each two into one of twice the length, its on-CPU time whole.
TEST(ProfileWindows, FoldPastTheMostWindows)
{
    constexpr std::uint64_t span = ProfileBuilder::MAX_WINDOWS * 100;
    for (const std::uint64_t length : {span, span + 1}) {
        ProfileBuilder builder(1000, 100, PID, false, {{PID, PID, "cmd"}});
        builder.Add(In(1000, PID, 0));
        const Profile profile = builder.Finish(1000 + length);
        const bool folded = length > span;
        SCOPED_TRACE(length);
        EXPECT_EQ(profile.intervalNs, folded ? 200u : 100u);
        ASSERT_EQ(profile.windows.size(), folded ? ProfileBuilder::MAX_WINDOWS / 2 + 1 : ProfileBuilder::MAX_WINDOWS);
        EXPECT_EQ(profile.windows.back().lengthNs, folded ? 1u : 100u);
        EXPECT_EQ(profile.windows.front().onCpuNs, profile.intervalNs);
    }
}

} // namespace
