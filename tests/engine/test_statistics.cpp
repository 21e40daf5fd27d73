#include "EngineTesting.h"
#include "RunStatistics.h"

#include <gtest/gtest.h>

namespace {

// 200 samples; thread 0 running in 150 with values from 0 to 98.5 summing to
// 9,000; thread 1 running in 40; both at once in 30. Thread 2 used time but
// was never seen on a processor: it averages 0.
TEST(Statistics, WorkedExampleOf200Samples)
{
    const RunAccumulators run = {.samples = 200, .cpuSum = 24062, .cpuMin = 12.5, .cpuMax = 199.22,
                                 .threadsSum = 1333, .threadsMin = 6, .threadsMax = 7,
                                 .threads = {{{150, 9000, 0, 98.5}, {40, 2500, 0, 60.25}, {0, 300, 30, 30}}},
                                 .histogram = {0, 0, 30}, .parallelSamples = 30};

    EXPECT_EQ(Figures(ComputeStatistics(run, 3)), "cpu 12.5/120.31/199.22 threads 6/6.665/7 parallel 15 | t0 75 0 45 98.5 "
                                                  "| t1 20 0 12.5 60.25 | t2 0 30 0 30 | L2 15");
}

// Single precision keeps 1 in 100,000 above 0.001 %, and 1 in 100,001 not.
TEST(Statistics, LevelReachedOnceIsListedUpTo100000Samples)
{
    for (const int samples : {100000, 100001}) {
        const RunAccumulators run = {.samples = samples, .histogram = {0, 0, 0, 1}, .parallelSamples = 1};
        const RunStatistics s = ComputeStatistics(run, 4);
        ASSERT_EQ(s.levels.size(), samples == 100000 ? 1u : 0u) << samples;
        if (!s.levels.empty()) {
            EXPECT_EQ(s.levels[0].level, 3);
        }
    }
}

} // namespace
