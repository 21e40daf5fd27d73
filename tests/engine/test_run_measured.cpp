// Whole runs of the real engine on the demo workload, as the console run
// makes them. Margins allow for a busy two-processor machine.

#include "CaptureOutput.h"
#include "ChildProcesses.h"
#include "EngineTesting.h"
#include "ProcFiles.h"
#include "RunStatistics.h"
#include "Process.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// Watches, apart from the engine, how much processor time the demo started
// last gets: other work on the machine decides that.
class CpuWatcher {
public:
    CpuWatcher() : m_thread([this] { Watch(); }) {}
    ~CpuWatcher() { Stop(); }

    // Percent of one processor from one second after the measured instance
    // started (its settling time) to its end.
    double SampledSpanPercent()
    {
        Stop();
        const std::vector<Reading> readings = m_readings.empty() ? std::vector<Reading>{} : m_readings.rbegin()->second;
        const auto first = std::find_if(readings.begin(), readings.end(), [&](const Reading& reading) {
            return reading.ns >= readings.front().ns + 1000000000;
        });
        if (first == readings.end() || first->ns == readings.back().ns) {
            ADD_FAILURE() << "the demo was not seen running after its settling second";
            return 0;
        }
        return static_cast<double>(readings.back().cpuNs - first->cpuNs) /
               static_cast<double>(readings.back().ns - first->ns) * 100;
    }

private:
    struct Reading {
        std::uint64_t ns;
        std::uint64_t cpuNs;
    };

    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    void Watch()
    {
        while (!m_stop) {
            const std::optional<StartedProcess> demo = YoungestDemo();
            ProcStat stat;
            clockid_t clock;
            timespec used;
            if (demo && ReadPidStat(demo->pid, stat) && stat.startTicks == demo->startTicks && stat.state != 'Z' &&
                clock_getcpuclockid(demo->pid, &clock) == 0 && clock_gettime(clock, &used) == 0)
                m_readings[demo->startTicks].push_back(
                    {MonotonicNowNs(), static_cast<std::uint64_t>(used.tv_sec) * 1'000'000'000 +
                                           static_cast<std::uint64_t>(used.tv_nsec)});
            usleep(20000);
        }
    }

