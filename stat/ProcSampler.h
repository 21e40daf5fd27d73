#pragma once
// The /proc estimate, for when the kernel refuses context-switch records:
// each sample of a process's threads becomes the switch records that would
// have led to it, so the rest of quorvex-stat is the same for both sources.
// State R counts as on a processor (it also means waiting for one), and a
// thread's on-CPU time is its own counter's, not the sum of its samples.

#include "ProfileBuilder.h"
#include "ThreadActivity.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

class ProcSampler {
public:
    // pid's first thread is already known to the builder. An attached
    // process's threads count their processor time from the first sample.
    ProcSampler(int pid, ThreadActivitySource& source, bool countFromFirstSample);

    // Samples at instantNs and hands the changes to builder; false once the
    // process is gone or cannot be read.
    bool Sample(std::uint64_t instantNs, ProfileBuilder& builder);
    // Gives each thread of the finished profile the processor time its own
    // counter last showed, and each window the processor time the counters
    // show over it, so that the CPU figures of the windows and of the whole
    // agree (the sampled states would count waiting threads as running).
    void PatchOnCpu(Profile& profile) const;

private:
    std::uint64_t UsedAt(std::uint64_t timeNs, std::uint64_t startNs) const;

    struct Seen {
        bool onProcessor = false;
        std::uint64_t cpuNs = 0;
    };

    const int m_pid;
    ThreadActivitySource& m_source;
    std::map<int, Seen> m_threads;  // live at the last sample, by tid
    std::map<int, std::uint64_t> m_lastCpuNs;  // every thread seen, by tid
    std::map<int, std::uint64_t> m_baseCpuNs;  // used before the first sample, when attached
    bool m_baseNeeded;
    // The processor time of every thread seen, at each sample.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_usedAt;
};
