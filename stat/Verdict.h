#pragma once
// Why not more parallel, in figures and in one line: from the demand beside
// the supply (core/DemandAnalysis), the class that limits the command and
// the ceilings on its speedup. The rules are in the man page, "Reading the
// verdict".

#include "Profile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Limit { Serial, Starved, Blocked, Parallel };

struct DemandSummary {
    bool known = false;  // from the switch records (not from /proc samples)
    std::vector<unsigned> runnableHundredths;  // 0..N runnable threads, summing to 10000
    double starvedPercent = 0;                 // of the elapsed time
    double oversubscribedPercent = 0;
    double waitingPercent = 0;  // of the threads' runnable time (on a processor or waiting)
    double unlimitedCeiling = 1;  // speedup with a processor for every runnable thread
    double machineCeiling = 1;    // with the processors the command could use
    std::uint64_t onCpuNs = 0, waitingNs = 0, blockedNs = 0, lifetimeNs = 0;  // all threads
    double handOversPerSecond = 0;  // all threads' switch-outs that blocked
    Limit limit = Limit::Parallel;
    Limit shape = Limit::Parallel;  // the command's own, from the threads wanting a processor
    std::string verdict;  // one line, without a newline; "" when not known
};

// idleNs: how long the processors it may use were idle during the run; nullopt when not known.
DemandSummary SummarizeDemand(const Profile& profile, bool fromRecords, std::optional<std::uint64_t> idleNs);

const char* LimitName(Limit limit);  // "serial", "starved", "blocked", "parallel"
// Hand-overs per second of a thread's life.
double HandOversPerSecond(const ThreadDemand& thread);
