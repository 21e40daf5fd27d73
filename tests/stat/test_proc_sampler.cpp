#include "ProcSampler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int PID = 100;
constexpr std::uint64_t INTERVAL = 100;

// One read: when, the process's clock, and its threads {tid, cpu, waiting}.
struct Read {
    std::uint64_t atNs;
    std::uint64_t processCpuNs;
    std::vector<ThreadActivity> threads;
};

// Hands out the reads it was given, one per collection, then Gone.
class ScriptedThreads : public ThreadActivitySource {
public:
    explicit ScriptedThreads(std::vector<Read> reads) : m_reads(std::move(reads)) {}
    Status Collect(std::uint64_t, ActivitySnapshot& snapshot) override
    {
        if (m_next == m_reads.size())
            return Status::Gone;
        const Read& read = m_reads[m_next++];
        snapshot.processReadNs = read.atNs;
        snapshot.processCpuNs = read.processCpuNs;
        snapshot.threads = read.threads;
        return Status::Ok;
    }

private:
    std::vector<Read> m_reads;
    std::size_t m_next = 0;
};

ThreadActivity T(int tid, std::uint64_t cpuNs, std::uint64_t waitingNs)
{
    return {tid, false, cpuNs, 0, waitingNs};
}

Profile Leader(std::uint64_t onCpuNs, std::uint64_t untilNs)
{
    Profile profile;
    profile.intervalNs = INTERVAL;
    ThreadProfile thread;
    thread.tid = thread.pid = PID;
    thread.onCpuNs = onCpuNs;
    thread.endedNs = untilNs;
    profile.threads.push_back(thread);
    return profile;
}

// "levels ... | tid on-CPU waiting born-ended, ... | unread | windows on-CPU/alive ..."
std::string Sampled(Profile start, std::uint64_t fromNs, bool attached, std::vector<Read> reads, std::uint64_t endNs,
                    std::uint64_t reapedNs, unsigned processors)
{
    ScriptedThreads source(std::move(reads));
    ProcSampler sampler(PID, std::move(start), fromNs, source, attached, processors);
    while (sampler.Sample()) {
    }
    if (reapedNs)
        sampler.Reaped(endNs, reapedNs);
    const Profile profile = sampler.Finish(endNs);
    std::string text = "levels";
    for (std::uint64_t ns : profile.levelNs)
        text += " " + std::to_string(ns);
    text += " |";
    for (const ThreadProfile& t : profile.threads)
        text += " " + std::to_string(t.tid) + " " + std::to_string(t.onCpuNs) + " " + std::to_string(t.waitingNs) +
                " " + std::to_string(t.bornNs) + "-" + std::to_string(t.endedNs) + ",";
    text += " | unread " + std::to_string(profile.endedUnreadNs) + " | windows";
    for (const WindowProfile& window : profile.windows)
        text += " " + std::to_string(window.onCpuNs) + "/" + std::to_string(window.threadsAlive);
    return text;
}

