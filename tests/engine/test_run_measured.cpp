// Whole runs of the real engine on the demo workload, as the console run
// makes them. Margins allow for a busy two-processor machine.

#include "CaptureOutput.h"
#include "EngineTesting.h"
#include "ProcFiles.h"
#include "Process.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
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
        const std::vector<Reading>& readings = m_readings.rbegin()->second;
        const Reading* first = nullptr;
        for (const Reading& reading : readings) {
            if (!first && reading.ns >= readings.front().ns + 1000000000)
                first = &reading;
        }
        const Reading& last = readings.back();
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

    int m_descriptors;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

// Near 200 % on an idle machine; whatever the machine gives it, the average
// is what the demo really used.
TEST_F(MeasuredRun, TwoBusyThreadsRunInParallel)
{
    CpuWatcher watcher;
    Measure("--phases 2 --phase-ms 10000 --sleepers 0", "100", "2");

    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Make sure the application is terminated COMPLETELY\nbefore continue!",
                                                  "IMPORTANT!!!"}}));
    const double used = watcher.SampledSpanPercent();
    EXPECT_NEAR(Number(dialog.m_strCpuAvg), used, Margin(used));
    EXPECT_GT(used, 20) << "the demo was starved";
    EXPECT_LT(Number(dialog.m_strCpuAvg), 210);
    EXPECT_GT(Number(dialog.m_strParallelTime), 70);
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
