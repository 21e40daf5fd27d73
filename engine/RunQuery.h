#pragma once
// What the probe and the sampled run share: a query that closes itself, the
// target's start with its first collection, and timing in nanoseconds.

#include "Pdh.h"
#include "RunTarget.h"
#include "SampledRun.h"

#include "CString.h"

#include <chrono>
#include <cstdint>

std::uint64_t Nanoseconds(std::chrono::nanoseconds span);
// Sleeps for the span and returns the sleep's end: the instant the
// collection that follows belongs to, however late the sampler wakes.
std::uint64_t SleepFor(std::chrono::nanoseconds span);

// The instants a run samples at, fixed from its start: start + k * interval.
// A sampler that wakes late, or whose collection outlasts the interval, is
// excused no instant: it takes each one due at once, which the counters date
// back to its instant where they can (switch records), else take as late as
// it is (/proc, whose rates run over the real length of the interval). Only
// instants further back than the counters date are passed over.
//
//   start    k=1       k=2       k=3       k=4
//     |---------|---------|---------|---------|
//               1 ..................^ woke late: 2 and 3 at once, then sleeps until 4
class SampleSchedule {
public:
    SampleSchedule(std::uint64_t startNs, std::chrono::nanoseconds interval);
    // Sleeps until the next instant (not at all when it has passed) and returns it.
    std::uint64_t Next();

private:
    std::uint64_t m_intervalNs;
    std::uint64_t m_nextNs;
};

bool ReadValue(CounterService& counters, PDH_HCOUNTER counter, double& value);

// Opens a query and closes it with its counters when it goes.
class Query {
public:
    explicit Query(CounterService& counters) : m_counters(counters) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query()
    {
        if (m_query)
            m_counters.CloseQuery(m_query);
    }

    PDH_STATUS Open()
    {
        const PDH_STATUS status = m_counters.OpenQuery(&m_query);
        if (status != ERROR_SUCCESS)
            m_query = nullptr;
        return status;
    }
    PDH_STATUS Add(const CString& path, PDH_HCOUNTER& counter) { return m_counters.AddCounter(m_query, path, &counter); }
    // Starts the target and gives the query's rates their base a second later.
    PDH_STATUS StartAndSettle(RunTarget& target, const std::string& appPath, const std::string& arguments);
    PDH_STATUS Collect(std::uint64_t instantNs) { return m_counters.CollectQueryData(m_query, instantNs); }

private:
    CounterService& m_counters;
    PDH_HQUERY m_query = nullptr;
};

// Starts the target with the observer's arguments; a failed start is told
// here, in the flow's own box, and the run goes on to find no target.
bool StartTarget(RunTarget& target, const RunSettings& settings, RunObserver& observer, Query& query,
                 PDH_STATUS& status);
