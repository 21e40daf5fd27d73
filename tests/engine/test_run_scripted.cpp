// Whole runs against scripted counters: every value, message box and log
// byte is known in advance. The target is a real process (a script that
// sleeps), so starting and ending it is real too.

#include "DataLog.h"
#include "EngineTesting.h"
#include "ScriptedCounters.h"
#include "SummaryLog.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>
#include <unistd.h>

namespace {

const std::string kName = "render";
const Box kMakeSure = {"Make sure the application is terminated COMPLETELY\nbefore continue!", "IMPORTANT!!!"};
const Box kNeedMore = {"Need to collect at least  10", "Get Max Thread"};

ThreadSample Thread(double cpu, double state)
{
    return {cpu, state};
}

QueryScript RunScript(const std::vector<ScriptedCollection>& samples)
{
    QueryScript script(1);
    script.insert(script.end(), samples.begin(), samples.end());
    return script;
}

std::vector<ScriptedCollection> Samples(int count, const std::function<ScriptedCollection(int)>& sample)
{
    std::vector<ScriptedCollection> samples;
    for (int k = 0; k < count; ++k)
        samples.push_back(sample(k));
    return samples;
}

// Thread 0 always running; thread 1 running in the first three samples.
ScriptedCollection TwoThreadSample(int k)
{
    return Sample(kName, 98.4375, 2, {Thread(93.75, 2), Thread(4.6875, k < 3 ? 2 : 5)});
}

// Time stamps are the only bytes a run cannot know in advance.
std::string WithoutTimeStamps(const std::string& log)
{
    static const std::regex stamp(R"("\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}")");
    return std::regex_replace(log, stamp, "\"TIME\"");
}

SYSTEMTIME LocalTimeIn(int seconds)
{
    const time_t when = time(nullptr) + seconds;
    tm local;
    localtime_r(&when, &local);
    return {static_cast<WORD>(local.tm_year + 1900), static_cast<WORD>(local.tm_mon + 1), 0,
            static_cast<WORD>(local.tm_mday), static_cast<WORD>(local.tm_hour), static_cast<WORD>(local.tm_min), 0, 0};
}

class ScriptedRun : public testing::Test {
protected:
    ScriptedRun()
    {
        m_target = m_folder.AddScript("render.exe", "echo started >> \"$(dirname \"$0\")/starts\"\nexec sleep 60");
        dialog.m_bGuiMode = 1;
        dialog.m_strAppPath = m_target.c_str();
        std::snprintf(dialog.m_szProcessName, sizeof dialog.m_szProcessName, "%s", kName.c_str());
        std::snprintf(dialog.m_szLogFolder, sizeof dialog.m_szLogFolder, "%s", m_folder.Path().c_str());
        dialog.m_strSamplingRate = "0";
        dialog.m_strDuration = "30";
        dialog.m_strGenerateLog = "No";
        dialog.m_strProcessorInfo = "Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz";
        dialog.m_strFrequency = "   2400";
        dialog.m_strSockets = "  1";
        dialog.m_strCores = "  2";
        dialog.m_strLogicals = "  4";
        dialog.m_strMultiProcessor = "No";
        dialog.m_strMultiCore = "Yes";
        dialog.m_strSmt = "Enabled";
        // As START leaves the dialog.
        dialog.m_bRunning = 1;
        dialog.m_bCancel = 0;
        for (CString* result : {&dialog.m_strCpuMin, &dialog.m_strCpuAvg, &dialog.m_strCpuMax, &dialog.m_strThreadsMin,
                                &dialog.m_strThreadsAvg, &dialog.m_strThreadsMax, &dialog.m_strParallelTime,
                                &dialog.m_strThreadTable, &dialog.m_strConcurrency, &dialog.m_strSamples})
            *result = "before";
    }

