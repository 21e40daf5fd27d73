#pragma once
// Each thread's life as stretches (on a processor, waiting for one,
// blocked), kept for the trace up to a fixed number: the trace of a long,
// busy run shows its beginning in full, and says where that ends.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct ThreadStretch {
    enum class State : std::uint8_t { OnCpu, Waiting, Blocked };
    int tid = 0;
    int pid = 0;
    int cpu = -1;  // on a processor: which; else -1
    State state = State::OnCpu;
    std::uint64_t startNs = 0;  // CLOCK_MONOTONIC
    std::uint64_t endNs = 0;
};

struct KeptStretches {
    std::vector<ThreadStretch> stretches;  // each thread's in time order
    std::uint64_t leftOut = 0;
    // Every stretch that ended before this was kept (UINT64_MAX: all were).
    std::uint64_t completeUntilNs = UINT64_MAX;
};

class StretchLog {
public:
    // 500,000 stretches: 16 MB here and about 50 MB of trace.
    static constexpr std::size_t BUDGET = 500'000;
    explicit StretchLog(std::size_t budget = BUDGET) : m_budget(budget) {}

    // A thread's on-CPU and waiting stretches come in time order; the gaps
    // between them, up to its End, are blocked.
    void Add(const ThreadStretch& stretch);
    void End(int tid, std::uint64_t timeNs);
    KeptStretches Take() { return std::move(m_kept); }

private:
    struct Last {
        int pid = 0;
        std::uint64_t endNs = 0;
    };
    void Keep(const ThreadStretch& stretch);

    const std::size_t m_budget;
    KeptStretches m_kept;
    std::unordered_map<int, Last> m_last;  // by tid: where its last stretch ended
};
