#pragma once
// What the context-switch records of one measured span say, exactly: how long
// each number of the measured threads was on a processor at once, and each
// thread's on-processor and waiting time, as a whole and per interval window.

#include "DemandAnalysis.h"
#include "Stretches.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One thread's share of one window.
struct WindowShare {
    std::size_t window = 0;
    std::uint64_t onCpuNs = 0;
    std::uint64_t waitingNs = 0;
};

struct ThreadProfile {
    int tid = 0;
    int pid = 0;
    std::string name;
    std::uint64_t onCpuNs = 0;
    std::uint64_t waitingNs = 0;  // runnable, switched out by preemption, until its next switch-in
    std::uint64_t bornNs = 0;     // the span's start for a thread that was there before it
    std::uint64_t endedNs = 0;    // the span's end for a thread still alive then
    std::vector<WindowShare> windows;  // the windows it ran or waited in, in order

    std::uint64_t LifetimeNs() const { return endedNs - bornNs; }
};

struct WindowProfile {
    std::uint64_t startNs = 0;  // since the span's start
    std::uint64_t lengthNs = 0; // the interval, shorter for the last window
    std::vector<std::uint64_t> levelNs;  // time at 0..N threads on a processor
    std::uint64_t onCpuNs = 0;
    unsigned threadsAlive = 0;  // threads alive at any moment of the window
};

// The records' processor times held against the kernel's own clock (the
// one time and getrusage report), which says whether the figures are exact.
struct KernelClockCheck {
    bool compared = false;          // false: nothing to compare with (the /proc estimate)
    unsigned threads = 0;           // threads compared, each at its latest reading
    unsigned threadsApart = 0;      // of those, beyond the tolerance
    // Of the threads beyond the tolerance, the records' largest difference
    // from a thread's clock, in percent and in time.
    double worstThreadPercent = 0;
    std::uint64_t worstThreadNs = 0;
    bool totalCompared = false;     // the command's total against the kernel's
    double totalPercent = 0;        // (records - kernel) / kernel, in percent
    std::string reason;             // why the figures are not exact; empty when they agree
};

struct Profile {
    std::uint64_t startNs = 0;  // CLOCK_MONOTONIC
    std::uint64_t endNs = 0;
    std::uint64_t intervalNs = 0;
    std::vector<std::uint64_t> levelNs;  // 0..N, N the most threads ever on a processor at once
    std::vector<ThreadProfile> threads;  // in the order they appeared
    std::vector<WindowProfile> windows;
    unsigned processes = 0;
    std::uint64_t lostRecords = 0;  // dropped by the kernel: the figures are then inexact
    // Sampled from /proc: processor time of threads that ended between two
    // reads, in the process's total but in no thread's figure.
    std::uint64_t endedUnreadNs = 0;
    KernelClockCheck kernelClock;
    KeptStretches stretches;        // only when asked for, for the trace
    Demand demand;  // runnable threads, serial stretches, where each thread's life went

    std::uint64_t ElapsedNs() const { return endNs - startNs; }
    std::uint64_t OnCpuNs() const;
};