// Each read's interval holds its exact average as the two levels around
// it; a thread that ends unread takes the process's time that the others do
// not explain (all of it when it ended alone, by pace when several did);
// an attached process counts from its first read; records that stopped
// hand their threads over at the processor time they had given them.
// Beyond what the processors could run, the rest lifts the latest windows
// before, from their lowest level; what finds no room stays above.
TEST(ProcSampler, LevelsFromEachReadsAverageAndThreadsFromTheirOwnCounters)
{
    struct Case {
        const char* what;
        Profile start;
        std::uint64_t fromNs;
        bool attached;
        std::vector<Read> reads;
        std::uint64_t endNs;
        std::uint64_t reapedNs;
        std::string expected;
        unsigned processors = 0;
    };
    const std::vector<Case> cases = {
        {"150 ns over 100 ns: 50 at level 1, 50 at level 2", Leader(0, 0), 0, false,
         {{100, 150, {T(PID, 90, 5), T(101, 60, 7)}}}, 100, 0,
         "levels 0 50 50 | 100 90 0 0-100, 101 60 7 0-100, | unread 0 | windows 150/2"},
        {"one thread ends unread: the rest of the clock is its", Leader(0, 0), 0, false,
         {{100, 100, {T(PID, 50, 0), T(101, 50, 0)}}, {200, 180, {T(PID, 60, 0)}}}, 200, 0,
         "levels 20 180 | 100 60 0 0-200, 101 120 0 0-100, | unread 0 | windows 100/2 80/2"},
        {"two end unread: shared by their pace before", Leader(0, 0), 0, false,
         {{100, 100, {T(PID, 0, 0), T(101, 75, 0), T(102, 25, 0)}}, {200, 140, {T(PID, 0, 0)}}}, 200, 0,
         "levels 60 140 | 100 0 0 0-200, 101 105 0 0-100, 102 35 0 0-100, | unread 0 | windows 100/3 40/3"},
        {"reaped: the last stretch from its parent's figure", Leader(0, 0), 0, false,
         {{100, 40, {T(PID, 40, 0)}}}, 150, 70,
         "levels 80 70 | 100 70 0 0-150, | unread 0 | windows 40/1 30/1"},
        {"attached: from the first read", Profile{.startNs = 10, .intervalNs = INTERVAL}, 10, true,
         {{10, 5000, {T(PID, 4000, 300)}}, {110, 5050, {T(PID, 4050, 310)}}}, 110, 0,
         "levels 50 50 | 100 50 10 10-110, | unread 0 | windows 50/1"},
        {"a running thread's counter a tick behind, then caught up: levels from the clock", Leader(0, 0), 0, false,
         {{100, 100, {T(PID, 0, 0)}}, {200, 200, {T(PID, 200, 0)}}}, 200, 0,
         "levels 0 200 | 100 200 0 0-200, | unread 0 | windows 100/1 100/1"},
        {"handed over at 100 with 80 ns of records", Leader(80, 100), 100, false,
         {{200, 130, {T(PID, 130, 9)}}}, 200, 0,
         "levels 50 50 | 100 130 0 0-200, | unread 0 | windows 0/0 50/1"},
        {"90 ns in 10 on 2 processors: 20 there, 70 lifting the window before, level 0 then 1", Leader(0, 0), 0,
         false, {{100, 50, {T(PID, 50, 0)}}, {200, 100, {T(PID, 100, 0)}}, {210, 190, {T(PID, 190, 0)}}}, 210, 0,
         "levels 50 130 30 | 100 190 0 0-210, | unread 0 | windows 50/1 120/1 20/1", 2},
        {"on 1 processor, latest first past the full windows, twice", Leader(0, 0), 0, false,
         {{100, 50, {T(PID, 50, 0)}}, {200, 100, {T(PID, 100, 0)}}, {300, 200, {T(PID, 200, 0)}},
          {310, 250, {T(PID, 250, 0)}}, {320, 290, {T(PID, 290, 0)}}}, 320, 0,
         "levels 30 290 | 100 290 0 0-320, | unread 0 | windows 70/1 100/1 100/1 20/1", 1},
        {"room for 30 of 70: the other 40 stay above", Leader(0, 0), 0, false,
         {{100, 70, {T(PID, 70, 0)}}, {110, 150, {T(PID, 150, 0)}}}, 110, 0,
         "levels 0 100 0 0 0 10 | 100 150 0 0-110, | unread 0 | windows 100/1 50/1", 1},
        {"reaped 30 ns in the last 1 ns: 28 lift the window before", Leader(0, 0), 0, false,
         {{100, 40, {T(PID, 40, 0)}}}, 101, 70, "levels 32 68 1 | 100 70 0 0-101, | unread 0 | windows 68/1 2/1", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sampled(c.start, c.fromNs, c.attached, c.reads, c.endNs, c.reapedNs, c.processors), c.expected)
            << c.what;
}

} // namespace
