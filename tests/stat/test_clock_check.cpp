#include "ClockCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int PID = 4000;

SwitchRecord Switch(std::uint64_t timeNs, RecordKind kind, int tid = PID)
{
    SwitchRecord record;
    record.timeNs = timeNs;
    record.kind = kind;
    record.pid = PID;
    record.tid = tid;
    record.cpu = 0;
    return record;
}

// One thread's schedstat in a /proc of its own, and the clock check reading it.
class KernelClock {
public:
    explicit KernelClock(int tid)
        : m_root(std::filesystem::temp_directory_path() / ("clock-check-" + std::to_string(getpid()))),
          m_task(m_root / std::to_string(PID) / "task" / std::to_string(tid)), m_files(m_root.string())
    {
        std::filesystem::create_directories(m_task);
    }
    ~KernelClock() { std::filesystem::remove_all(m_root); }
    // The kernel's clock reads onCpuNs, and the check reads and compares it.
    void Read(std::uint64_t onCpuNs, ClockCheck& clock, const ThreadStates& states)
    {
        std::ofstream(m_task / "schedstat") << onCpuNs << " 0 0\n";
        m_files.NextRound();
        clock.Read(states, m_files);
        clock.Compare(states);
    }

private:
    const std::filesystem::path m_root;
    const std::filesystem::path m_task;
    SchedstatFiles m_files;
};

// The check's verdict on the threads alone.
KernelClockCheck Verdict(const ClockCheck& clock)
{
    Profile profile;
    clock.Finish(std::nullopt, 0, profile);
    return profile.kernelClock;
}

// A thread that had run 5 µs before the span: 3 µs on a processor in the
// records by the first reading of its clock, 10 µs more by the second.
// Counted from the first reading, only the kernel's own growth is held
// against the records'.
TEST(ClockCheck, ThreadsRunningBeforeCountFromTheirFirstReading)
{
    struct Case {
        bool countFromFirst;
        std::uint64_t secondKernelNs;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {true, 18'000, ""},
        {true, 28'000, "1 of 1 threads differ from the kernel's own clock, by up to -50.00 % (10 us at most)"},
        {false, 20'000, "1 of 1 threads differ from the kernel's own clock, by up to -35.00 % (7 us at most)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondKernelNs);
        ThreadStates states(PID, false, 1000);
        states.Place(PID, PID, "t", false, 0, 1000);
        ClockCheck clock(0);
        KernelClock kernel(PID);
        if (c.countFromFirst)
            clock.CountFromFirstReading(1);
        states.Apply(Switch(2'000, RecordKind::SwitchIn));
        states.Apply(Switch(5'000, RecordKind::SwitchOut));
        kernel.Read(8'000, clock, states);
        states.Apply(Switch(6'000, RecordKind::SwitchIn));
        states.Apply(Switch(16'000, RecordKind::SwitchOut));
        kernel.Read(c.secondKernelNs, clock, states);
        EXPECT_EQ(Verdict(clock).threads, 1u);
        EXPECT_EQ(Verdict(clock).reason, c.reason);
    }
}

// A thread created in the records is woken by its creation: the kernel may
// charge it from there, so its clock may run ahead of the records by as much
// as it waited for its first switch-in (20 us here), and no more; never the
// other way.
TEST(ClockCheck, NewThreadMayBeChargedFromItsCreation)
{
    struct Case {
        std::uint64_t kernelNs;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {30'000, ""},
        {36'000, "1 of 1 threads differ from the kernel's own clock, by up to -72.22 % (26 us at most)"},
        {4'000, "1 of 1 threads differ from the kernel's own clock, by up to 150.00 % (6 us at most)"},
    };
    const int tid = PID + 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kernelNs);
        ThreadStates states(PID, false, 1000);
        for (const SwitchRecord& record : {Switch(1'000, RecordKind::Fork, tid), Switch(21'000, RecordKind::SwitchIn, tid),
                                           Switch(31'000, RecordKind::SwitchOut, tid)})
            states.Apply(record);
        ClockCheck clock(0);
        KernelClock(tid).Read(c.kernelNs, clock, states);
        EXPECT_EQ(Verdict(clock).reason, c.reason);
    }
}

// The command's total against what the kernel gave it (5 us of it before
// the records' span): within 0.5 % plus 2 us a switch-in not straight from
// another of its threads, or the reason with the shortfall for each such
// switch-in and each exit.
TEST(ClockCheck, TotalHeldToTheKernelsWithinToleranceAndSlack)
{
    struct Case {
        std::uint64_t recordsNs;
        std::uint64_t switchIns;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {988'000, 3, ""},  // 12 us apart: 5 us + (3 + 1) x 2 us allowed
        {988'000, 2, "the records' processor time is 1.20 % below the kernel's own clock, "
                     "3.0 us for each of its 2 switch-ins not straight from another of its threads and 2 exits"},
        {1'100'000, 0, "the records' processor time is 10.00 % above the kernel's own clock"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordsNs);
        Profile profile;
        profile.threads.resize(2);
        profile.threads[0].onCpuNs = c.recordsNs - 400'000;
        profile.threads[1].onCpuNs = 400'000;
        ClockCheck(5'000).Finish(1'005'000, c.switchIns, profile);
        EXPECT_EQ(profile.kernelClock.reason, c.reason);
    }
}

} // namespace
