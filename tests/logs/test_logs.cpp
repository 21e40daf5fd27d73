#include "DataLog.h"
#include "LogFile.h"
#include "RunStatistics.h"
#include "ScratchFolder.h"
#include "SummaryLog.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const SYSTEMTIME kStamp = {2026, 12, 6, 5, 21, 8, 41, 218};

TEST(DataLog, TwoThreadExampleLineByLine)
{
    CString record = DataLogRecord(kStamp);
    AppendProcessCpu(record, 98.4375);
    AppendThread(record, 93.75, 2);
    AppendThread(record, 4.6875, 5);

    EXPECT_EQ((CString(DATA_LOG_HEAD) + DataLogHeader(2) + record).str(),
              "[Quorvex]\n"
              "[Start Data]\n"
              "\"Time\",\"TOTAL_CPU_Utilization\",\"Thread_0_CPU_Utilization\",\"Thread_0_Status\","
              "\"Thread_1_CPU_Utilization\",\"Thread_1_Status\"\n"
              "\"12/05/2026 21:08:41.218\",\"98.4375\",\"93.75\",\"2\",\"4.6875\",\"5\"");
    EXPECT_EQ(DataLogRecord({2027, 1, 0, 2, 3, 4, 5, 6}).str(), "\n\"01/02/2027 03:04:05.006\"");
}

// Twenty significant digits without trailing zeros; exponents only below
// 0.0001 and from 10 to the 20th up.
TEST(DataLog, ValuesHaveTwentySignificantDigits)
{
    const std::pair<double, const char*> cases[] = {
        {0, "0"}, {0.1, "0.10000000000000000555"}, {1e-5, "1.0000000000000000818e-05"}, {1e20, "1e+20"}};
    for (const auto& [value, text] : cases) {
        CString record;
        AppendProcessCpu(record, value);
        EXPECT_EQ(record.str(), ",\"" + std::string(text) + "\"");
    }
}

TEST(LogNames, FollowTheLocalTimeToTheMinute)
{
    EXPECT_EQ(DataLogFileName("/var/logs", kStamp).str(), "/var/logs/QV202612052108.txt");
    EXPECT_EQ(SummaryLogFileName("/var/logs", kStamp).str(), "/var/logs/QVS202612052108.txt");
    EXPECT_EQ(DataLogFileName("/l", {2027, 1, 0, 2, 3, 4, 0, 0}).str(), "/l/QV202701020304.txt");
}

// Two threads on one socket of two cores and four logical processors, with
// a 30-second duration that elapsed.
TEST(SummaryBlock, ExampleOfTwoThreadsOnTwoCoresWithTwinlane)
{
    const RunAccumulators run = {.samples = 200, .threads = {{{150, 9000, 0, 98.5}, {40, 2500, 0, 60.25}}},
                                 .histogram = {0, 0, 30}, .parallelSamples = 30};
    const SummaryTexts texts = {
        .processorInfo = "        Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz",
        .frequency = "   2400", .sockets = "  1", .cores = "  2", .logicals = "  4",
        .multiProcessor = "No", .multiCore = "Yes", .smt = "Enabled",
        .appPath = "/apps/render.exe", .appParams = "-frames 10", .samplingRate = "100", .elapsedMs = "30000",
        .parallelTime = " 15.00", .cpuMin = " 12.50", .cpuAvg = "120.31", .cpuMax = "199.22"};

    EXPECT_EQ(SummaryBlock(texts, ComputeStatistics(run, 2)).str(),
              "\n[End Data]\n"
              "[Start Summary]\n"
              "Processor Information:         Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz\n"
              "Frequency (MHz)=    2400 Sockets =   1  Cores =   2  Logicals =   4 Multi-processor: No  "
              "Multi_core: Yes  Twinlane: Enabled\n"
              "[Application] /apps/render.exe\n"
              "Application Parameters: -frames 10\n"
              "Sampling Rate(ms)= 100  Elapsed Time(ms)= 30000  Parallel Time(%)=  15.00\n"
              "CPU Utilization (%): Min =  12.50  Avg = 120.31  Max = 199.22\n"
              "Thread#   %Time   Thread_CPU_Utilization(%)  Min        Avg       Max\n"
              "  0       75.00                             0.00       45.00     98.50\n"
              "  1       20.00                             0.00       12.50     60.25\n"
              "Concurrent Level   %Time\n"
              "  2                15.00\n"
              "[End Summary]");
}

TEST(SummaryLog, HeadAndLineOfTheExample)
{
    EXPECT_EQ(SummaryLogHead("/apps/render.exe").str(),
              "\"Quorvex\"\n\"render.exe\"\n\"4\",\"1\"\n\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n");
    EXPECT_TRUE(SummaryLogHead("render").str().starts_with("\"Quorvex\"\n\"render\"\n")) << "a path without a folder";
    EXPECT_EQ(SummaryLogLine("  2", "  4", "30000", " 15.00").str(), "\"  2\",\"  4\",\"30000\",\" 15.00\"\n");
}

// A run in the same minute as an earlier one empties the earlier one's file.
TEST(LogFile, EmptiesAnExistingFile)
{
    const ScratchFolder folder;
    const std::string path = folder.Path() + "/QV202612052108.txt";
    std::ofstream(path) << "an older run's records";
    LogFile log;
    ASSERT_TRUE(log.Open(path.c_str()));
    log.Write("[Quorvex]\n");
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(ReadFile(path), "[Quorvex]\n");
}

} // namespace
