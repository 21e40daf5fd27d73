// Whole runs of the real engine on the demo workload, as the console run
// makes them. Margins allow for a busy two-processor machine.

#include "CaptureOutput.h"
#include "EngineTesting.h"
#include "ProcFiles.h"
#include "Process.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// Watches, independently of the engine, how much processor time the demo
// started last uses: other work on the machine decides how much it gets.
class CpuWatcher {
public:
    CpuWatcher() : m_thread([this] { Watch(); }) {}
    ~CpuWatcher() { Stop(); }

    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Percent of one processor over the sampled span: from one second after
    // the measured instance started (its settling time) to its end.
    double SampledSpanPercent()
    {
        Stop();
        if (m_readings.empty()) {
            ADD_FAILURE() << "the demo was never seen running";
            return 0;
        }
        const std::vector<Reading>& readings = m_readings.rbegin()->second;
        const Reading* first = nullptr;
        for (const Reading& reading : readings) {
            if (!first && reading.ns >= readings.front().ns + 1000000000)
                first = &reading;
        }
        const Reading& last = readings.back();
        if (!first || last.ns == first->ns) {
            ADD_FAILURE() << "the demo was not seen running after its settling second";
            return 0;
        }
        static const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
        return static_cast<double>(last.ticks - first->ticks) / ticksPerSecond /
               (static_cast<double>(last.ns - first->ns) / 1e9) * 100;
    }

private:
    struct Reading {
        std::uint64_t ns;
        std::uint64_t ticks;
    };

    void Watch()
    {
        while (!m_stop) {
            const std::optional<StartedProcess> demo = LatestStartedProcess("quorvex-demo");
            ProcStat stat;
            if (demo && ReadPidStat(demo->pid, stat) && stat.startTicks == demo->startTicks && stat.state != 'Z')
                m_readings[demo->startTicks].push_back({MonotonicNowNs(), stat.utimeTicks + stat.stimeTicks});
            usleep(20000);
        }
    }

    std::atomic<bool> m_stop{false};
    std::map<std::uint64_t, std::vector<Reading>> m_readings;  // by start time: the last is the measured run
    std::thread m_thread;
};

// The engine and the watcher agree within about 1 % on a quiet machine.
double Margin(double percent)
{
    return 5 + percent * 0.05;
}

double Number(const CString& text)
{
    return std::stod(text.str());
}

class MeasuredRun : public testing::Test {
protected:
    MeasuredRun() : m_descriptors(OpenDescriptors()) {}
    ~MeasuredRun() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
        EXPECT_EQ(OpenDescriptors(), m_descriptors);
    }

    void Measure(const std::string& params, const std::string& samplingRate, const std::string& duration)
    {
        SetUpConsoleRun(dialog, QUORVEX_DEMO, params, samplingRate, duration);
        dialog.CollectData();
    }

    // With the data log on: the number of threads in state 2 at each sample.
    std::vector<int> MeasureLevels(const std::string& params, const std::string& samplingRate,
                                   const std::string& duration);

    int m_descriptors;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

// Records are "time","cpu", then "cpu","state" per watched thread.
int RecordLevel(const std::string& record)
{
    int level = 0;
    size_t field = 0;
    for (size_t start = 0; start < record.size(); ++field) {
        const size_t end = record.find("\",\"", start);
        const std::string value = record.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (field >= 3 && field % 2 == 1)
            level += value == "2" || value == "2\"";
        start = end == std::string::npos ? record.size() : end + 3;
    }
    return level;
}

std::vector<int> DataLogLevels(const std::string& log)
{
    std::vector<int> levels;
    std::istringstream lines(log);
    std::string line;
    for (int number = 0; std::getline(lines, line); ++number) {
        // The head, then the column names.
        if (number >= 3 && line.starts_with("\""))
            levels.push_back(RecordLevel(line));
    }
    return levels;
}

