#include "RunSettings.h"
#include "RunStatistics.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// 200 samples; thread 0 running in 150 with values from 0 to 98.5 summing to
// 9,000; thread 1 running in 40; both at once in 30. The process's figures
// are those of the summary block's example.
TEST(Statistics, WorkedExampleOf200Samples)
{
    const RunAccumulators run = {.samples = 200, .cpuSum = 24062, .cpuMin = 12.5, .cpuMax = 199.22,
                                 .threadsSum = 1333, .threadsMin = 6, .threadsMax = 7,
                                 .threads = {{{150, 9000, 0, 98.5}, {40, 2500, 0, 60.25}}},
                                 .histogram = {0, 0, 30}, .parallelSamples = 30};

    const RunStatistics s = ComputeStatistics(run, 2);

    EXPECT_EQ((std::vector<std::string>{s.cpuMin.str(), s.cpuAvg.str(), s.cpuMax.str(), s.threadsMin.str(),
                                        s.threadsAvg.str(), s.threadsMax.str(), s.parallelTime.str()}),
              (std::vector<std::string>{" 12.50", "120.31", "199.22", "  6", "  7", "  7", " 15.00"}));
    ASSERT_EQ(s.threads.size(), 2u);
    EXPECT_EQ(ThreadRowText(0, s.threads[0]).str(),
              "  0                 75.00            0.00           45.00           98.50");
    EXPECT_EQ(ThreadRowText(1, s.threads[1]).str(),
              "  1                 20.00            0.00           12.50           60.25");
    ASSERT_EQ(s.levels.size(), 1u);
    EXPECT_EQ(LevelRowText(s.levels[0]).str(), "  2                   15.00");
}

// Single precision keeps 1 in 100,000 above 0.001 %, and 1 in 100,001 not.
TEST(Statistics, LevelReachedOnceIsListedUpTo100000Samples)
{
    for (const int samples : {100000, 100001}) {
        const RunAccumulators run = {.samples = samples, .histogram = {0, 0, 0, 1}, .parallelSamples = 1};
        const RunStatistics s = ComputeStatistics(run, 4);
        ASSERT_EQ(s.levels.size(), samples == 100000 ? 1u : 0u) << samples;
        if (!s.levels.empty()) {
            EXPECT_EQ(LevelRowText(s.levels[0]).str(), "  3                    0.00");
        }
    }
}

// Extremes start at the run's first sample: a thread unreadable then (0)
// keeps its minimum of 0, and later only a smaller value replaces the
// minimum. A thread never seen running (2) averages 0, whatever it used.
TEST(Statistics, ThreadRowsFollowTheFirstSampleAndTheRunningCount)
{
    RunAccumulators run;
    run.AddThreadCpu(1, 50);
    run.AddThreadCpu(2, 30);
    run.EndSample();
    for (const double cpu : {40.0, 20.0, 60.0}) {
        for (const int thread : {0, 1}) {
            run.AddThreadRunning(thread);
            run.AddThreadCpu(thread, cpu);
        }
        run.AddThreadCpu(2, 30);
        run.EndSample();
    }
    run.samples = 10;

    const RunStatistics s = ComputeStatistics(run, 3);

    EXPECT_EQ(ThreadRowText(0, s.threads[0]).str(),
              "  0                 30.00            0.00           12.00           60.00");
    EXPECT_EQ(ThreadRowText(1, s.threads[1]).str(),
              "  1                 30.00           20.00           17.00           60.00");
    EXPECT_EQ(ThreadRowText(2, s.threads[2]).str(),
              "  2                  0.00           30.00            0.00           30.00");
}

TEST(LeadingNumber, ReadsTheNumberAtTheStart)
{
    const std::pair<const char*, int> cases[] = {{"  30", 30}, {"\t7x", 7},  {"-5", -5},
                                                 {"+12", 12},  {"abc", 0},   {"- 5", 0},
                                                 {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(LeadingNumber(text), value) << '"' << text << '"';
}

} // namespace