    ~ScriptedRun() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
        EXPECT_EQ(counters.OpenQueries(), 0);
    }

    void Script(int probeSamples, double threads, const std::vector<ScriptedCollection>& samples)
    {
        counters.scripts = {RunScript(samples), ProbeScript(kName, std::vector<double>(probeSamples, threads))};
    }

    void LogToFolder() { dialog.m_strGenerateLog = "Yes"; }

    std::string LogFolder() const { return m_folder.Path(); }

    // The file of this kind: prefix, then the time to the minute.
    std::string OnlyFile(const std::string& prefix) const
    {
        const std::regex name(prefix + R"(\d{12}\.txt)");
        std::string found;
        for (const std::string& file : FilesIn(m_folder.Path())) {
            if (std::regex_match(file, name))
                found = m_folder.Path() + "/" + file;
        }
        return found;
    }

    std::string DataLog() const { return ReadFile(OnlyFile("QV")); }
    std::string SummaryLog() const { return ReadFile(OnlyFile("QVS")); }
    int Starts() const
    {
        const std::string starts = ReadFile(m_folder.Path() + "/starts");
        return static_cast<int>(std::count(starts.begin(), starts.end(), '\n'));
    }

    ScratchFolder m_folder;
    std::string m_target;
    ScriptedCounters counters;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

std::string TwoThreadHead()
{
    return "[Quorvex]\n[Start Data]\n\"Time\",\"TOTAL_CPU_Utilization\",\"Thread_0_CPU_Utilization\","
           "\"Thread_0_Status\",\"Thread_1_CPU_Utilization\",\"Thread_1_Status\"";
}

std::string TwoThreadRecords(int count)
{
    std::string records;
    for (int k = 0; k < count; ++k)
        records += std::string("\n\"TIME\",\"98.4375\",\"93.75\",\"2\",\"4.6875\",\"") + (k < 3 ? "2" : "5") + "\"";
    return records;
}

std::string SummaryLogHeadOfRender()
{
    return "\"Quorvex\"\n\"render.exe\"\n\"4\",\"1\"\n\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n";
}

TEST_F(ScriptedRun, WritesBothLogsOfATwoThreadRun)
{
    Script(10, 2, Samples(10, TwoThreadSample));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, std::vector<Box>{kMakeSure});
    const std::string elapsed = dialog.m_strElapsedMs.str();
    EXPECT_EQ(WithoutTimeStamps(DataLog()),
              TwoThreadHead() + TwoThreadRecords(10) +
                  "\n[End Data]\n"
                  "[Start Summary]\n"
                  "Processor Information: Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz\n"
                  "Frequency (MHz)=    2400 Sockets =   1  Cores =   2  Logicals =   4 Multi-processor: No  "
                  "Multi_core: Yes  Twinlane: Enabled\n"
                  "[Application] " + m_target + "\n"
                  "Application Parameters: \n"
                  "Sampling Rate(ms)= 0  Elapsed Time(ms)= " + elapsed + "  Parallel Time(%)=  30.00\n"
                  "CPU Utilization (%): Min =  98.44  Avg =  98.44  Max =  98.44\n"
                  "Thread#   %Time   Thread_CPU_Utilization(%)  Min        Avg       Max\n"
                  "  0      100.00                            93.75       93.75     93.75\n"
                  "  1       30.00                             4.69        4.69      4.69\n"
                  "Concurrent Level   %Time\n"
                  "  2                30.00\n"
                  "[End Summary]");
    EXPECT_EQ(SummaryLog(), SummaryLogHeadOfRender() + "\"  2\",\"  4\",\"" + elapsed + "\",\" 30.00\"\n");
    // The target still ran when the script ended: its time so far.
    EXPECT_GE(std::stoi(elapsed), 1000);
    EXPECT_LT(std::stoi(elapsed), 60000);
}

class SampleCountBoundary : public ScriptedRun, public testing::WithParamInterface<int> {};

