// Whole runs against scripted counters: every value, message box and log
// byte is known in advance. The target is a real process (a script that
// sleeps), so starting and ending it is real too.

#include "CaptureOutput.h"
#include "DataLog.h"
#include "EngineTesting.h"
#include "SummaryLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>

namespace {

struct Collection {
    PDH_STATUS status = ERROR_SUCCESS;
    std::map<std::string, double> values;  // by counter path; a counter not listed cannot be read
    std::function<void()> action;          // runs as the collection is made, like a click during the run
};
// Collections past the end of a script report PDH_NO_DATA: the target has ended.
using Script = std::vector<Collection>;

// Plays back scripted collections, and fails on demand.
class ScriptedCounters : public CounterService {
public:
    ScriptedCounters() { SetCounterService(this); }
    ~ScriptedCounters() override { SetCounterService(nullptr); }

    // By the order in which queries are opened: the run's, then the probe's.
    std::vector<Script> scripts;
    std::map<int, PDH_STATUS> openFailures;
    std::map<std::pair<int, std::string>, PDH_STATUS> addFailures;  // by query and path
    std::vector<std::string> added;

    long OpenQueries() const
    {
        return std::count_if(m_queries.begin(), m_queries.end(), [](const Query& query) { return query.open; });
    }

    PDH_STATUS OpenQuery(PDH_HQUERY* handle) override
    {
        const int index = static_cast<int>(m_queries.size());
        m_queries.push_back({index, !openFailures.count(index)});
        if (!m_queries.back().open)
            return openFailures[index];
        *handle = &m_queries.back();
        return ERROR_SUCCESS;
    }

    PDH_STATUS AddCounter(PDH_HQUERY handle, const char* path, PDH_HCOUNTER* counter) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        added.push_back(path);
        const auto failure = addFailures.find({query->index, path});
        if (failure != addFailures.end())
            return failure->second;
        m_counters.push_back({query, path});
        *counter = &m_counters.back();
        return ERROR_SUCCESS;
    }

    PDH_STATUS BindQuery(PDH_HQUERY handle, HANDLE) override { return Find(handle) ? ERROR_SUCCESS : PDH_INVALID_HANDLE; }

    PDH_STATUS CollectQueryData(PDH_HQUERY handle, LONGLONG) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        const size_t next = query->collected++;
        const auto index = static_cast<size_t>(query->index);
        query->current = index < scripts.size() && next < scripts[index].size() ? &scripts[index][next] : nullptr;
        if (!query->current)
            return PDH_NO_DATA;
        if (query->current->action)
            query->current->action();
        return query->current->status;
    }

    PDH_STATUS GetCounterValue(PDH_HCOUNTER handle, double* value) override
    {
        const auto* counter = static_cast<const Counter*>(handle);
        if (!counter || !counter->query->open)
            return PDH_INVALID_HANDLE;
        const Collection* current = counter->query->current;
        if (!current || !current->values.count(counter->path))
            return PDH_INVALID_DATA;
        *value = current->values.at(counter->path);
        return ERROR_SUCCESS;
    }

    PDH_STATUS CloseQuery(PDH_HQUERY handle) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        query->open = false;
        return ERROR_SUCCESS;
    }

private:
    struct Query {
        int index;
        bool open;
        size_t collected = 0;
        const Collection* current = nullptr;
    };
    struct Counter {
        const Query* query;
        std::string path;
    };

    // Handles are addresses in the deques, which never move; a closed query's are refused.
    static Query* Find(PDH_HQUERY handle)
    {
        auto* query = static_cast<Query*>(handle);
        return query && query->open ? query : nullptr;
    }

    std::deque<Query> m_queries;
    std::deque<Counter> m_counters;
};

const std::string kName = "render";
const std::string kMakeSure = "[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!";
const std::string kNeedMore = "[Get Max Thread] Need to collect at least  10";

struct ThreadSample {
    double cpu;
    double state;
};

Collection Sample(double cpu, double threads, const std::vector<ThreadSample>& perThread = {})
{
    Collection sample{.values = {{ProcessPath(kName, "% Processor Time"), cpu},
                                 {ProcessPath(kName, "Thread Count"), threads}}};
    for (size_t j = 0; j < perThread.size(); ++j) {
        sample.values[ThreadPath(kName, static_cast<int>(j), "% Processor Time")] = perThread[j].cpu;
        sample.values[ThreadPath(kName, static_cast<int>(j), "Thread State")] = perThread[j].state;
    }
    return sample;
}

