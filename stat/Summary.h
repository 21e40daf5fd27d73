#pragma once
// The headline figures of a profile, in the units every output shows them
// in: milliseconds, and percent of the span (100 % CPU = one processor).

#include "Profile.h"
#include "Verdict.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the figures were obtained and how the command ended.
struct RunFacts {
    std::vector<std::string> command;
    int exitStatus = 0;  // what quorvex-stat exits with: 128 + signal when killed
    int signal = 0;      // the signal that ended the command, 0 if it exited
    bool fromRecords = true;  // false: /proc sampled at the interval
    // What -r, --compare and --fail-if add: sections at the end of the
    // report, and members of the JSON object ("  \"key\": value,\n" each).
    std::string reportSections;
    std::string jsonMembers;
    unsigned processorsAllowed = 0;  // those the command could run on (its affinity); 0: not known
    unsigned processorsOnline = 0;   // the machine's
    std::optional<std::uint64_t> idleNs;  // the processors it could use, idle during the run (/proc/stat)
    std::size_t stretches = 5;  // the longest serial stretches shown
};

struct Summary {
    double elapsedMs = 0;
    double cpuAvg = 0;
    double cpuMin = 0;  // over the interval windows, the shorter last one included; cpuAvg lies between
    double cpuMax = 0;
    double averageConcurrency = 0;
    std::vector<unsigned> levelHundredths;  // hundredths of a percent, 0..N, summing to 10000
    unsigned parallelHundredths = 0;        // levels 2..N
    bool exact = true;
    DemandSummary demand;
    bool exactTotals = true;  // each thread's on-CPU and waiting time, and the CPU total
};

Summary Summarize(const Profile& profile, const RunFacts& facts);

// Shares of whole in hundredths of a percent that add up to exactly 10000
// (the largest remainders are rounded up), so no table sums to 99.99.
std::vector<unsigned> HundredthsOf(const std::vector<std::uint64_t>& parts, std::uint64_t whole);

double Ms(std::uint64_t ns);
double Percent(std::uint64_t part, std::uint64_t whole);
std::string SignalName(int signal);  // "SIGSEGV"