TEST_P(SampleCountBoundary, StatisticsNeedTenSamples)
{
    const int samples = GetParam();
    Script(10, 2, Samples(samples, TwoThreadSample));
    LogToFolder();

    dialog.CollectData();

    const bool published = samples >= 10;
    EXPECT_EQ(dialog.m_strSamples.str(), samples == 9 ? "       9" : "      10");
    EXPECT_EQ(dialog.m_strCpuAvg.str(), published ? " 98.44" : "before");
    EXPECT_EQ(dialog.m_strThreadTable.str(), published ? "  0                100.00           93.75           93.75           93.75"
                                                       : "before");
    const std::string log = WithoutTimeStamps(DataLog());
    EXPECT_EQ(log.substr(0, TwoThreadHead().size() + TwoThreadRecords(samples).size()),
              TwoThreadHead() + TwoThreadRecords(samples));
    EXPECT_EQ(log.find("[End Data]") != std::string::npos, published);
    EXPECT_EQ(SummaryLog().size() > SummaryLogHeadOfRender().size(), published);
}

INSTANTIATE_TEST_SUITE_P(NineAndTen, SampleCountBoundary, testing::Values(9, 10));

TEST_F(ScriptedRun, CancelledRunKeepsItsResultsToTheMembers)
{
    std::vector<ScriptedCollection> samples = Samples(15, TwoThreadSample);
    samples[11].action = [this] { dialog.OnBnClickedCancel(); };
    Script(10, 2, samples);
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(dialog.m_strSamples.str(), "      12");
    EXPECT_EQ(dialog.m_strCpuAvg.str(), " 98.44");
    EXPECT_EQ(dialog.m_strParallelTime.str(), " 25.00");
    EXPECT_EQ(dialog.m_strThreadTable.str(), "before");
    EXPECT_EQ(dialog.m_strConcurrency.str(), "before");
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "0");
    EXPECT_EQ(WithoutTimeStamps(DataLog()), TwoThreadHead() + TwoThreadRecords(12));
    EXPECT_EQ(SummaryLog(), SummaryLogHeadOfRender());
}

TEST_F(ScriptedRun, ThreadsNeverReadableAreLoggedAsZero)
{
    Script(10, 2, Samples(10, [](int) { return Sample(kName, 50, 2, {}); }));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(dialog.m_strThreadTable.str(), "  0                  0.00            0.00            0.00            0.00");
    EXPECT_EQ(dialog.m_strParallelTime.str(), "  0.00");
    EXPECT_EQ(dialog.m_strConcurrency.str(), "before");
    const std::string log = WithoutTimeStamps(DataLog());
    EXPECT_NE(log.find("\n\"TIME\",\"50\",\"0\",\"0\",\"0\",\"0\"\n[End Data]"), std::string::npos);
}

TEST_F(ScriptedRun, SingleThreadedTargetHasNoConcurrencyRows)
{
    Script(10, 1, Samples(10, [](int) { return Sample(kName, 99, 1, {Thread(99, 2)}); }));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(dialog.m_strParallelTime.str(), "  0.00");
    EXPECT_EQ(dialog.m_strConcurrency.str(), "before");
    const std::string log = DataLog();
    const std::string tail = "  0      100.00                            99.00       99.00     99.00\n"
                             "Concurrent Level   %Time\n[End Summary]";
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(ScriptedRun, WatchesTwoHundredThreads)
{
    Script(10, 200, Samples(10, [](int) { return Sample(kName, 150, 200, {}); }));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, std::vector<Box>{kMakeSure});
    const std::vector<std::string>& added = counters.AddedPaths();
    EXPECT_EQ(std::count(added.begin(), added.end(), ThreadStatePath(kName, 199)), 1);
    EXPECT_EQ(added.size(), 1u + 2 + 400);
    const std::string log = DataLog();
    const size_t headEnd = std::strlen(DATA_LOG_HEAD);
    EXPECT_EQ(log.find('\n', headEnd) - headEnd, 9610u);
    EXPECT_EQ(dialog.m_strSamples.str(), "      10");
}

