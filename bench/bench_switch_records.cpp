// The exact thread-state source: what one collection costs the sampler, and
// what the attached records cost the target.

#include "HeldChild.h"
#include "SwitchRecords.h"
#include "TaskCensus.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WIDE_THREADS = 200;

std::uint64_t NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(now.tv_nsec);
}

void SleepUntil(std::uint64_t instantNs)
{
    const timespec until{static_cast<time_t>(instantNs / 1'000'000'000), static_cast<long>(instantNs % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

// 2 busy threads and 197 sleepers: 200 threads in all.
std::vector<std::string> WideDemo()
{
    return {QUORVEX_DEMO, "--phases", "2", "--phase-ms", "600000", "--sleepers", std::to_string(WIDE_THREADS - 3)};
}

// One collection at the end of each interval's sleep; only the collection is
// timed. Counters give the median and the 90th percentile in microseconds.
void BM_CollectWideTarget(benchmark::State& state)
{
    const std::uint64_t intervalNs = static_cast<std::uint64_t>(state.range(0)) * 1'000'000;
    HeldChild child(WideDemo());
    std::string whyNot;
    const auto source = SwitchRecordSource::Attach(child.Pid(), &whyNot);
    if (!source || !child.Release()) {
        state.SkipWithError(("no switch records: " + whyNot).c_str());
        return;
    }
    ActivitySnapshot snapshot;
    std::uint64_t instant = NowNs();
    while (snapshot.threads.size() < WIDE_THREADS) {
        instant += intervalNs;
        SleepUntil(instant);
        source->Collect(instant, snapshot);
    }
    std::vector<double> micros;
    for (auto _ : state) {
        instant += intervalNs;
        SleepUntil(instant);
        const std::uint64_t begin = NowNs();
        const auto status = source->Collect(instant, snapshot);
        const std::uint64_t end = NowNs();
        if (status != ThreadActivitySource::Status::Ok) {
            state.SkipWithError("the target ended early");
            return;
        }
        state.SetIterationTime(static_cast<double>(end - begin) / 1e9);
        micros.push_back(static_cast<double>(end - begin) / 1e3);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p90_us"] = Percentile(micros, 0.9);
    state.counters["threads"] = static_cast<double>(snapshot.threads.size());
}
BENCHMARK(BM_CollectWideTarget)->Arg(1)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CollectWideTarget)->Arg(100)->Iterations(40)->UseManualTime()->Unit(benchmark::kMicrosecond);

// For scale: a /proc census of the same target (state and schedstat of each
// thread, files opened afresh), what the source reads after lost records.
void BM_ProcCensusWideTarget(benchmark::State& state)
{
    HeldChild child(WideDemo());
    child.Release();
    while (ReadTaskCensus("/proc", child.Pid()).size() < WIDE_THREADS)
        usleep(10'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadTaskCensus("/proc", child.Pid()));
}
BENCHMARK(BM_ProcCensusWideTarget)->Iterations(200)->Unit(benchmark::kMicrosecond);

// Runs the demo's four busy threads (twice as many as this machine's two
// processors: the most context switches, so the most records) for 1.5 s
// while sampling every 100 ms, and returns the work it reports.
double DemoWork(bool attached)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return 0;
    HeldChildOptions options;
    options.outputFd = out[1];
    HeldChild child({QUORVEX_DEMO, "--phases", "4", "--phase-ms", "1500", "--sleepers", "2", "--report"}, options);
    close(out[1]);
    std::string whyNot;
    const auto source = attached ? SwitchRecordSource::Attach(child.Pid(), &whyNot) : nullptr;
    if (attached && !source)
        return 0;
    child.Release();
    ActivitySnapshot snapshot;
    for (std::uint64_t instant = NowNs() + 100'000'000; source; instant += 100'000'000) {
        SleepUntil(instant);
        if (source->Collect(instant, snapshot) != ThreadActivitySource::Status::Ok)
            break;
    }
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    child.Wait();
    const size_t work = report.find("work ");
    return work == std::string::npos ? 0 : std::strtod(report.c_str() + work + 5, nullptr);
}

// Pairs of runs, with and without the records, in alternating order so that
// the machine's other load drifts evenly over both; the counter is the
// median of the pairs' throughput ratios (attached / not attached).
void BM_AttachCostToTarget(benchmark::State& state)
{
    std::vector<double> ratios;
    for (auto _ : state) {
        const bool attachedFirst = ratios.size() % 2 == 0;
        const double first = DemoWork(attachedFirst);
        const double second = DemoWork(!attachedFirst);
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