// Thread 0 always running; thread 1 running in the first three samples.
Collection TwoThreadSample(int k)
{
    return Sample(98.4375, 2, {{93.75, 2}, {4.6875, k < 3 ? 2.0 : 5.0}});
}

// The collection that gives the rates their base, then the samples.
Script Samples(int count, const std::function<Collection(int)>& sample)
{
    Script script(1);
    for (int k = 0; k < count; ++k)
        script.push_back(sample(k));
    return script;
}

Collection ThreadCount(double count)
{
    return {.values = {{ProcessPath(kName, "Thread Count"), count}}};
}

// Time stamps are the only bytes a run cannot know in advance.
std::string WithoutTimeStamps(const std::string& log)
{
    static const std::regex stamp(R"("\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}")");
    return std::regex_replace(log, stamp, "\"TIME\"");
}

const std::string kTwoThreadHead =
    "[Quorvex]\n[Start Data]\n\"Time\",\"TOTAL_CPU_Utilization\",\"Thread_0_CPU_Utilization\","
    "\"Thread_0_Status\",\"Thread_1_CPU_Utilization\",\"Thread_1_Status\"";
const std::string kSummaryLogHead =
    "\"Quorvex\"\n\"render.exe\"\n\"4\",\"1\"\n\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n";

std::string TwoThreadRecords(int count)
{
    std::string records;
    for (int k = 0; k < count; ++k)
        records += std::string("\n\"TIME\",\"98.4375\",\"93.75\",\"2\",\"4.6875\",\"") + (k < 3 ? "2" : "5") + "\"";
    return records;
}

// A dialog with the results of an earlier run, as START leaves it.
class ScriptedRun : public testing::Test {
public:
    ScriptedRun()
    {
        target = folder.AddScript("render.exe", "exec sleep 60");
        dialog.m_bGuiMode = dialog.m_bRunning = 1;
        dialog.m_bCancel = 0;
        dialog.m_strAppPath = target.c_str();
        std::snprintf(dialog.m_szProcessName, sizeof dialog.m_szProcessName, "%s", kName.c_str());
        std::snprintf(dialog.m_szLogFolder, sizeof dialog.m_szLogFolder, "%s", folder.Path().c_str());
        dialog.m_strSamplingRate = "0";
        dialog.m_strDuration = "30";
        dialog.m_strGenerateLog = "Yes";
        dialog.m_strProcessorInfo = "Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz";
        dialog.m_strFrequency = "   2400";
        dialog.m_strSockets = "  1";
        dialog.m_strCores = "  2";
        dialog.m_strLogicals = "  4";
        dialog.m_strMultiProcessor = "No";
        dialog.m_strMultiCore = "Yes";
        dialog.m_strSmt = "Enabled";
        for (CString* result : Members())
            *result = "before";
        dialog.m_strSamples = "before";
    }

    ~ScriptedRun() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
        EXPECT_EQ(counters.OpenQueries(), 0);
    }

    // The probe sees this many threads in each of its ten samples.
    void Play(double threads, Script run)
    {
        counters.scripts = {std::move(run), Samples(10, [=](int) { return ThreadCount(threads); })};
    }

    std::vector<CString*> Members()
    {
        return {&dialog.m_strCpuMin,     &dialog.m_strCpuAvg,     &dialog.m_strCpuMax,
                &dialog.m_strThreadsMin, &dialog.m_strThreadsAvg, &dialog.m_strThreadsMax,
                &dialog.m_strParallelTime, &dialog.m_strThreadTable, &dialog.m_strConcurrency};
    }

    std::vector<std::string> Results()
    {
        std::vector<std::string> results;
        for (const CString* result : Members())
            results.push_back(result->str());
        return results;
    }

    // The log of this kind (QV or QVS, then the time to the minute), "" when there is none.
    std::string Log(const std::string& prefix) const
    {
        const std::regex name(prefix + R"(\d{12}\.txt)");
        for (const std::string& file : FilesIn(folder.Path())) {
            if (std::regex_match(file, name))
                return ReadFile(folder.Path() + "/" + file);
        }
        return "";
    }

    ScratchFolder folder;
    std::optional<ScratchTmpfs> tmpfs;
    std::string target;
    ScriptedCounters counters;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

class SampleCount : public ScriptedRun, public testing::WithParamInterface<int> {};