TEST_F(ScriptedRun, StopsAtTheTwoHundredAndFirstThread)
{
    Script(10, 201, Samples(10, [](int) { return Sample(kName, 150, 201, {}); }));

    EXPECT_EQ(dialog.CollectData(), 0);

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Cannot add thread counter !!!", "Collect Data"}}));
    const std::vector<std::string>& added = counters.AddedPaths();
    EXPECT_EQ(std::count(added.begin(), added.end(), ThreadStatePath(kName, 199)), 1);
    EXPECT_EQ(std::count(added.begin(), added.end(), ThreadCpuPath(kName, 200)), 0);
    // Abandoned without the end-of-run reset: START stays down until CANCEL.
    EXPECT_EQ(dialog.m_bRunning, 1);
    EXPECT_EQ(dialog.m_strSamples.str(), "before");
    EXPECT_EQ(Starts(), 1);
}

TEST_F(ScriptedRun, ProbeKeepsTheLargestThreadCount)
{
    counters.scripts = {RunScript(Samples(10, [](int) { return Sample(kName, 10, 3, {}); })),
                        ProbeScript(kName, {3, 7, 5, 2, 2, 2, 2, 2, 2, 2, 2})};

    dialog.CollectData();

    const std::vector<std::string>& added = counters.AddedPaths();
    EXPECT_EQ(std::count(added.begin(), added.end(), ThreadStatePath(kName, 6)), 1);
    EXPECT_EQ(std::count(added.begin(), added.end(), ThreadCpuPath(kName, 7)), 0);
}

TEST_F(ScriptedRun, ProbeOfATargetThatEndsEarlyWarnsAndGoesOn)
{
    Script(3, 2, Samples(10, TwoThreadSample));

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{kNeedMore, kMakeSure}));
    EXPECT_EQ(dialog.m_strSamples.str(), "      10");
    EXPECT_EQ(dialog.m_strThreadsMax.str(), "  2");
}

TEST_F(ScriptedRun, CancelDuringTheProbeSkipsTheSecondStart)
{
    Script(10, 2, Samples(10, TwoThreadSample));
    counters.scripts[1][0].action = [this] { dialog.OnBnClickedCancel(); };

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{kNeedMore, kMakeSure}));
    EXPECT_EQ(Starts(), 1);
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "0");
    EXPECT_EQ(dialog.m_strSamples.str(), "       0");
}

TEST_F(ScriptedRun, DurationOfZeroTakesOneSample)
{
    dialog.m_strDuration = "0";
    Script(10, 2, Samples(10, TwoThreadSample));

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{kNeedMore, kMakeSure}));
    EXPECT_EQ(dialog.m_strSamples.str(), "       1");
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "0");
    EXPECT_EQ(dialog.m_strCpuAvg.str(), "before");
}

TEST_F(ScriptedRun, LoggingSwitchedOffDuringTheRunStopsTheRecords)
{
    std::vector<ScriptedCollection> samples = Samples(12, TwoThreadSample);
    samples[4].action = [this] { dialog.m_strGenerateLog = "No"; };
    Script(10, 2, samples);
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(WithoutTimeStamps(DataLog()), TwoThreadHead() + TwoThreadRecords(4));
    EXPECT_EQ(SummaryLog(), SummaryLogHeadOfRender());
}

TEST_F(ScriptedRun, LostLogWritesAreReportedOnce)
{
    for (const int seconds : {0, 60, 120})
        std::filesystem::create_symlink("/dev/full", DataLogFileName(LogFolder().c_str(), LocalTimeIn(seconds)).str());
    Script(10, 2, Samples(10, TwoThreadSample));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{kMakeSure, {"Write log file failed!", "Collect data"}}));
}

TEST_F(ScriptedRun, SummaryLogThatCannotBeCreatedEndsTheRun)
{
    for (const int seconds : {0, 60, 120})
        std::filesystem::create_directory(SummaryLogFileName(LogFolder().c_str(), LocalTimeIn(seconds)).str());
    Script(10, 2, Samples(10, TwoThreadSample));
    LogToFolder();

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{kMakeSure, {"Open summary log file failed!", "Collect data"}}));
    EXPECT_EQ(DataLog(), TwoThreadHead());
    EXPECT_EQ(dialog.m_strSamples.str(), "       0");
}

