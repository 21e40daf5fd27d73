#pragma once
// The probe run that finds how many threads the target uses, so that the
// sampled run can set up one counter pair per thread before it starts.

#include "RunQuery.h"

class ThreadProbe {
public:
    ThreadProbe(const RunSettings& settings, RunObserver& observer, CounterService& counters);

    // False when the run cannot go on; maxThreads is the most threads seen.
    bool Run(double& maxThreads);

private:
    bool Fail(const char* text);
    bool StartWatching();
    void Sample(std::uint64_t startNs, double& maxThreads);
    // Closes the probe's capture window; its target ends with the probe.
    bool Finish();

    const RunSettings& m_settings;
    RunObserver& m_observer;
    CounterService& m_counters;
    Query m_query;
    RunTarget m_target;
    PDH_HCOUNTER m_threadCount = nullptr;
    bool m_ok = true;
    int m_samples = 0;
};