// Nine samples leave the results and the logs' summaries alone; ten publish them.
TEST_P(SampleCount, TenPublishTheStatisticsAndBothSummaries)
{
    const int samples = GetParam();
    Play(2, Samples(samples, TwoThreadSample));

    dialog.CollectData();

    EXPECT_EQ(BoxTexts(recorded), std::vector<std::string>{kMakeSure});
    EXPECT_EQ(dialog.m_strSamples.str(), samples == 9 ? "       9" : "      10");
    const std::string elapsed = dialog.m_strElapsedMs.str();
    // The target still ran when the script ended: its time so far.
    EXPECT_GE(std::stoi(elapsed), 1000);
    EXPECT_LT(std::stoi(elapsed), 60000);
    if (samples < 10) {
        EXPECT_EQ(Results(), std::vector<std::string>(9, "before"));
        EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(samples));
        EXPECT_EQ(Log("QVS"), kSummaryLogHead);
        return;
    }
    EXPECT_EQ(Results(), (std::vector<std::string>{
                             " 98.44", " 98.44", " 98.44", "  2", "  2", "  2", " 30.00",
                             "  0                100.00           93.75           93.75           93.75",
                             "  2                   30.00"}));
    EXPECT_EQ(WithoutTimeStamps(Log("QV")),
              kTwoThreadHead + TwoThreadRecords(10) +
                  "\n[End Data]\n"
                  "[Start Summary]\n"
                  "Processor Information: Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz\n"
                  "Frequency (MHz)=    2400 Sockets =   1  Cores =   2  Logicals =   4 Multi-processor: No  "
                  "Multi_core: Yes  Twinlane: Enabled\n"
                  "[Application] " + target + "\n"
                  "Application Parameters: \n"
                  "Sampling Rate(ms)= 0  Elapsed Time(ms)= " + elapsed + "  Parallel Time(%)=  30.00\n"
                  "CPU Utilization (%): Min =  98.44  Avg =  98.44  Max =  98.44\n"
                  "Thread#   %Time   Thread_CPU_Utilization(%)  Min        Avg       Max\n"
                  "  0      100.00                            93.75       93.75     93.75\n"
                  "  1       30.00                             4.69        4.69      4.69\n"
                  "Concurrent Level   %Time\n"
                  "  2                30.00\n"
                  "[End Summary]");
    EXPECT_EQ(Log("QVS"), kSummaryLogHead + "\"  2\",\"  4\",\"" + elapsed + "\",\" 30.00\"\n");
}

INSTANTIATE_TEST_SUITE_P(NineAndTen, SampleCount, testing::Values(9, 10));

TEST_F(ScriptedRun, CancelledRunKeepsItsResultsToTheMembers)
{
    Script samples = Samples(15, TwoThreadSample);
    samples[12].action = [this] { dialog.OnBnClickedCancel(); };
    Play(2, samples);

    dialog.CollectData();

    EXPECT_EQ(dialog.m_strSamples.str(), "      12");
    EXPECT_EQ(Results(), (std::vector<std::string>{" 98.44", " 98.44", " 98.44", "  2", "  2", "  2", " 25.00",
                                                   "before", "before"}));
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "0");
    EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(12));
    EXPECT_EQ(Log("QVS"), kSummaryLogHead);
}

TEST_F(ScriptedRun, ThreadsNeverReadableAreLoggedAsZero)
{
    Play(2, Samples(10, [](int) { return Sample(50, 2); }));

    dialog.CollectData();

    EXPECT_EQ(Results(), (std::vector<std::string>{
                             " 50.00", " 50.00", " 50.00", "  2", "  2", "  2", "  0.00",
                             "  0                  0.00            0.00            0.00            0.00", "before"}));
    EXPECT_NE(WithoutTimeStamps(Log("QV")).find("\n\"TIME\",\"50\",\"0\",\"0\",\"0\",\"0\"\n[End Data]"),
              std::string::npos);
}

TEST_F(ScriptedRun, SingleThreadedTargetHasNoConcurrencyRows)
{
    Play(1, Samples(10, [](int) { return Sample(99, 1, {{99, 2}}); }));

    dialog.CollectData();

    EXPECT_EQ(Results(), (std::vector<std::string>{
                             " 99.00", " 99.00", " 99.00", "  1", "  1", "  1", "  0.00",
                             "  0                100.00           99.00           99.00           99.00", "before"}));
    EXPECT_TRUE(Log("QV").ends_with("  0      100.00                            99.00       99.00     99.00\n"
                                    "Concurrent Level   %Time\n[End Summary]"));
}