// START CAPTURE and STOP CAPTURE open and close a window for the probe and
// one for the measurement; the elapsed time is the measurement's window.
TEST_F(ScriptedRun, ManualCaptureOpensAWindowForTheProbeAndOneForTheRun)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication qt(argc, argv);
    dialog.m_bManualCapture = 1;
    dialog.m_strSamplingRate = "10";
    std::vector<ScriptedCollection> samples = Samples(30, TwoThreadSample);
    samples[20].action = [this] { dialog.OnBnClickedStopCapture(); };
    Script(12, 2, samples);
    counters.scripts[1].back().action = [this] {
        QTimer::singleShot(300, [this] { dialog.OnBnClickedStartCapture(); });
    };
    QTimer::singleShot(300, [this] { dialog.OnBnClickedStartCapture(); });

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, std::vector<Box>{kMakeSure});
    EXPECT_EQ(dialog.m_strSamples.str(), "      21");
    const int elapsed = std::stoi(dialog.m_strElapsedMs.str());
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 1000);
    EXPECT_EQ(dialog.m_bCapturing, 0);
    EXPECT_EQ(dialog.m_bCaptureStopped, 0);
}

TEST_F(ScriptedRun, StartRunsTheMeasurement)
{
    dialog.m_bRunning = 0;
    dialog.m_bCancel = 1;
    Script(10, 2, Samples(10, TwoThreadSample));
    counters.scripts[0][5].action = [this] {
        EXPECT_EQ(dialog.m_bRunning, 1);
        EXPECT_EQ(dialog.m_bCancel, 0);
    };

    dialog.OnBnClickedStart();

    EXPECT_EQ(counters.QueriesOpened(), 2);
    EXPECT_EQ(dialog.m_strCpuMin.str(), " 98.44");
    EXPECT_EQ(dialog.m_strCpuAvg.str(), " 98.44");
    EXPECT_EQ(dialog.m_strThreadsMax.str(), "  2");
    EXPECT_EQ(dialog.m_strParallelTime.str(), " 30.00");
    EXPECT_EQ(dialog.m_strThreadTable.str(), "  0                100.00           93.75           93.75           93.75");
    EXPECT_EQ(dialog.m_strConcurrency.str(), "  2                   30.00");
    EXPECT_EQ(dialog.m_strSamples.str(), "      10");
    EXPECT_EQ(dialog.m_bRunning, 0);
    EXPECT_EQ(dialog.m_bCancel, 1);
    EXPECT_EQ(FilesIn(LogFolder()).size(), 2u) << "logging off creates no file";
    EXPECT_EQ(Starts(), 2);
}

TEST_F(ScriptedRun, StartDuringARunStartsNothing)
{
    dialog.OnBnClickedStart();

    EXPECT_EQ(counters.QueriesOpened(), 0);
    EXPECT_TRUE(recorded.boxes.empty());
}

TEST_F(ScriptedRun, StartWithoutATargetAsksForOne)
{
    dialog.m_bRunning = 0;
    dialog.m_strAppPath = "";

    dialog.OnBnClickedStart();

    EXPECT_EQ(recorded.boxes,
              (std::vector<Box>{{"Click the button GET APPLICATION NAME to select application!!!", "Error"}}));
    EXPECT_EQ(counters.QueriesOpened(), 0);
    EXPECT_EQ(dialog.m_bRunning, 0);
}

