// What measuring costs, on real targets. Run it on an otherwise quiet machine:
//
//     ./build/bench/bench_collection
//
// BM_Collection: one collection of a target of 1, 16 or 200 threads (mostly
// sleeping, a few spinning): PdhCollectQueryData and a read of every counter
// the sampling run reads, through the real counter service, with thread
// states from /proc or from the context-switch records. With an interval,
// each collection follows a Sleep of that length, as in the sampling run
// (the records of the whole interval are drained then); without one, the
// collections follow each other. median_us is the median of the collections.
//
// BM_SampleRate: the sampling run's loop at 1 ms (sleep, time stamp, collect,
// read every counter and, with a data log, format the record) on a 199-thread
// target, from either source; rate_percent is the share of the nominal 1000
// samples a second reached.
//
// BM_AttachCostToTarget: the demo's throughput with the records attached and
// collected every 100 ms, against a run with nothing attached.

#include "DataLog.h"
#include "Pdh.h"
#include "ProcCounterService.h"
#include "Process.h"
#include "Timing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kName = "quorvex-demo";
const std::string kExactNotice = "quorvex: thread states from the kernel's context-switch records";

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

BOOL Start(std::string commandLine, PROCESS_INFORMATION& pi, ProcessStartHook attach = nullptr)
{
    STARTUPINFOA startupInfo = {sizeof startupInfo, std::move(attach)};
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo, &pi);
}

void End(PROCESS_INFORMATION& pi)
{
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

// The counter service of the benchmark's own, which keeps its notices.
struct Service {
    std::vector<std::string> notices;
    ProcCounterService counters{[this](const std::string& line) { notices.push_back(line); }};
};

// A query with the process's two counters and a pair per thread.
class Query {
public:
    Query(Service& service, int threads) : m_counters(service.counters)
    {
        m_counters.OpenQuery(&m_query);
        Add("\\Process(" + kName + ")\\% Processor Time");
        Add("\\Process(" + kName + ")\\Thread Count");
        for (int i = 0; i < threads; ++i) {
            const std::string instance = "\\Thread(" + kName + "/" + std::to_string(i) + ")\\";
            Add(instance + "% Processor Time");
            Add(instance + "Thread State");
        }
    }
    ~Query() { m_counters.CloseQuery(m_query); }

    // The number of counters that could be read.
    int Collect()
    {
        CollectOnly();
        int read = 0;
        double value = 0;
        for (int i = 0; i < Counters(); ++i) {
            if (Read(i, value))
                ++read;
            benchmark::DoNotOptimize(value);
        }
        return read;
    }

    void Bind(HANDLE process) { m_counters.BindQuery(m_query, process); }
    PDH_STATUS CollectOnly() { return m_counters.CollectQueryData(m_query, MonotonicNowNs()); }

    int Counters() const { return static_cast<int>(m_handles.size()); }
    bool Read(int i, double& value) { return m_counters.GetCounterValue(m_handles[static_cast<size_t>(i)], &value) == ERROR_SUCCESS; }

private:
    void Add(const std::string& path)
    {
        PDH_HCOUNTER counter;
        if (m_counters.AddCounter(m_query, path.c_str(), &counter) == ERROR_SUCCESS)
            m_handles.push_back(counter);
    }

    CounterService& m_counters;
    PDH_HQUERY m_query = nullptr;
    std::vector<PDH_HCOUNTER> m_handles;
};

std::string DemoCommandLine(int threads, int busy)
{
    const int sleepers = threads - 1 - busy;
    return std::string(QUORVEX_DEMO) + " --phases " + std::to_string(busy) + " --phase-ms 600000 --sleepers " +
           std::to_string(sleepers);
}

// A demo of the given shape, started with or without the records.
class MeasuredTarget {
public:
    MeasuredTarget(Service& service, int threads, int busy, bool exact) : m_query(service, threads)
    {
        if (!exact)
            setenv("QUORVEX_THREAD_STATES", "proc", 1);
        m_started = Start(DemoCommandLine(threads, busy), m_pi);
        unsetenv("QUORVEX_THREAD_STATES");
        m_query.Bind(m_pi.hProcess);
        Sleep(500);
        m_started = m_started && m_query.CollectOnly() == ERROR_SUCCESS;
    }
    ~MeasuredTarget() { End(m_pi); }

    bool Started() const { return m_started; }
    Query& Counters() { return m_query; }

private:
    Query m_query;
    PROCESS_INFORMATION m_pi = {};
    bool m_started = false;
};

void BM_Collection(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    const bool exact = state.range(2) != 0;
    const DWORD intervalMs = static_cast<DWORD>(state.range(3));
    Service service;
    MeasuredTarget target(service, threads, static_cast<int>(state.range(1)), exact);
    if (!target.Started() || target.Counters().Collect() != target.Counters().Counters()) {
        state.SkipWithError("the demo did not start with the expected threads");
        return;
    }
    if (exact && service.notices != std::vector<std::string>{kExactNotice}) {
        state.SkipWithError(service.notices.empty() ? "no notice" : service.notices.front().c_str());
        return;
    }
    std::vector<double> microseconds;
    for (auto _ : state) {
        if (intervalMs > 0)
            Sleep(intervalMs);
        const std::uint64_t start = MonotonicNowNs();
        const int read = target.Counters().Collect();
        const std::uint64_t end = MonotonicNowNs();
        if (read != target.Counters().Counters()) {
            state.SkipWithError("a counter could not be read");
            return;
        }
        state.SetIterationTime(static_cast<double>(end - start) / 1e9);
        microseconds.push_back(static_cast<double>(end - start) / 1000);
    }
    state.counters["median_us"] = Percentile(microseconds, 0.5);
    state.counters["p90_us"] = Percentile(microseconds, 0.9);
    state.counters["threads"] = threads;
}

BENCHMARK(BM_Collection)
    ->ArgNames({"threads", "busy", "exact", "interval_ms"})
    ->Args({1, 0, 0, 0})
    ->Args({16, 2, 0, 0})
    ->Args({200, 2, 0, 0})
    ->Args({200, 1, 0, 0})
    ->Args({200, 2, 1, 0})
    ->UseManualTime()
    ->MinTime(2.0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Collection)
    ->ArgNames({"threads", "busy", "exact", "interval_ms"})
    ->Args({200, 2, 1, 1})
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Collection)
    ->ArgNames({"threads", "busy", "exact", "interval_ms"})
    ->Args({200, 2, 0, 100})
    ->Args({200, 2, 1, 100})
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// One sample as the sampling run takes it; with a log, its record formatted
// and dropped.
bool SampleOnce(Query& query, int threads, bool log)
{
    Sleep(1);
    SYSTEMTIME stamp;
    GetLocalTime(&stamp);
    if (query.CollectOnly() != ERROR_SUCCESS)
        return false;
    CString record = log ? DataLogRecord(stamp) : CString();
    double value = 0;
    for (int i = 0; i < 2 + 2 * threads; ++i) {
        query.Read(i, value);
        if (log && i >= 2 && i % 2 == 1)
            AppendThread(record, 0, static_cast<int>(value));
    }
    benchmark::DoNotOptimize(record);
    return true;
}