TEST_F(ScriptedRun, LoggingOffCreatesNoFile)
{
    dialog.m_strGenerateLog = "No";
    Play(2, Samples(10, TwoThreadSample));

    dialog.CollectData();

    EXPECT_EQ(dialog.m_strSamples.str(), "      10");
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"render.exe"});
}

TEST_F(ScriptedRun, LoggingSwitchedOffDuringTheRunStopsTheRecordsAndSummaries)
{
    Script samples = Samples(12, TwoThreadSample);
    samples[5].action = [this] { dialog.m_strGenerateLog = "No"; };
    Play(2, samples);

    dialog.CollectData();

    EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(4));
    EXPECT_EQ(Log("QVS"), kSummaryLogHead);
}

// The largest count the probe saw, not its last; 200 threads fill every slot.
TEST_F(ScriptedRun, WatchesTheMostThreadsTheProbeSaw)
{
    counters.scripts = {Samples(10, [](int) { return Sample(150, 200); }),
                        Samples(10, [](int k) { return ThreadCount(k == 1 ? 200 : 3); })};

    dialog.CollectData();

    EXPECT_EQ(BoxTexts(recorded), std::vector<std::string>{kMakeSure});
    EXPECT_EQ(counters.added.size(), 2u + 1 + 400) << "the run's, the probe's, a pair per thread";
    EXPECT_EQ(counters.added.back(), ThreadPath(kName, 199, "Thread State"));
    const std::string log = Log("QV");
    const size_t headEnd = std::strlen(DATA_LOG_HEAD);
    EXPECT_EQ(log.find('\n', headEnd) - headEnd, 9610u);
    EXPECT_EQ(dialog.m_strSamples.str(), "      10");
}

// The box, then a line that says why; the controls go back to idle.
TEST_F(ScriptedRun, StopsAtTheTwoHundredAndFirstThread)
{
    Play(300, Samples(10, [](int) { return Sample(150, 300); }));

    const std::string err = CaptureStderr([this] { EXPECT_EQ(dialog.CollectData(), 0); });

    EXPECT_EQ(BoxTexts(recorded), std::vector<std::string>{"[Collect Data] Cannot add thread counter !!!"});
    EXPECT_EQ(err, "quorvex: render has 300 threads; at most 200 are watched\n");
    EXPECT_EQ(counters.added.back(), ThreadPath(kName, 199, "Thread State"));
    EXPECT_EQ(dialog.m_bRunning, 0);
    EXPECT_EQ(dialog.m_bCancel, 1);
    EXPECT_EQ(dialog.m_strSamples.str(), "before");
}

// A click dispatched by the run in progress starts nothing.
TEST_F(ScriptedRun, StartDuringARunStartsNothing)
{
    dialog.OnBnClickedStart();

    EXPECT_TRUE(counters.added.empty());
    EXPECT_TRUE(recorded.boxes.empty());
}

struct BoxCase {
    const char* name;
    std::function<void(ScriptedRun&)> arrange;
    std::vector<std::string> boxes;
    const char* samples;  // where the run ended; "before" when it was abandoned
};

void PrintTo(const BoxCase& c, std::ostream* os)
{
    *os << c.name;
}

class RunMessages : public ScriptedRun, public testing::WithParamInterface<BoxCase> {};

TEST_P(RunMessages, AreShownAndTheRunEndsWhereItShould)
{
    Play(2, Samples(10, TwoThreadSample));
    GetParam().arrange(*this);
    if (IsSkipped())
        return;

    dialog.CollectData();

    EXPECT_EQ(BoxTexts(recorded), GetParam().boxes);
    EXPECT_EQ(dialog.m_strSamples.str(), GetParam().samples);
}

// Queries by the order they are opened: the run's 0, the probe's 1.
std::function<void(ScriptedRun&)> FailAdd(int query, const std::string& path)
{
    return [=](ScriptedRun& r) { r.counters.addFailures[{query, path}] = PDH_CSTATUS_NO_OBJECT; };
}

std::function<void(ScriptedRun&)> UnreadableInSample(size_t sample, const char* counter)
{
    return [=](ScriptedRun& r) { r.counters.scripts[0][sample].values.erase(ProcessPath(kName, counter)); };
}

