#include "ProcSampler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int PID = 100;

// Hands out the snapshots it was given, one per collection, then Gone.
class ScriptedThreads : public ThreadActivitySource {
public:
    explicit ScriptedThreads(std::vector<std::vector<ThreadActivity>> samples) : m_samples(std::move(samples)) {}
    Status Collect(std::uint64_t, ActivitySnapshot& snapshot) override
    {
        if (m_next == m_samples.size())
            return Status::Gone;
        snapshot.threads = m_samples[m_next++];
        return Status::Ok;
    }

private:
    std::vector<std::vector<ThreadActivity>> m_samples;
    std::size_t m_next = 0;
};

// "levels ... | tid on-CPU lifetime, ... | on-CPU of the process | of each window"
std::string Sampled(bool countFromFirstSample)
{
    ScriptedThreads source({{{PID, true, 1000}, {101, false, 500}},
                            {{PID, false, 1040}, {101, true, 520}, {102, true, 7}},
                            {{PID, false, 1040}, {102, true, 60}}});
    ProfileBuilder builder(0, 100, PID, false, {{PID, PID, "cmd"}});
    ProcSampler sampler(PID, source, countFromFirstSample);
    std::uint64_t instant = 100;
    for (; sampler.Sample(instant, builder); instant += 100) {
    }
    Profile profile = builder.Finish(instant);
    sampler.PatchOnCpu(profile);
    std::string text = "levels";
    for (std::uint64_t ns : profile.levelNs)
        text += " " + std::to_string(ns);
    text += " |";
    for (const ThreadProfile& t : profile.threads)
        text += " " + std::to_string(t.tid) + " " + std::to_string(t.onCpuNs) + " " + std::to_string(t.LifetimeNs()) + ",";
    text += " | on-CPU " + std::to_string(profile.OnCpuNs()) + " | windows";
    for (const WindowProfile& window : profile.windows)
        text += " " + std::to_string(window.onCpuNs);
    return text;
}

// State R counts as on a processor from one sample to the next; on-CPU
// times, and so the CPU figures of the whole and of each window, are the
// threads' own counters, from their start or, when attached, from the first
// sample.
TEST(ProcSampler, TurnsSamplesIntoLevelsAndTakesOnCpuFromTheCounters)
{
    EXPECT_EQ(Sampled(false), "levels 100 200 100 | 100 1040 400, 101 520 200, 102 60 200, | on-CPU 1620 | windows 1500 67 53 0");
    EXPECT_EQ(Sampled(true), "levels 100 200 100 | 100 40 400, 101 20 200, 102 60 200, | on-CPU 120 | windows 0 67 53 0");
}

} // namespace
