// Whole runs against scripted counters: every value, message box and log
// byte is known in advance. The target is a real process (a script that
// sleeps), so starting and ending it is real too.

#include "CaptureOutput.h"
#include "DataLog.h"
#include "EngineTesting.h"
#include "RunStatistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>

namespace {

const std::string kName = "render";
const std::string kMakeSure = "[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!";
const std::string kNeedMore = "[Get Max Thread] Need to collect at least  10";

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
const std::string kTwoThreadFigures =
    "cpu 98.4375/98.4375/98.4375 threads 2/2/2 parallel 30 | t0 100 93.75 93.75 93.75 | t1 30 4.6875 4.6875 4.6875 "
    "| L2 30";

std::string TwoThreadRecords(int count)
{
    std::string records;
    for (int k = 0; k < count; ++k)
        records += std::string("\n\"TIME\",\"98.4375\",\"93.75\",\"2\",\"4.6875\",\"") + (k < 3 ? "2" : "5") + "\"";
    return records;
}

// A logged run of a target that sleeps, as the dialog sets it up.
class ScriptedRun : public testing::Test {
public:
    ScriptedRun()
    {
        target = folder.AddScript("render.exe", "exec sleep 60");
        settings = {.appPath = target,
                    .processName = kName,
                    .interval = std::chrono::milliseconds(0),
                    .duration = std::chrono::seconds(30),
                    .logFolder = folder.Path(),
                    .machine = {"Intel(R) Core(TM) i7 CPU 860 @ 2.80GHz", "   2400", "  1", "  2", "  4", "No",
                                "Yes", "Enabled"}};
        observer.controls.logging = true;
    }

    ~ScriptedRun() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
        EXPECT_EQ(counters.OpenQueries(), 0);
    }

    // Counters anew whose probe sees this many threads in each of its ten samples.
    void Play(double threads, Script run)
    {
        counters = ScriptedCounters{};
        counters.scripts = {std::move(run), Samples(10, [=](int) { return ThreadCount(threads); })};
    }

    RunResult Run() { return RunSampled(settings, observer, counters); }

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
    RunSettings settings;
    RecordingObserver observer;
};

// Nine samples give no figures and no summaries; ten give both.
TEST_F(ScriptedRun, TenSamplesGiveTheFiguresAndBothSummaries)
{
    for (const int samples : {9, 10}) {
        for (const std::string& file : FilesIn(folder.Path())) {
            if (file.starts_with("QV"))
                std::filesystem::remove(folder.Path() + "/" + file);
        }
        Play(2, Samples(samples, TwoThreadSample));
        observer.boxes.clear();

        const RunResult result = Run();

        EXPECT_EQ(observer.boxes, std::vector<std::string>{kMakeSure});
        EXPECT_EQ(result.samples, samples);
        EXPECT_EQ(result.end, RunEnd::Other) << "the script ended: the target's end";
        // The target still ran when the script ended: its time so far.
        ASSERT_TRUE(result.elapsedMs);
        EXPECT_GE(*result.elapsedMs, 1000u);
        EXPECT_LT(*result.elapsedMs, 60000u);
        const std::string elapsed = std::to_string(*result.elapsedMs);
        if (samples < 10) {
            EXPECT_EQ(Figures(result.statistics), "none");
            EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(samples));
            EXPECT_EQ(Log("QVS"), kSummaryLogHead);
            continue;
        }
        EXPECT_EQ(Figures(result.statistics), kTwoThreadFigures);
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
}

// The run ends after the sample the cancel came with; its figures are
// returned, but the logs get no summary.
TEST_F(ScriptedRun, CancelledRunEndsAfterItsSampleWithoutSummaries)
{
    Play(2, Samples(15, TwoThreadSample));
    observer.afterSample = [this](int samples) { observer.controls.cancel = samples == 12; };

    const RunResult result = Run();

    EXPECT_EQ(result.samples, 12);
    EXPECT_EQ(result.end, RunEnd::Cancelled);
    EXPECT_EQ(result.elapsedMs, 0u);
    ASSERT_TRUE(result.statistics);
    EXPECT_EQ(result.statistics->parallelPercent, 25);
    EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(12));
    EXPECT_EQ(Log("QVS"), kSummaryLogHead);
}

