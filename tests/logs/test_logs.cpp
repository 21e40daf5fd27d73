#include "DataLog.h"
#include "LogFile.h"
#include "RunStatistics.h"
#include "SummaryLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

const SYSTEMTIME kStamp = {2026, 12, 6, 5, 21, 8, 41, 218};

TEST(DataLog, TwoThreadExampleLineByLine)
{
    CString file = CString(DATA_LOG_HEAD) + DataLogHeader(2);
    CString record = DataLogRecord(kStamp);
    AppendProcessCpu(record, 98.4375);
    AppendThread(record, 93.75, 2);
    AppendThread(record, 4.6875, 5);
    file += record;

    EXPECT_EQ(file.str(), "[Quorvex]\n"
                          "[Start Data]\n"
                          "\"Time\",\"TOTAL_CPU_Utilization\",\"Thread_0_CPU_Utilization\",\"Thread_0_Status\","
                          "\"Thread_1_CPU_Utilization\",\"Thread_1_Status\"\n"
                          "\"12/05/2026 21:08:41.218\",\"98.4375\",\"93.75\",\"2\",\"4.6875\",\"5\"");
}

TEST(DataLog, TimeStampIsZeroPadded)
{
    EXPECT_EQ(DataLogRecord({2027, 1, 0, 2, 3, 4, 5, 6}).str(), "\n\"01/02/2027 03:04:05.006\"");
}

struct ValueCase {
    double value;
    const char* text;
};

void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.text;
}

class DataLogValue : public testing::TestWithParam<ValueCase> {};

TEST_P(DataLogValue, HasTwentySignificantDigits)
{
    CString record;
    AppendProcessCpu(record, GetParam().value);
    EXPECT_EQ(record.str(), ",\"" + std::string(GetParam().text) + "\"");
}

INSTANTIATE_TEST_SUITE_P(Values, DataLogValue,
                         testing::Values(ValueCase{0, "0"}, ValueCase{100, "100"}, ValueCase{0.1, "0.10000000000000000555"},
                                         ValueCase{1e-5, "1.0000000000000000818e-05"}, ValueCase{1e20, "1e+20"},
                                         ValueCase{199.5, "199.5"}));

TEST(DataLog, HeaderFor200ThreadsIs9610Characters)
{
    const CString header = DataLogHeader(200);
    EXPECT_EQ(header.GetLength(), 9610);
    EXPECT_NE(header.Find(",\"Thread_10_CPU_Utilization\",\"Thread_10_Status\","), -1);
    const std::string last = ",\"Thread_199_CPU_Utilization\",\"Thread_199_Status\"";
    EXPECT_EQ(header.str().substr(header.str().size() - last.size()), last);
}

TEST(LogNames, FollowTheLocalTimeToTheMinute)
{
    EXPECT_EQ(DataLogFileName("/var/logs", kStamp).str(), "/var/logs/QV202612052108.txt");
    EXPECT_EQ(SummaryLogFileName("/var/logs", kStamp).str(), "/var/logs/QVS202612052108.txt");
    EXPECT_EQ(DataLogFileName("/l", {2027, 1, 0, 2, 3, 4, 0, 0}).str(), "/l/QV202701020304.txt");
}

RunStatistics ExampleStatistics()
{
    RunAccumulators run;
    run.samples = 200;
    run.threads[0] = {150, 9000, 0, 98.5};
    run.threads[1] = {40, 2500, 0, 60.25};
    run.histogram[2] = 30;
    run.parallelSamples = 30;
    return ComputeStatistics(run, 2);
}

SummaryTexts ExampleTexts()
{
    return {.processorInfo = "        Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz",
            .frequency = "   2400",
            .sockets = "  1",
            .cores = "  2",
            .logicals = "  4",
            .multiProcessor = "No",
            .multiCore = "Yes",
            .smt = "Enabled",
            .appPath = "/apps/render.exe",
            .appParams = "-frames 10",
            .samplingRate = "100",
            .elapsedMs = "30000",
            .parallelTime = " 15.00",
            .cpuMin = " 12.50",
            .cpuAvg = "120.31",
            .cpuMax = "199.22"};
}

TEST(SummaryBlock, ExampleOfTwoThreadsOnTwoCoresWithTwinlane)
{
    EXPECT_EQ(SummaryBlock(ExampleTexts(), ExampleStatistics()).str(),
              "\n[End Data]\n"
              "[Start Summary]\n"
              "Processor Information:         Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz\n"
              "Frequency (MHz)=    2400 Sockets =   1  Cores =   2  Logicals =   4 Multi-processor: No  Multi_core: Yes  "
              "Twinlane: Enabled\n"
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
    EXPECT_EQ(SummaryLogLine("  2", "  4", "30000", " 15.00").str(), "\"  2\",\"  4\",\"30000\",\" 15.00\"\n");
}

TEST(SummaryLog, PathWithoutFolderIsNamedWhole)
{
    EXPECT_EQ(SummaryLogHead("render").str().substr(0, 21), "\"Quorvex\"\n\"render\"\n\"4");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LogFile, WritesAndEmptiesAnExistingFile)
{
    char path[] = "/tmp/quorvex-log-XXXXXX";
    close(mkstemp(path));
    {
        std::ofstream old(path);
        old << "an older run's records";
    }
    LogFile log;
    ASSERT_TRUE(log.Open(path));
    log.Write("[Quorvex]\n");
    log.Write("x");
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(ReadFile(path), "[Quorvex]\nx");
    std::remove(path);
}

TEST(LogFile, LostWritesAreReportedAtClose)
{
    LogFile log;
    ASSERT_TRUE(log.Open("/dev/full"));
    log.Write("[Quorvex]\n");
    EXPECT_FALSE(log.Close());
}

TEST(LogFile, CannotBeCreatedInAMissingFolder)
{
    LogFile log;
    EXPECT_FALSE(log.Open("/nonexistent-quorvex-folder/QV202612052108.txt"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Close());
}

} // namespace
