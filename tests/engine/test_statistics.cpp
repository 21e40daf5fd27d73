#include "RunSettings.h"
#include "RunStatistics.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// 200 samples; thread 0 running in 150 with values from 0 to 98.5 summing to
// 9,000; thread 1 running in 40; both at once in 30.
RunAccumulators ExampleRun()
{
    RunAccumulators run;
    run.samples = 200;
    run.threads[0] = {150, 9000, 0, 98.5};
    run.threads[1] = {40, 2500, 0, 60.25};
    run.histogram[2] = 30;
    run.parallelSamples = 30;
    return run;
}

TEST(Statistics, WorkedExampleOf200Samples)
{
    const RunStatistics statistics = ComputeStatistics(ExampleRun(), 2);

    ASSERT_EQ(statistics.threads.size(), 2u);
    EXPECT_EQ(ThreadRowText(0, statistics.threads[0]).str(),
              "  0                 75.00            0.00           45.00           98.50");
    EXPECT_EQ(ThreadRowText(1, statistics.threads[1]).str(),
              "  1                 20.00            0.00           12.50           60.25");
    ASSERT_EQ(statistics.levels.size(), 1u);
    EXPECT_EQ(LevelRowText(statistics.levels[0]).str(), "  2                   15.00");
    EXPECT_EQ(statistics.parallelTime.str(), " 15.00");
}

TEST(Statistics, ProcessResultsAreFormattedForTheDialog)
{
    RunAccumulators run;
    for (const double cpu : {12.5, 199.22, 149.21}) {
        run.AddProcessCpu(cpu);
        run.AddThreadCount(cpu < 100 ? 6 : 7);
        run.EndSample();
    }
    const RunStatistics statistics = ComputeStatistics(run, 0);
    EXPECT_EQ(statistics.cpuMin.str(), " 12.50");
    EXPECT_EQ(statistics.cpuAvg.str(), "120.31");
    EXPECT_EQ(statistics.cpuMax.str(), "199.22");
    EXPECT_EQ(statistics.threadsMin.str(), "  6");
    EXPECT_EQ(statistics.threadsAvg.str(), "  7");
    EXPECT_EQ(statistics.threadsMax.str(), "  7");
}

struct LevelCase {
    int samples;
    bool listed;
};

void PrintTo(const LevelCase& c, std::ostream* os)
{
    *os << "once in " << c.samples << " samples";
}

class LevelReachedOnce : public testing::TestWithParam<LevelCase> {};

// Single precision keeps 1 in 100,000 above 0.001 %, and 1 in 100,001 not.
TEST_P(LevelReachedOnce, IsListedUpTo100000Samples)
{
    RunAccumulators run;
    run.samples = GetParam().samples;
    run.histogram[3] = 1;
    run.parallelSamples = 1;
    const RunStatistics statistics = ComputeStatistics(run, 4);
    ASSERT_EQ(statistics.levels.size(), GetParam().listed ? 1u : 0u);
    if (GetParam().listed) {
        EXPECT_EQ(LevelRowText(statistics.levels[0]).str(), "  3                    0.00");
    }
}

INSTANTIATE_TEST_SUITE_P(Boundary, LevelReachedOnce,
                         testing::Values(LevelCase{99999, true}, LevelCase{100000, true}, LevelCase{100001, false}));

TEST(Statistics, ThreadNeverRunningAveragesZeroWhateverTimeItUsed)
{
    RunAccumulators run;
    for (int s = 0; s < 10; ++s) {
        run.AddThreadCpu(0, 30);
        run.EndSample();
    }
    const RunStatistics statistics = ComputeStatistics(run, 1);
    EXPECT_EQ(ThreadRowText(0, statistics.threads[0]).str(),
              "  0                  0.00           30.00            0.00           30.00");
}

// Extremes start at the run's first sample: a thread unreadable then keeps
// its minimum of 0.
TEST(Statistics, ThreadUnreadableInTheFirstSampleKeepsMinimumZero)
{
    RunAccumulators run;
    run.AddThreadCpu(1, 50);
    run.EndSample();
    for (const double cpu : {40.0, 20.0, 60.0}) {
        run.AddThreadRunning(0);
        run.AddThreadCpu(0, cpu);
        run.AddThreadCpu(1, cpu);
        run.EndSample();
    }
    run.samples = 10;
    EXPECT_EQ(run.threads[0].utilMin, 0);
    EXPECT_EQ(run.threads[0].utilMax, 60);
    EXPECT_EQ(run.threads[1].utilMin, 20) << "later, only a smaller value replaces the minimum";
    EXPECT_EQ(run.threads[1].utilMax, 60);
    const RunStatistics statistics = ComputeStatistics(run, 2);
    EXPECT_EQ(ThreadRowText(0, statistics.threads[0]).str(),
              "  0                 30.00            0.00           12.00           60.00");
}

TEST(Statistics, OnlyTwoOrMoreRunningThreadsCount)
{
    RunAccumulators run;
    for (const int running : {0, 1, 2, 3, 3}) {
        run.AddConcurrency(running);
        run.EndSample();
    }
    EXPECT_EQ(run.parallelSamples, 3);
    EXPECT_EQ(run.histogram[0] + run.histogram[1], 0);
    EXPECT_EQ(run.histogram[2], 1);
    EXPECT_EQ(run.histogram[3], 2);
}

TEST(Statistics, LevelsAddUpToTheParallelTime)
{
    RunAccumulators run;
    run.samples = 7;
    run.histogram[2] = 2;
    run.histogram[3] = 1;
    run.histogram[5] = 1;
    run.parallelSamples = 4;
    const RunStatistics statistics = ComputeStatistics(run, 5);
    double sum = 0;
    for (const LevelResult& level : statistics.levels)
        sum += level.timePercent;
    EXPECT_NEAR(sum, 4.0 / 7 * 100, 1e-4);
    EXPECT_EQ(statistics.parallelTime.str(), " 57.14");
}

struct NumberCase {
    const char* text;
    int value;
};

void PrintTo(const NumberCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class LeadingNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberTest, ReadsTheNumberAtTheStart)
{
    EXPECT_EQ(LeadingNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
                         testing::Values(NumberCase{"100", 100}, NumberCase{"  30", 30}, NumberCase{"\t7x", 7},
                                         NumberCase{"-5", -5}, NumberCase{"+12", 12}, NumberCase{"", 0},
                                         NumberCase{"abc", 0}, NumberCase{"- 5", 0}, NumberCase{"1000ms", 1000},
                                         NumberCase{"99999999999", INT_MAX}, NumberCase{"-99999999999", INT_MIN}));

} // namespace
