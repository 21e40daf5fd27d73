#pragma once
// Each thread's life as the core's thread-state machine tells it (on a
// processor, waiting for one, asleep), kept for the trace up to a fixed
// number: the trace of a long, busy run shows its beginning in full, and
// says where that ends.

#include "ThreadStates.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct ThreadStretch {
    int tid = 0;
    int pid = 0;
    int cpu = -1;  // on a processor: which, when known; else -1
    ThreadState state = ThreadState::OnCpu;
    std::uint64_t startNs = 0;  // CLOCK_MONOTONIC
    std::uint64_t endNs = 0;
};

struct KeptStretches {
    std::vector<ThreadStretch> stretches;  // each thread's in time order
    std::uint64_t leftOut = 0;
    // Every stretch that ended before this was kept (UINT64_MAX: all were).
    std::uint64_t completeUntilNs = UINT64_MAX;
};

class StretchLog : public ThreadStateObserver {
public:
    // 500,000 stretches: 16 MB here and under 50 MB of trace.
    static constexpr std::size_t BUDGET = 500'000;
    explicit StretchLog(std::size_t budget = BUDGET) : m_budget(budget) {}

    void Stretch(const TrackedThread& thread, ThreadState state, std::uint64_t fromNs, std::uint64_t toNs) override;
    // A thread ends asleep; that last stretch closes here.
    void Ended(const TrackedThread& thread, std::uint64_t timeNs) override;
    KeptStretches Take() { return std::move(m_kept); }

private:
    const std::size_t m_budget;
    KeptStretches m_kept;
};
