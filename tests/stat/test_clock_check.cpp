#include "ClockCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int PID = 4000;

SwitchRecord Switch(std::uint64_t timeNs, RecordKind kind)
{
    SwitchRecord record;
    record.timeNs = timeNs;
    record.kind = kind;
    record.pid = record.tid = PID;
    record.cpu = 0;
    return record;
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
        {true, 28'000, "1 of 1 threads differ from the kernel's own clock, by up to -50.00 %"},
        {false, 18'000, "1 of 1 threads differ from the kernel's own clock, by up to -27.78 %"},
    };
    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("clock-check-" + std::to_string(getpid()));
    const std::filesystem::path task = root / std::to_string(PID) / "task" / std::to_string(PID);
    std::filesystem::create_directories(task);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondKernelNs);
        ThreadStates states(PID, false, 1000);
        states.Place(PID, PID, "t", false, 0, 1000);
        ClockCheck clock(0);
        SchedstatFiles files(root.string());
        if (c.countFromFirst)
            clock.CountFromFirstReading(1);
        const auto read = [&](std::uint64_t kernelNs) {
            std::ofstream(task / "schedstat") << kernelNs << " 0 0\n";
            files.NextRound();
            clock.Read(states, files);
            clock.Compare(states);
        };
        states.Apply(Switch(2'000, RecordKind::SwitchIn));
        states.Apply(Switch(5'000, RecordKind::SwitchOut));
        read(8'000);
        states.Apply(Switch(6'000, RecordKind::SwitchIn));
        states.Apply(Switch(16'000, RecordKind::SwitchOut));
        read(c.secondKernelNs);
        Profile profile;
        clock.Finish(std::nullopt, 0, profile);
        EXPECT_EQ(profile.kernelClock.threads, 1u);
        EXPECT_EQ(profile.kernelClock.reason, c.reason);
    }
    std::filesystem::remove_all(root);
}

} // namespace
