#pragma once
// What a sampling run accumulates, and the numbers made of it.

#include "Pdh.h"
#include "RunResults.h"

#include <array>
#include <vector>

constexpr int MINIMUM_SAMPLES = 10;
constexpr int MAX_WATCHED_THREADS = 200;

struct ThreadAccumulator {
    int running = 0;  // samples in which the thread was on a processor
    double utilSum = 0;
    double utilMin = 0;
    double utilMax = 0;
};

struct RunAccumulators {
    int samples = 0;
    bool firstSample = true;  // extremes start at the run's first sample, not at a thread's first reading
    double cpuSum = 0, cpuMin = 0, cpuMax = 0;
    double threadsSum = 0, threadsMin = 0, threadsMax = 0;
    std::array<ThreadAccumulator, MAX_WATCHED_THREADS> threads{};
    std::array<int, MAX_WATCHED_THREADS + 1> histogram{};  // by the number of threads running at once
    int parallelSamples = 0;

    void AddProcessCpu(double value);
    void AddThreadCount(double value);
    void AddThreadRunning(int thread);
    void AddThreadCpu(int thread, double value);
    void AddConcurrency(int running);
    void EndSample();

private:
    void UpdateExtremes(double value, double& min, double& max) const;
};

// Only for runs of at least MINIMUM_SAMPLES samples.
RunStatistics ComputeStatistics(const RunAccumulators& run, int watchedThreads);
