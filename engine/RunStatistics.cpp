#include "RunStatistics.h"

void RunAccumulators::UpdateExtremes(double value, double& min, double& max) const
{
    if (firstSample) {
        min = max = value;
        return;
    }
    if (value < min)
        min = value;
    if (value > max)
        max = value;
}

void RunAccumulators::AddProcessCpu(double value)
{
    cpuSum += value;
    UpdateExtremes(value, cpuMin, cpuMax);
}

void RunAccumulators::AddThreadCount(double value)
{
    threadsSum += value;
    UpdateExtremes(value, threadsMin, threadsMax);
}

void RunAccumulators::AddThreadRunning(int thread)
{
    ++threads[static_cast<size_t>(thread)].running;
}

void RunAccumulators::AddThreadCpu(int thread, double value)
{
    ThreadAccumulator& accumulator = threads[static_cast<size_t>(thread)];
    accumulator.utilSum += value;
    UpdateExtremes(value, accumulator.utilMin, accumulator.utilMax);
}

void RunAccumulators::AddConcurrency(int running)
{
    if (running < 2)
        return;
    ++histogram[static_cast<size_t>(running)];
    ++parallelSamples;
}

void RunAccumulators::EndSample()
{
    ++samples;
    firstSample = false;
}

namespace {

// The shares are worked out at full precision and then kept in single
// precision, so a level reached once in 100,000 samples is still listed.
float SharePercent(int count, float samples)
{
    return static_cast<float>(count / static_cast<double>(samples) * 100);
}

constexpr double kSmallestListedShare = 0.001;

} // namespace

RunStatistics ComputeStatistics(const RunAccumulators& run, int watchedThreads)
{
    RunStatistics result;
    const double reciprocal = 1.0 / run.samples;
    result.cpuMin = run.cpuMin;
    result.cpuMax = run.cpuMax;
    result.cpuAvg = run.cpuSum * reciprocal;
    result.threadsMin = run.threadsMin;
    result.threadsMax = run.threadsMax;
    result.threadsAvg = run.threadsSum * reciprocal;
    const float samples = static_cast<float>(run.samples);
    result.parallelPercent = run.parallelSamples / static_cast<double>(samples) * 100;
    for (int j = 0; j < watchedThreads; ++j) {
        const ThreadAccumulator& thread = run.threads[static_cast<size_t>(j)];
        // A thread never seen on a processor averages 0, whatever time it used.
        const double average = thread.running != 0 ? thread.utilSum / samples : 0;
        result.threads.push_back({SharePercent(thread.running, samples), thread.utilMin, average, thread.utilMax});
    }
    for (int level = 2; level <= watchedThreads; ++level) {
        const float share = SharePercent(run.histogram[static_cast<size_t>(level)], samples);
        if (share > kSmallestListedShare)
            result.levels.push_back({level, share});
    }
    return result;
}
