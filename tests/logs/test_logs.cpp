#include "DataLog.h"
#include "LogFile.h"
#include "ScratchFolder.h"
#include "SummaryLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

const SYSTEMTIME kStamp = {2026, 12, 6, 5, 21, 8, 41, 218};

// A record starts with its time stamp: month, day, year, then the time to
// the millisecond. (A whole log's bytes: the engine's scripted runs.)
TEST(DataLog, RecordsStartWithTheirTimeStamp)
{
    EXPECT_EQ(DataLogRecord(kStamp).str(), "\n\"12/05/2026 21:08:41.218\"");
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

TEST(LogNames, FollowTheLocalTimeToTheMinuteAndCountCopies)
{
    EXPECT_EQ(RunLogFileName("/var/logs", "QV", kStamp, 1).str(), "/var/logs/QV202612052108.txt");
    EXPECT_EQ(RunLogFileName("/var/logs", "QVS", kStamp, 2).str(), "/var/logs/QVS202612052108-2.txt");
    EXPECT_EQ(RunLogFileName("/l", "QV", {2027, 1, 0, 2, 3, 4, 0, 0}, 13).str(), "/l/QV202701020304-13.txt");
}

const MachineTexts kMachine = {.processorInfo = "        Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz",
                                .frequency = "   2400", .sockets = "  1", .cores = "  2", .logicals = "  4",
                                .multiProcessor = "No", .multiCore = "Yes", .smt = "Enabled"};
const RunStatistics kStatistics = {.cpuMin = 12.5, .cpuMax = 199.22, .cpuAvg = 120.3125, .parallelPercent = 15,
                                   .threads = {{75, 0, 45, 98.5}, {20, 0, 12.5, 60.25}}, .levels = {{2, 15}}};

// Two threads on one socket of two cores and four logical processors, with
// a 30-second duration that elapsed.
TEST(SummaryBlock, ExampleOfTwoThreadsOnTwoCoresWithTwinlane)
{
    EXPECT_EQ(SummaryBlock(kMachine, {.appPath = "/apps/render.exe", .appParams = "-frames 10", .intervalMs = 100,
                                      .elapsedMs = 30000},
                           kStatistics)
                  .str(),
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
    EXPECT_EQ(SummaryLogLine(kMachine, 30000, kStatistics).str(), "\"  2\",\"  4\",\"30000\",\" 15.00\"\n");
}

struct TakenNames {
    std::vector<std::string> taken;
    std::string copy;  // the suffix the new pair gets
};

// A run in the same minute as earlier ones leaves their files as they were,
// whichever of a pair is there, and names both of its files alike.
TEST(RunLogs, AreCreatedUnderTheFirstPairOfFreeNames)
{
    const TakenNames cases[] = {{{}, ""},
                                {{"QV202612052108.txt"}, "-2"},
                                {{"QVS202612052108.txt"}, "-2"},
                                {{"QV202612052108.txt", "QVS202612052108.txt", "QVS202612052108-2.txt"}, "-3"}};
    for (const TakenNames& c : cases) {
        const ScratchFolder folder;
        for (const std::string& name : c.taken)
            std::ofstream(folder.Path() + "/" + name) << "an earlier run's " << name;
        LogFile data, summary;

        ASSERT_EQ(CreateRunLogs(data, summary, folder.Path().c_str(), kStamp), RunLogsCreated::Both);
        data.Write("data");
        summary.Write("summary");
        EXPECT_TRUE(data.Close() && summary.Close());

        std::vector<std::string> expected = c.taken;
        expected.push_back("QV202612052108" + c.copy + ".txt");
        expected.push_back("QVS202612052108" + c.copy + ".txt");
        std::vector<std::string> names = FilesIn(folder.Path());
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        for (const std::string& name : c.taken)
            EXPECT_EQ(ReadFile(folder.Path() + "/" + name), "an earlier run's " + name);
        EXPECT_EQ(ReadFile(folder.Path() + "/QV202612052108" + c.copy + ".txt"), "data");
        EXPECT_EQ(ReadFile(folder.Path() + "/QVS202612052108" + c.copy + ".txt"), "summary");
    }
    LogFile data, summary;
    EXPECT_EQ(CreateRunLogs(data, summary, "/nonexistent-quorvex-folder", kStamp), RunLogsCreated::NoDataLog);
}

} // namespace
