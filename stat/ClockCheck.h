#pragma once
// Holds the records' on-CPU time of each thread against the kernel's own
// clock (/proc/<pid>/task/<tid>/schedstat, read while the thread lives),
// and the command's total against what the kernel gave its reaped
// processes. Agreement within KERNEL_CLOCK_TOLERANCE plus
// KERNEL_CLOCK_SLACK_NS per switch-in dated by estimate (not a hand-over,
// which is dated exactly) and once for the reading (the two clocks are read
// a moment apart, and the kernel's leaves out interrupts) is what "exact"
// means.

#include "Profile.h"
#include "SchedstatFiles.h"
#include "ThreadStates.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

constexpr double KERNEL_CLOCK_TOLERANCE = 0.005;
constexpr std::uint64_t KERNEL_CLOCK_SLACK_NS = 2'000;

class ClockCheck {
public:
    // The first thread (the states' first) had used heldCpuNs before the
    // records' span began.
    explicit ClockCheck(std::uint64_t heldCpuNs) : m_heldCpuNs(heldCpuNs) {}

    // The states' first `threads` threads were running before the span, for
    // an unknown time: each is held against the kernel's clock from its
    // first comparison on, which sets where both count from.
    void CountFromFirstReading(std::size_t threads) { m_runningBefore = threads; }

    // The kernel's clock of one thread now; 0 when it cannot be read.
    static std::uint64_t ThreadCpuNs(int pid, int tid, const std::string& procRoot = "/proc");

    // Reads the kernel's clock of every live thread now, from files (the
    // states have reached an earlier instant).
    void Read(const ThreadStates& states, SchedstatFiles& files);
    // The instant of the latest readings not yet compared, if any: the
    // states must reach it before Compare.
    std::optional<std::uint64_t> PendingNs() const;
    // Compares those readings with the states, now at their instant. Only
    // threads off their processor all through the reading count: the kernel
    // adds a running stretch only at the next switch or tick.
    void Compare(const ThreadStates& states);
    // The verdict into profile.kernelClock; kernelTotalNs when the kernel's
    // total for the measured processes is known (held time included).
    void Finish(std::optional<std::uint64_t> kernelTotalNs, std::uint64_t switchIns, Profile& profile) const;

    // Within the tolerance, for switchIns switches dated by estimate; the
    // records may fall short by unseenNs more, which the kernel may have
    // charged before a switch-in (a new thread's wait for its first run).
    static bool Agrees(std::uint64_t recordsNs, std::uint64_t kernelNs, std::uint64_t switchIns,
                       std::uint64_t unseenNs = 0);

private:
    struct Reading {
        std::size_t serial;
        int tid;
        std::uint64_t kernelNs;
    };
    struct Compared {
        std::uint64_t recordsNs;
        std::uint64_t kernelNs;
        std::uint64_t switchIns;
        std::uint64_t unseenNs;
    };

    const std::uint64_t m_heldCpuNs;
    std::size_t m_runningBefore = 0;
    std::map<std::size_t, Compared> m_baselines;  // of those, by serial
    std::vector<Reading> m_readings;
    std::uint64_t m_readStartNs = 0;
    std::uint64_t m_readNs = 0;  // when the readings were all taken
    std::map<std::size_t, Compared> m_compared;  // each thread's latest, by serial
};