// The run's logs go to a file system of their own, too small for them.
std::function<void(ScriptedRun&)> LogsOnATmpfs(const char* options)
{
    return [=](ScriptedRun& r) {
        r.tmpfs.emplace(options);
        if (!r.tmpfs->Mounted())
            GTEST_SKIP() << "this process may not mount a tmpfs";
        std::snprintf(r.dialog.m_szLogFolder, sizeof r.dialog.m_szLogFolder, "%s", r.tmpfs->Path().c_str());
    };
}

const std::string kNoElapsedTime = "[Error] Cannot get elapsed time!!!";
const std::string kNoThreadTotal = "[Error] Cannot get Total number of threads";
const std::string kMaxThreadError = "[Get Max Thread Error] ";

INSTANTIATE_TEST_SUITE_P(
    Cases, RunMessages,
    testing::Values(
        BoxCase{"OpenQuery", [](ScriptedRun& r) { r.counters.openFailures[0] = PDH_INVALID_ARGUMENT; },
                {"[-1073738819] Open Query failed!!!", kNoElapsedTime}, "       0"},
        BoxCase{"AddProcessCounter", FailAdd(0, ProcessPath(kName, "% Processor Time")),
                {"[-1073738824] Add counter failed!!!", kNoElapsedTime}, "       0"},
        BoxCase{"ProbeOpenQuery", [](ScriptedRun& r) { r.counters.openFailures[1] = PDH_INVALID_ARGUMENT; },
                {kMaxThreadError + "Cannot open query !!!", kNoThreadTotal}, "before"},
        BoxCase{"ProbeAddCounter", FailAdd(1, ProcessPath(kName, "Thread Count")),
                {kMaxThreadError + "Cannot add counter !!!", kNoThreadTotal}, "before"},
        BoxCase{"ProbeFirstCollection", [](ScriptedRun& r) { r.counters.scripts[1].clear(); },
                {kMaxThreadError + "Cannot query data !!!", kNoThreadTotal}, "before"},
        BoxCase{"ProbeThreadCountUnreadable", [](ScriptedRun& r) { r.counters.scripts[1][4].values.clear(); },
                {kMaxThreadError + "Sample Counter is less than MINIMUM_SAMPLES!!!", kNeedMore, kNoThreadTotal},
                "before"},
        BoxCase{"ProbeOfATargetThatEndsEarlyGoesOn", [](ScriptedRun& r) { r.counters.scripts[1].resize(4); },
                {kNeedMore, kMakeSure}, "      10"},
        BoxCase{"DurationOfZeroTakesOneSample", [](ScriptedRun& r) { r.dialog.m_strDuration = "0"; },
                {kNeedMore, kMakeSure}, "       1"},
        BoxCase{"ThreadCpuCounter", FailAdd(0, ThreadPath(kName, 1, "% Processor Time")),
                {"[Collect Data] Cannot add thread counter !!!"}, "before"},
        BoxCase{"ThreadStateCounter", FailAdd(0, ThreadPath(kName, 0, "Thread State")),
                {"[Collect Data] Cannot add thread status counter !!!"}, "before"},
        BoxCase{"FirstCollection", [](ScriptedRun& r) { r.counters.scripts[0][0].status = PDH_INVALID_DATA; },
                {kMakeSure, "[-1073738810] PdhCollectQueryData failed!!!"}, "       0"},
        BoxCase{"DataLogFolderMissing",
                [](ScriptedRun& r) { std::strcpy(r.dialog.m_szLogFolder, "/nonexistent-quorvex-folder"); },
                {kMakeSure, "[Collect data] Open log file failed!"}, "       0"},
        // Room for one file: the data log.
        BoxCase{"SummaryLogCannotBeCreated", LogsOnATmpfs("nr_inodes=2"),
                {kMakeSure, "[Collect data] Open summary log file failed!"}, "       0"},
        // Room for one page: the data log's.
        BoxCase{"LogWritesLost", LogsOnATmpfs("size=4k"), {kMakeSure, "[Collect data] Write log file failed!"},
                "      10"},
        BoxCase{"ProcessCpuUnreadable", UnreadableInSample(3, "% Processor Time"),
                {kMakeSure, "[Collect data - %Processor Time] Get Format Value failed!!!"}, "       2"},
        BoxCase{"ThreadCountUnreadable", UnreadableInSample(3, "Thread Count"),
                {kMakeSure, "[Collect data - Thread Count] Get Format Value failed!!!"}, "       2"},
        BoxCase{"ProcessCpuUnreadableAfterTenSamples", [](ScriptedRun& r) { r.counters.scripts[0].push_back({}); },
                {kMakeSure}, "      10"}));

} // namespace