std::vector<int> MeasuredRun::MeasureLevels(const std::string& params, const std::string& samplingRate,
                                            const std::string& duration)
{
    const ScratchFolder folder;
    SetUpConsoleRun(dialog, QUORVEX_DEMO, params, samplingRate, duration);
    dialog.m_strGenerateLog = "Yes";
    std::snprintf(dialog.m_szLogFolder, sizeof dialog.m_szLogFolder, "%s", folder.Path().c_str());
    dialog.CollectData();
    for (const std::string& name : FilesIn(folder.Path())) {
        if (name.starts_with("QV") && !name.starts_with("QVS"))
            return DataLogLevels(ReadFile(folder.Path() + "/" + name));
    }
    ADD_FAILURE() << "no data log";
    return {};
}

double Share(const std::vector<int>& levels, const std::function<bool(int)>& holds)
{
    return levels.empty() ? 0
                          : static_cast<double>(std::count_if(levels.begin(), levels.end(), holds)) /
                                static_cast<double>(levels.size());
}

double Mean(const std::vector<int>& levels)
{
    return levels.empty() ? 0 : std::accumulate(levels.begin(), levels.end(), 0.0) / static_cast<double>(levels.size());
}

int Processors()
{
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

// Twice as many busy threads as the machine has processors (four on two).
std::string Oversubscribing()
{
    return "--phases " + std::to_string(2 * Processors()) + " --phase-ms 10000 --sleepers 0";
}

// With the records, a sample never has more threads running than there are
// processors, and on average as many as the processors the demo got; other
// work on the machine (other users' builds) decides how many that is. Where
// it got them all, nearly every sample has them all running.
TEST_F(MeasuredRun, OversubscribedThreadsNeverRunOnMoreThanTheProcessors)
{
    const RecordedNotices notices;
    CpuWatcher watcher;
    const std::vector<int> levels = MeasureLevels(Oversubscribing(), "10", "1");
    const double processorsUsed = watcher.SampledSpanPercent() / 100;
    if (!notices.lines.empty() && notices.lines[0] != EXACT_NOTICE)
        GTEST_SKIP() << notices.lines[0];

    EXPECT_EQ(notices.lines, std::vector<std::string>{EXACT_NOTICE}) << "once for the probe and the run";
    ASSERT_GE(levels.size(), 50u);
    EXPECT_LE(*std::max_element(levels.begin(), levels.end()), Processors());
    EXPECT_NEAR(Mean(levels), processorsUsed, 0.3);
    if (processorsUsed > Processors() - 0.2) {
        EXPECT_GT(Share(levels, [](int level) { return level == Processors(); }), 0.8);
    }
    EXPECT_NEAR(Number(dialog.m_strParallelTime), 100 * Share(levels, [](int level) { return level >= 2; }), 0.01);
}

// /proc counts a thread waiting for a processor as running: all of them, all
// the time.
TEST_F(MeasuredRun, ProcOverstatesOversubscribedThreads)
{
    const RecordedNotices notices;
    std::vector<int> levels;
    {
        const ForcedProc forced;
        levels = MeasureLevels(Oversubscribing(), "10", "1");
    }

    EXPECT_EQ(notices.lines, std::vector<std::string>{ProcNotice("forced by QUORVEX_THREAD_STATES=proc")});
    ASSERT_GE(levels.size(), 50u);
    EXPECT_GT(Share(levels, [](int level) { return level == 2 * Processors(); }), 0.8);
}

struct SourceCase {
    const char* name;
    bool proc;
};

void PrintTo(const SourceCase& c, std::ostream* os)
{
    *os << c.name;
}

class MeasuredRunOfBothSources : public MeasuredRun, public testing::WithParamInterface<SourceCase> {};

INSTANTIATE_TEST_SUITE_P(States, MeasuredRunOfBothSources,
                         testing::Values(SourceCase{"ContextSwitchRecords", false}, SourceCase{"Proc", true}),
                         [](const testing::TestParamInfo<SourceCase>& info) { return info.param.name; });

// Near 200 % on an idle machine; whatever the machine gives it, the average
// is what the demo really used. With two busy threads the sources agree
// where the demo gets both processors: the records cannot show two running
// for less than the share of time that the second processor was the demo's.
TEST_P(MeasuredRunOfBothSources, TwoBusyThreadsRunInParallel)
{
    const RecordedNotices notices;
    CpuWatcher watcher;
    {
        std::optional<ForcedProc> forced;
        if (GetParam().proc)
            forced.emplace();
        Measure("--phases 2 --phase-ms 10000 --sleepers 0", "100", "2");
    }
    if (!GetParam().proc && !notices.lines.empty() && notices.lines[0] != EXACT_NOTICE)
        GTEST_SKIP() << notices.lines[0];

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Make sure the application is terminated COMPLETELY\nbefore continue!",
                                                  "IMPORTANT!!!"}}));
    const double used = watcher.SampledSpanPercent();
    EXPECT_NEAR(Number(dialog.m_strCpuAvg), used, Margin(used));
    EXPECT_GT(used, 20) << "the demo was starved";
    EXPECT_LT(Number(dialog.m_strCpuAvg), 210);
    EXPECT_GT(Number(dialog.m_strParallelTime), used - 100 - 15) << "used " << used;
    if (GetParam().proc) {
        EXPECT_GT(Number(dialog.m_strParallelTime), 90);
    }
    EXPECT_EQ(dialog.m_strThreadsMax.str(), "  3");
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "2000");
    EXPECT_GE(std::stoi(dialog.m_strSamples.str()), 10);
}