    // The demo this program started last.
    static std::optional<StartedProcess> YoungestDemo()
    {
        std::optional<StartedProcess> youngest;
        for (const int pid : ChildProcesses()) {
            ProcStat stat;
            std::error_code error;
            const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
            if (exe.filename() == "quorvex-demo" && ReadPidStat(pid, stat) &&
                (!youngest || stat.startTicks > youngest->startTicks))
                youngest = StartedProcess{pid, stat.startTicks};
        }
        return youngest;
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

int Processors()
{
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

double Share(const std::vector<int>& levels, const std::function<bool(int)>& holds)
{
    return levels.empty() ? 0 : static_cast<double>(std::count_if(levels.begin(), levels.end(), holds)) /
                                    static_cast<double>(levels.size());
}

// Records are "time","cpu", then "cpu","state" per watched thread.
std::vector<int> RunningPerRecord(const std::string& log)
{
    static const std::regex field(R"re("([^"]*)")re");
    std::vector<int> levels;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("\"") || line.starts_with("\"Time\""))
            continue;
        std::vector<std::string> fields;
        for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it)
            fields.push_back((*it)[1]);
        int running = 0;
        for (size_t state = 3; state < fields.size(); state += 2)
            running += fields[state] == "2";
        levels.push_back(running);
    }
    return levels;
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

    // The number of threads in state 2 at each sample, as the data log has them.
    std::vector<int> Measure(const std::string& params, int intervalMs, int durationS, bool proc = false)
    {
        const ScratchFolder folder;
        std::optional<ForcedProc> forced;
        if (proc)
            forced.emplace();
        const RunSettings settings = {.appPath = QUORVEX_DEMO,
                                      .processName = InstanceName(QUORVEX_DEMO),
                                      .interval = std::chrono::milliseconds(intervalMs),
                                      .duration = std::chrono::seconds(durationS),
                                      .logFolder = folder.Path()};
        observer.arguments = params;
        observer.controls.logging = true;
        result = RunSampled(settings, observer, notices.service);
        for (const std::string& name : FilesIn(folder.Path())) {
            if (!name.starts_with("QVS"))
                return RunningPerRecord(ReadFile(folder.Path() + "/" + name));
        }
        return {};
    }

    // Where the kernel refuses the switch records, the source says why.
    bool Refused() const { return !notices.lines.empty() && notices.lines[0] != EXACT_NOTICE; }

    // The run's figures; a run that must have them fails without.
    const RunStatistics& Figures() const
    {
        static const RunStatistics none{};
        EXPECT_TRUE(result.statistics);
        return result.statistics ? *result.statistics : none;
    }

    int m_descriptors;
    RecordedNotices notices;
    RecordingObserver observer;
    RunResult result;
};

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
    CpuWatcher watcher;
    const std::vector<int> levels = Measure(Oversubscribing(), 10, 1);
    const double processorsUsed = watcher.SampledSpanPercent() / 100;
    if (Refused())
        GTEST_SKIP() << notices.lines[0];

    EXPECT_EQ(notices.lines, std::vector<std::string>{EXACT_NOTICE}) << "once for the probe and the run";
    ASSERT_GE(levels.size(), static_cast<size_t>(MINIMUM_SAMPLES));
    EXPECT_LE(*std::max_element(levels.begin(), levels.end()), Processors());
    EXPECT_NEAR(std::accumulate(levels.begin(), levels.end(), 0.0) / static_cast<double>(levels.size()),
                processorsUsed, 0.3);
    if (processorsUsed > Processors() - 0.2) {
        EXPECT_GT(Share(levels, [](int level) { return level == Processors(); }), 0.8);
    }
    EXPECT_NEAR(Figures().parallelPercent, 100 * Share(levels, [](int level) { return level >= 2; }), 0.01);
}

// Thread states from the context-switch records, or from /proc (the parameter).
class MeasuredWorkload : public MeasuredRun, public testing::WithParamInterface<bool> {};

// Two busy threads: near 100 % each on an idle machine; whatever the machine
// gives the demo, even next to a load that starves it, the average is what
// it really used. The sources agree where the demo gets both processors:
// the records cannot show two running for less than the share of time that
// the second processor was the demo's.
TEST_P(MeasuredWorkload, CpuAndParallelTimeAreWhatTheDemoDid)
{
    const bool proc = GetParam();
    CpuWatcher watcher;
    Measure("--phases 2 --phase-ms 10000 --sleepers 0", 100, 2, proc);
    const double used = watcher.SampledSpanPercent();
    if (Refused() && !proc)
        GTEST_SKIP() << notices.lines[0];

    EXPECT_EQ(observer.boxes, std::vector<std::string>{"[IMPORTANT!!!] Make sure the application is terminated "
                                                       "COMPLETELY\nbefore continue!"});
    EXPECT_NEAR(Figures().cpuAvg, used, Margin(used));
    EXPECT_LT(Figures().cpuAvg, 210);
    EXPECT_GT(Figures().parallelPercent, proc ? 90 : used - 100 - 15) << "used " << used;
    EXPECT_EQ(Figures().threadsMin, 3);
    EXPECT_EQ(Figures().threadsMax, 3);
    EXPECT_EQ(result.elapsedMs, 2000u);
    EXPECT_GE(result.samples, 10);
}

INSTANTIATE_TEST_SUITE_P(TwoBusyThreads, MeasuredWorkload, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "FromProc" : "FromSwitchRecords"; });

// The demo reports how long it ran from its start to its end; the process
// lives a little longer than that (loading, joining its threads, exiting),
// but far less than the second to the next collection, which must not be
// taken for its end.
TEST_F(MeasuredRun, TargetThatExitsGivesItsRealLifetime)
{
    const std::string out =
        CaptureStdout([this] { Measure("--phases 1 --phase-ms 1500 --sleepers 0 --report", 1000, 5); });

    // The probe's instance ends by itself too: the last report is the measured one's.
    std::smatch last;
    const std::regex seconds(R"(seconds (\d+\.\d+))");
    for (std::sregex_iterator it(out.begin(), out.end(), seconds), end; it != end; ++it)
        last = *it;
    ASSERT_FALSE(last.empty()) << out;
    const double lifetimeMs = std::stod(last[1]) * 1000;
    ASSERT_TRUE(result.elapsedMs);
    EXPECT_GE(*result.elapsedMs, lifetimeMs - 1);
    EXPECT_LE(*result.elapsedMs, lifetimeMs + 250);
}

} // namespace