TEST_F(ScriptedRun, ThreadsNeverReadableAreLoggedAsZero)
{
    Play(2, Samples(10, [](int) { return Sample(50, 2); }));

    const RunResult result = Run();

    EXPECT_EQ(Figures(result.statistics), "cpu 50/50/50 threads 2/2/2 parallel 0 | t0 0 0 0 0 | t1 0 0 0 0");
    EXPECT_NE(WithoutTimeStamps(Log("QV")).find("\n\"TIME\",\"50\",\"0\",\"0\",\"0\",\"0\"\n[End Data]"),
              std::string::npos);
}

// Extremes start at the run's first sample, whatever a thread read then;
// the levels and the parallel time count samples with two or more running.
TEST_F(ScriptedRun, FiguresFollowTheSamples)
{
    const std::vector<std::vector<ThreadSample>> threads = {
        {{10, 2}, {0, 5}, {0, 5}}, {{30, 2}, {20, 2}, {0, 5}}, {{20, 2}, {40, 2}, {50, 2}}, {{0, 5}, {0, 5}, {0, 5}}};
    Play(3, Samples(10, [&](int k) {
        Collection sample = Sample(100 + 10 * (k % 4), 3 + k % 2, threads[static_cast<size_t>(k % 4)]);
        if (k == 0)
            sample.values.erase(ThreadPath(kName, 2, "% Processor Time"));
        return sample;
    }));

    const RunResult result = Run();

    EXPECT_EQ(Figures(result.statistics),
              "cpu 100/113/130 threads 3/3.5/4 parallel 50 | t0 80 0 16 30 | t1 50 0 14 40 | t2 20 0 10 50 "
              "| L2 30 | L3 20");
    EXPECT_NE(WithoutTimeStamps(Log("QV")).find("\n\"TIME\",\"100\",\"10\",\"2\",\"0\",\"5\",\"0\",\"5\"\n"),
              std::string::npos);
}

TEST_F(ScriptedRun, SingleThreadedTargetHasNoConcurrencyRows)
{
    Play(1, Samples(10, [](int) { return Sample(99, 1, {{99, 2}}); }));

    const RunResult result = Run();

    EXPECT_EQ(Figures(result.statistics), "cpu 99/99/99 threads 1/1/1 parallel 0 | t0 100 99 99 99");
    EXPECT_TRUE(Log("QV").ends_with("  0      100.00                            99.00       99.00     99.00\n"
                                    "Concurrent Level   %Time\n[End Summary]"));
}

TEST_F(ScriptedRun, LoggingOffCreatesNoFile)
{
    observer.controls.logging = false;
    Play(2, Samples(10, TwoThreadSample));

    EXPECT_EQ(Run().samples, 10);
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"render.exe"});
}

TEST_F(ScriptedRun, LoggingSwitchedOffDuringTheRunStopsTheRecordsAndSummaries)
{
    Script samples = Samples(12, TwoThreadSample);
    samples[5].action = [this] { observer.controls.logging = false; };
    Play(2, samples);

    Run();

    EXPECT_EQ(WithoutTimeStamps(Log("QV")), kTwoThreadHead + TwoThreadRecords(4));
    EXPECT_EQ(Log("QVS"), kSummaryLogHead);
}

// The duration, when it elapsed; the capture window, when the user closed
// it: from its opening to the end of the last sample.
TEST_F(ScriptedRun, ElapsedTimeIsTheDurationOrTheCaptureWindow)
{
    settings.duration = std::chrono::seconds(0);
    Play(2, Samples(10, TwoThreadSample));
    RunResult result = Run();
    EXPECT_EQ(observer.boxes, (std::vector<std::string>{kNeedMore, kMakeSure}));
    EXPECT_EQ(result.end, RunEnd::DurationElapsed);
    EXPECT_EQ(result.samples, 1);
    EXPECT_EQ(result.elapsedMs, 0u);

    settings.duration = std::chrono::seconds(30);
    settings.interval = std::chrono::milliseconds(50);
    observer = {};
    observer.controls.manualCapture = true;
    observer.afterSample = [this](int samples) { observer.controls.captureStopped = samples == 4; };
    Play(2, Samples(10, TwoThreadSample));
    result = Run();
    EXPECT_EQ(observer.captureWaits, 2) << "the probe's window and the run's";
    EXPECT_EQ(result.end, RunEnd::CaptureStopped);
    EXPECT_EQ(result.samples, 4);
    ASSERT_TRUE(result.elapsedMs);
    EXPECT_GE(*result.elapsedMs, 200u);
    EXPECT_LT(*result.elapsedMs, 5000u);
}