TEST_F(MeasuredRun, OneBusyThreadAmongSleepersIsNotParallel)
{
    CpuWatcher watcher;
    Measure("--phases 1 --phase-ms 10000 --sleepers 6", "100", "2");

    const double used = watcher.SampledSpanPercent();
    EXPECT_NEAR(Number(dialog.m_strCpuAvg), used, Margin(used));
    EXPECT_LT(Number(dialog.m_strCpuAvg), 110);
    EXPECT_LT(Number(dialog.m_strParallelTime), 10);
    EXPECT_EQ(dialog.m_strThreadsMin.str(), "  8");
    EXPECT_EQ(dialog.m_strThreadsAvg.str(), "  8");
    EXPECT_EQ(dialog.m_strThreadsMax.str(), "  8");
}

// The demo reports how long it ran from its start to its end; the process
// lives a little longer than that (loading, creating and joining threads).
TEST_F(MeasuredRun, TargetThatExitsGivesItsRealLifetime)
{
    const std::string out = CaptureStdout([this] { Measure("--phases 1 --phase-ms 1500 --sleepers 0 --report", "10", "5"); });

    std::smatch last;
    const std::regex seconds(R"(seconds (\d+\.\d+))");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), seconds); it != std::sregex_iterator(); ++it)
        last = *it;
    ASSERT_FALSE(last.empty()) << out;
    const double lifetimeMs = std::stod(last[1]) * 1000;
    const double elapsed = Number(dialog.m_strElapsedMs);
    EXPECT_GE(elapsed, lifetimeMs - 1);
    EXPECT_LE(elapsed, lifetimeMs + 20);
    EXPECT_NE(dialog.m_strCpuAvg.str(), "") << "enough samples for the statistics";
}

TEST_F(MeasuredRun, MissingTargetLeavesNothingRunning)
{
    SetUpConsoleRun(dialog, "/nonexistent-quorvex-folder/no-such-program", "", "100", "2");

    EXPECT_EQ(dialog.CollectData(), 0);

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Error starting The process !!!", "Error"},
                                                {"Cannot query data !!!", "Get Max Thread Error"},
                                                {"Cannot get Total number of threads", "Error"}}));
}

} // namespace