struct FailureCase {
    const char* name;
    std::function<void(ScriptedCounters&, CQuorvexDlg&)> arrange;
    std::vector<Box> boxes;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class RunFailure : public ScriptedRun, public testing::WithParamInterface<FailureCase> {};

TEST_P(RunFailure, ShowsItsMessageAndLeavesNothingBehind)
{
    Script(10, 2, Samples(10, TwoThreadSample));
    GetParam().arrange(counters, dialog);

    dialog.CollectData();

    EXPECT_EQ(recorded.boxes, GetParam().boxes);
}

void SampleWithout(ScriptedCounters& counters, int sample, const std::string& path)
{
    counters.scripts[0][static_cast<size_t>(sample)].values.erase(path);
}

const Box kNoElapsedTime = {"Cannot get elapsed time!!!", "Error"};
const Box kNoThreadTotal = {"Cannot get Total number of threads", "Error"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RunFailure,
    testing::Values(
        FailureCase{"OpenQuery",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.openFailures[0] = PDH_INVALID_ARGUMENT; },
                    {{"Open Query failed!!!", "-1073738819"}, kNoElapsedTime}},
        FailureCase{"AddProcessCpu",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.addFailures[{0, ProcessCpuPath(kName)}] = PDH_CSTATUS_NO_OBJECT; },
                    {{"Add counter failed!!!", "-1073738824"}, kNoElapsedTime}},
        FailureCase{"AddThreadCount",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.addFailures[{0, ThreadCountPath(kName)}] = PDH_CSTATUS_NO_COUNTER; },
                    {{"Add counter failed!!!", "-1073738823"}, kNoElapsedTime}},
        FailureCase{"ProbeOpenQuery",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.openFailures[1] = PDH_INVALID_ARGUMENT; },
                    {{"Cannot open query !!!", "Get Max Thread Error"}, kNoThreadTotal}},
        FailureCase{"ProbeAddCounter",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.addFailures[{1, ThreadCountPath(kName)}] = PDH_CSTATUS_NO_OBJECT; },
                    {{"Cannot add counter !!!", "Get Max Thread Error"}, kNoThreadTotal}},
        FailureCase{"ProbeFirstCollection",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.scripts[1].clear(); },
                    {{"Cannot query data !!!", "Get Max Thread Error"}, kNoThreadTotal}},
        FailureCase{"ProbeThreadCountUnreadable",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.scripts[1][4].values.clear(); },
                    {{"Sample Counter is less than MINIMUM_SAMPLES!!!", "Get Max Thread Error"}, kNeedMore, kNoThreadTotal}},
        FailureCase{"ThreadCpuCounter",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.addFailures[{0, ThreadCpuPath(kName, 1)}] = PDH_CSTATUS_NO_OBJECT; },
                    {{"Cannot add thread counter !!!", "Collect Data"}}},
        FailureCase{"ThreadStateCounter",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.addFailures[{0, ThreadStatePath(kName, 0)}] = PDH_CSTATUS_NO_OBJECT; },
                    {{"Cannot add thread status counter !!!", "Collect Data"}}},
        FailureCase{"FirstCollection",
                    [](ScriptedCounters& c, CQuorvexDlg&) { c.scripts[0][0].status = PDH_INVALID_DATA; },
                    {kMakeSure, {"PdhCollectQueryData failed!!!", "-1073738810"}}},
        FailureCase{"DataLogFolderMissing",
                    [](ScriptedCounters&, CQuorvexDlg& d) {
                        d.m_strGenerateLog = "Yes";
                        std::strcpy(d.m_szLogFolder, "/nonexistent-quorvex-folder");
                    },
                    {kMakeSure, {"Open log file failed!", "Collect data"}}},
        FailureCase{"ProcessCpuUnreadable",
                    [](ScriptedCounters& c, CQuorvexDlg&) { SampleWithout(c, 3, ProcessCpuPath(kName)); },
                    {kMakeSure, {"Get Format Value failed!!!", "Collect data - %Processor Time"}}},
        FailureCase{"ThreadCountUnreadable",
                    [](ScriptedCounters& c, CQuorvexDlg&) { SampleWithout(c, 3, ThreadCountPath(kName)); },
                    {kMakeSure, {"Get Format Value failed!!!", "Collect data - Thread Count"}}},
        FailureCase{"ProcessCpuUnreadableAfterTenSamples",
                    [](ScriptedCounters& c, CQuorvexDlg&) {
                        c.scripts[0].push_back(TwoThreadSample(10));
                        SampleWithout(c, 11, ProcessCpuPath(kName));
                    },
                    {kMakeSure}}));

} // namespace