// The run samples at its start + k * interval however late it runs: a
// collection that outlasts two intervals is followed at once by the two
// instants it overran, each given its own instant, and the schedule goes on.
TEST_F(ScriptedRun, LateSamplesAreTakenForTheirOwnInstants)
{
    constexpr std::uint64_t kIntervalNs = 20'000'000;
    settings.interval = std::chrono::milliseconds(20);
    Script run = Samples(10, TwoThreadSample);
    run[3].action = [] { Sleep(50); };  // the third sample's
    Play(2, run);
    EXPECT_EQ(Run().samples, 10);
    std::vector<ScriptedCounters::Made> made;  // the run's, after its settling collection
    std::copy_if(counters.collections.begin(), counters.collections.end(), std::back_inserter(made),
                 [](const ScriptedCounters::Made& collection) { return collection.query == 0; });
    ASSERT_EQ(made.size(), 12u) << "the settling collection, ten samples, then the end of the script";
    made.erase(made.begin());
    for (size_t k = 1; k < made.size(); ++k)
        EXPECT_EQ((made[k].instantNs - made[0].instantNs) % kIntervalNs, 0u) << "sample " << k;
    EXPECT_GE(made[3].madeNs - made[3].instantNs, kIntervalNs) << "taken late, for its own instant";
    EXPECT_GT(made[4].madeNs - made[4].instantNs, kIntervalNs / 2);
}

// The largest count the probe saw, not its last; 200 threads fill every slot.
TEST_F(ScriptedRun, WatchesTheMostThreadsTheProbeSaw)
{
    counters.scripts = {Samples(10, [](int) { return Sample(150, 200); }),
                        Samples(10, [](int k) { return ThreadCount(k == 1 ? 200 : 3); })};

    const RunResult result = Run();

    EXPECT_EQ(observer.boxes, std::vector<std::string>{kMakeSure});
    EXPECT_EQ(counters.added.size(), 2u + 1 + 400) << "the run's, the probe's, a pair per thread";
    EXPECT_EQ(counters.added.back(), ThreadPath(kName, 199, "Thread State"));
    const std::string log = Log("QV");
    const size_t headEnd = std::strlen(DATA_LOG_HEAD);
    EXPECT_EQ(log.find('\n', headEnd) - headEnd, 9610u);
    EXPECT_EQ(result.samples, 10);
}

// The box, then a line that says why.
TEST_F(ScriptedRun, StopsAtTheTwoHundredAndFirstThread)
{
    Play(300, Samples(10, [](int) { return Sample(150, 300); }));

    RunResult result;
    const std::string err = CaptureStderr([&] { result = Run(); });

    EXPECT_EQ(observer.boxes, std::vector<std::string>{"[Collect Data] Cannot add thread counter !!!"});
    EXPECT_EQ(err, "quorvex: render has 300 threads; at most 200 are watched\n");
    EXPECT_EQ(counters.added.back(), ThreadPath(kName, 199, "Thread State"));
    EXPECT_EQ(result.end, RunEnd::Abandoned);
}

// The path, one blank, then the arguments, which the target's runtime
// splits; unquoted, a path's first blank ends the program's name.
TEST_F(ScriptedRun, CommandLineIsThePathABlankAndTheArguments)
{
    const std::string out = folder.Path() + "/args";
    settings.appPath = folder.AddScript("target", "printf '%s|' \"$#\" \"$@\" > " + out + "\nexec sleep 30");
    for (const auto& [arguments, seen] : {std::pair{"a \"b c\"  d", "3|a|b c|d|"}, std::pair{"", "0|"}}) {
        std::filesystem::remove(out);
        observer.arguments = arguments;
        Play(1, Samples(10, [](int) { return Sample(1, 1); }));
        Run();
        EXPECT_EQ(ReadFile(out), seen);
    }
    settings.appPath = folder.Path() + "/my target";
    observer.boxes.clear();
    Play(1, Samples(10, [](int) { return Sample(1, 1); }));
    Run();
    EXPECT_EQ(observer.boxes,
              (std::vector<std::string>{"[Error] Error starting The process !!!",
                                        "[Get Max Thread Error] Cannot query data !!!",
                                        "[Error] Cannot get Total number of threads"}));
}

struct BoxCase {
    const char* name;
    std::function<void(ScriptedRun&)> arrange;
    std::vector<std::string> boxes;
    int samples;  // -1: the run was abandoned
};

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
        if (r.tmpfs->Mounted())
            r.settings.logFolder = r.tmpfs->Path();
    };
}