void BM_SampleRate(benchmark::State& state)
{
    constexpr int kThreads = 199;
    const bool exact = state.range(0) != 0;
    const bool log = state.range(1) != 0;
    Service service;
    MeasuredTarget target(service, kThreads, 2, exact);
    if (!target.Started() || target.Counters().Collect() != target.Counters().Counters()) {
        state.SkipWithError("the demo did not start with the expected threads");
        return;
    }
    int samples = 0;
    const std::uint64_t start = MonotonicNowNs();
    for (auto _ : state) {
        if (!SampleOnce(target.Counters(), kThreads, log)) {
            state.SkipWithError("a collection failed");
            return;
        }
        ++samples;
    }
    const double seconds = static_cast<double>(MonotonicNowNs() - start) / 1e9;
    state.counters["rate_percent"] = samples / seconds / 1000 * 100;
}
BENCHMARK(BM_SampleRate)
    ->ArgNames({"exact", "log"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

// Standard output goes to a pipe while the demo is started, so that the
// demo's report lands there.
BOOL StartReporting(std::string commandLine, PROCESS_INFORMATION& pi, int& report, ProcessStartHook attach)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return FALSE;
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(out[1], STDOUT_FILENO);
    const BOOL started = Start(std::move(commandLine), pi, std::move(attach));
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(out[1]);
    report = out[0];
    return started;
}

double ReportedWork(int report)
{
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(report, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(report);
    const size_t work = text.find("work ");
    return work == std::string::npos ? 0 : std::strtod(text.c_str() + work + 5, nullptr);
}

// The demo's four busy threads (twice as many as this machine's two
// processors: the most context switches, so the most records) for 1.5 s;
// attached, sampled every 100 ms as the sampling run samples. The work it
// reports, 0 when the records could not be had.
double DemoWork(bool attached, Service& service)
{
    ProcessStartHook attach = nullptr;
    if (!attached)
        attach = [](int, std::string& whyNot) -> std::unique_ptr<ThreadActivitySource> {
            whyNot = "not attached";
            return nullptr;
        };
    service.notices.clear();
    Query query(service, 7);
    PROCESS_INFORMATION pi = {};
    int report = -1;
    const BOOL started = StartReporting(std::string(QUORVEX_DEMO) + " --phases 4 --phase-ms 1500 --sleepers 2 --report",
                                        pi, report, std::move(attach));
    if (!started)
        return 0;
    query.Bind(pi.hProcess);
    while (attached && query.CollectOnly() != PDH_NO_DATA)
        Sleep(100);
    const double work = ReportedWork(report);
    End(pi);
    return !attached || service.notices == std::vector<std::string>{kExactNotice} ? work : 0;
}

// Pairs of runs, with and without the records, in alternating order so that
// the machine's other load drifts evenly over both; the counter is the
// median of the pairs' throughput ratios (attached / not attached).
void BM_AttachCostToTarget(benchmark::State& state)
{
    Service service;
    std::vector<double> ratios;
    for (auto _ : state) {
        const bool attachedFirst = ratios.size() % 2 == 0;
        const double first = DemoWork(attachedFirst, service);
        const double second = DemoWork(!attachedFirst, service);
        const double attached = attachedFirst ? first : second;
        const double plain = attachedFirst ? second : first;
        if (attached <= 0 || plain <= 0) {
            state.SkipWithError("the demo reported no work, or no switch records here");
            return;
        }
        ratios.push_back(attached / plain);
    }
    state.counters["throughput_ratio"] = Percentile(ratios, 0.5);
    state.counters["ratio_min"] = Percentile(ratios, 0.0);
    state.counters["ratio_max"] = Percentile(ratios, 1.0);
}
BENCHMARK(BM_AttachCostToTarget)->Iterations(16)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
