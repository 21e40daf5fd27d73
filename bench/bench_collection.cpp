// One collection of a real target: PdhCollectQueryData and a read of every
// counter the sampling run reads, for targets of 1, 16 and 200 threads
// (mostly sleeping, a few spinning). Run it on an otherwise quiet machine:
//
//     ./build/bench/bench_collection
//
// median_us is the median of the single collections.

#include "Pdh.h"
#include "Process.h"
#include "Timing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string kName = "quorvex-demo";

std::string DemoCommandLine(int threads, int busy)
{
    const int sleepers = threads - 1 - busy;
    return std::string(QUORVEX_DEMO) + " --phases " + std::to_string(busy) + " --phase-ms 600000 --sleepers " +
           std::to_string(sleepers);
}

class MeasuredTarget {
public:
    MeasuredTarget(int threads, int busy)
    {
        PdhOpenQueryA(nullptr, 0, &m_query);
        Add("\\Process(" + kName + ")\\% Processor Time");
        Add("\\Process(" + kName + ")\\Thread Count");
        for (int i = 0; i < threads; ++i) {
            const std::string instance = "\\Thread(" + kName + "/" + std::to_string(i) + ")\\";
            Add(instance + "% Processor Time");
            Add(instance + "Thread State");
        }
        STARTUPINFOA startupInfo = {};
        startupInfo.cb = sizeof startupInfo;
        std::string commandLine = DemoCommandLine(threads, busy);
        m_started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startupInfo, &m_pi);
        Sleep(500);
        m_started = m_started && PdhCollectQueryData(m_query) == ERROR_SUCCESS;
    }

    ~MeasuredTarget()
    {
        PdhCloseQuery(m_query);
        TerminateProcess(m_pi.hProcess, 0);
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
    }

    bool Started() const { return m_started; }

    // The number of counters that could be read.
    int Collect()
    {
        PdhCollectQueryData(m_query);
        int read = 0;
        PDH_FMT_COUNTERVALUE value;
        for (PDH_HCOUNTER counter : m_counters) {
            if (PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value) == ERROR_SUCCESS)
                ++read;
            benchmark::DoNotOptimize(value.doubleValue);
        }
        return read;
    }

    int Counters() const { return static_cast<int>(m_counters.size()); }

private:
    void Add(const std::string& path)
    {
        PDH_HCOUNTER counter;
        if (PdhAddCounterA(m_query, path.c_str(), 0, &counter) == ERROR_SUCCESS)
            m_counters.push_back(counter);
    }

    PDH_HQUERY m_query = nullptr;
    std::vector<PDH_HCOUNTER> m_counters;
    PROCESS_INFORMATION m_pi = {};
    bool m_started = false;
};

void BM_Collection(benchmark::State& state)
{
    MeasuredTarget target(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!target.Started() || target.Collect() != target.Counters()) {
        state.SkipWithError("the demo did not start with the expected threads");
        return;
    }
    std::vector<double> microseconds;
    for (auto _ : state) {
        const std::uint64_t start = MonotonicNowNs();
        benchmark::DoNotOptimize(target.Collect());
        microseconds.push_back(static_cast<double>(MonotonicNowNs() - start) / 1000);
    }
    std::nth_element(microseconds.begin(), microseconds.begin() + microseconds.size() / 2, microseconds.end());
    state.counters["median_us"] = microseconds[microseconds.size() / 2];
    state.counters["threads"] = static_cast<double>(state.range(0));
}

} // namespace

BENCHMARK(BM_Collection)
    ->ArgNames({"threads", "busy"})
    ->Args({1, 0})
    ->Args({16, 2})
    ->Args({200, 2})
    ->Args({200, 1})
    ->UseRealTime()
    ->MinTime(2.0)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