const std::string kNoElapsedTime = "[Error] Cannot get elapsed time!!!";
const std::string kNoThreadTotal = "[Error] Cannot get Total number of threads";
const std::string kMaxThreadError = "[Get Max Thread Error] ";

// Every box of the flow, and where the run ends after it.
TEST_F(ScriptedRun, MessagesAreShownAndTheRunEndsWhereItShould)
{
    const BoxCase cases[] = {
        {"OpenQuery", [](ScriptedRun& r) { r.counters.openFailures[0] = PDH_INVALID_ARGUMENT; },
         {"[-1073738819] Open Query failed!!!", kNoElapsedTime}, 0},
        {"AddProcessCounter", FailAdd(0, ProcessPath(kName, "% Processor Time")),
         {"[-1073738824] Add counter failed!!!", kNoElapsedTime}, 0},
        {"ProbeOpenQuery", [](ScriptedRun& r) { r.counters.openFailures[1] = PDH_INVALID_ARGUMENT; },
         {kMaxThreadError + "Cannot open query !!!", kNoThreadTotal}, -1},
        {"ProbeAddCounter", FailAdd(1, ProcessPath(kName, "Thread Count")),
         {kMaxThreadError + "Cannot add counter !!!", kNoThreadTotal}, -1},
        {"ProbeFirstCollection", [](ScriptedRun& r) { r.counters.scripts[1].clear(); },
         {kMaxThreadError + "Cannot query data !!!", kNoThreadTotal}, -1},
        {"ProbeThreadCountUnreadable", [](ScriptedRun& r) { r.counters.scripts[1][4].values.clear(); },
         {kMaxThreadError + "Sample Counter is less than MINIMUM_SAMPLES!!!", kNeedMore, kNoThreadTotal}, -1},
        {"ProbeOfATargetThatEndsEarlyGoesOn", [](ScriptedRun& r) { r.counters.scripts[1].resize(4); },
         {kNeedMore, kMakeSure}, 10},
        {"CancelDuringTheProbe", [](ScriptedRun& r) { r.observer.afterSample = [&r](int) { r.observer.controls.cancel = true; }; },
         {kNeedMore, kMakeSure}, 0},
        {"ThreadCpuCounter", FailAdd(0, ThreadPath(kName, 1, "% Processor Time")),
         {"[Collect Data] Cannot add thread counter !!!"}, -1},
        {"ThreadStateCounter", FailAdd(0, ThreadPath(kName, 0, "Thread State")),
         {"[Collect Data] Cannot add thread status counter !!!"}, -1},
        {"FirstCollection", [](ScriptedRun& r) { r.counters.scripts[0][0].status = PDH_INVALID_DATA; },
         {kMakeSure, "[-1073738810] PdhCollectQueryData failed!!!"}, 0},
        {"DataLogFolderMissing", [](ScriptedRun& r) { r.settings.logFolder = "/nonexistent-quorvex-folder"; },
         {kMakeSure, "[Collect data] Open log file failed!"}, 0},
        // Room for one file: the data log.
        {"SummaryLogCannotBeCreated", LogsOnATmpfs("nr_inodes=2"),
         {kMakeSure, "[Collect data] Open summary log file failed!"}, 0},
        // Room for one page: the data log's.
        {"LogWritesLost", LogsOnATmpfs("size=4k"), {kMakeSure, "[Collect data] Write log file failed!"}, 10},
        {"ProcessCpuUnreadable", UnreadableInSample(3, "% Processor Time"),
         {kMakeSure, "[Collect data - %Processor Time] Get Format Value failed!!!"}, 2},
        {"ThreadCountUnreadable", UnreadableInSample(3, "Thread Count"),
         {kMakeSure, "[Collect data - Thread Count] Get Format Value failed!!!"}, 2},
        {"ProcessCpuUnreadableAfterTenSamples", [](ScriptedRun& r) { r.counters.scripts[0].push_back({}); },
         {kMakeSure}, 10}};
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.name);
        tmpfs.reset();
        settings.logFolder = folder.Path();
        observer = {};
        observer.controls.logging = true;
        Play(2, Samples(10, TwoThreadSample));
        c.arrange(*this);
        if (tmpfs && !tmpfs->Mounted())
            continue;  // this process may not mount a tmpfs

        const RunResult result = Run();

        EXPECT_EQ(observer.boxes, c.boxes);
        EXPECT_EQ(result.end == RunEnd::Abandoned ? -1 : result.samples, c.samples);
    }
}

} // namespace
