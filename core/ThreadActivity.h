#pragma once
// What the counter service needs to know of a target's threads at one
// instant. Two sources provide it: the kernel's context-switch records
// (exact) and /proc (an estimate: state R means running or waiting to run).

#include <cstdint>
#include <vector>

// How long before a Collect its instant may lie: a collection belongs to the
// end of the sleep just before it, not to one that ended long ago.
constexpr std::uint64_t MAX_INSTANT_AGE_NS = 500'000'000;

struct ThreadActivity {
    int tid;
    bool onProcessor;     // on a processor at the instant
    std::uint64_t cpuNs;  // processor time used so far
    std::uint64_t readNs; // CLOCK_MONOTONIC, when cpuNs was true: a rate runs between two of these
    std::uint64_t waitingNs = 0;  // time runnable on a run queue so far, where the source knows it
    int pid = 0;  // its process, where the source reads several; 0: the source's one process
};

struct ActivitySnapshot {
    std::uint64_t processCpuNs = 0;        // includes threads that have ended
    std::uint64_t processReadNs = 0;       // when processCpuNs was true
    std::uint64_t childrenCpuNs = 0;       // of the children it waited for, where the source knows it
    std::vector<ThreadActivity> threads;   // live threads, ascending tid
};

class ThreadActivitySource {
public:
    enum class Status {
        Ok,
        Gone,  // the process has exited (the process's figures may still be filled in)
        Lost,  // this source can no longer tell; use another
    };

    virtual ~ThreadActivitySource() = default;
    // The process's threads at instantNs (CLOCK_MONOTONIC, not in the
    // future, at most MAX_INSTANT_AGE_NS in the past).
    virtual Status Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot) = 0;
};
