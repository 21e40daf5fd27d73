#include "DemandAnalysis.h"
#include "SchedstatFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <map>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

constexpr int PID = 100;

SwitchRecord In(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchIn, PID, tid, cpu};
}
SwitchRecord Blocks(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchOut, PID, tid, cpu};
}
SwitchRecord Preempted(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchOut, PID, tid, cpu, 0, true};
}
SwitchRecord Fork(std::uint64_t t, int tid)
{
    return {t, RecordKind::Fork, PID, tid, 0};
}

// The span starts at 0 with thread 100 alive; windows of 100, processors P.
Demand Analyse(const std::vector<SwitchRecord>& records, std::uint64_t end, unsigned processors = 2)
{
    ThreadStates states(PID, false, 0);
    DemandAnalysis analysis(0, 100, processors);
    states.Observe(&analysis);
    states.Place(PID, PID, "cmd", false, 0, 0);
    for (const SwitchRecord& record : records)
        states.Apply(record);
    states.EndAll(end);
    return analysis.Finish(end);
}

std::string Join(const std::vector<std::uint64_t>& values)
{
    std::string text;
    for (const std::uint64_t value : values)
        text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

// "runnable l0,l1,.. starved S over O unlimited U machine M | on/wait/blocked/life handovers alone, ..."
std::string Render(const Demand& demand)
{
    std::string text = "runnable " + Join(demand.levelNs) + " starved " + std::to_string(demand.starvedNs) +
                       " over " + std::to_string(demand.oversubscribedNs) + " unlimited " +
                       std::to_string(demand.unlimitedNs) + " machine " + std::to_string(demand.machineNs) + " |";
    for (const ThreadDemand& t : demand.threads)
        text += " " + std::to_string(t.onCpuNs) + "/" + std::to_string(t.waitingNs) + "/" +
                std::to_string(t.blockedNs) + "/" + std::to_string(t.lifetimeNs) + " " +
                std::to_string(t.blockingSwitchOuts) + " " + std::to_string(t.aloneNs) + ",";
    return text;
}

std::string Stretches(const Demand& demand)
{
    std::string text;
    for (const SerialStretch& s : demand.stretches)
        text += std::to_string(s.startNs) + "-" + std::to_string(s.endNs) + " " +
                (s.ran ? std::to_string(s.serial) + "+" + std::to_string(s.others) : "none") + ", ";
    return text + "short " + std::to_string(demand.shortStretches) + "/" + std::to_string(demand.shortStretchNs);
}

void ExpectLivesAddUp(const Demand& demand)
{
    for (const ThreadDemand& t : demand.threads)
        EXPECT_EQ(t.onCpuNs + t.waitingNs + t.blockedNs, t.lifetimeNs);
}

struct Case {
    const char* name;
    std::vector<SwitchRecord> records;
    std::uint64_t end;
    const char* demand;
    const char* stretches;
};

TEST(DemandAnalysis, HandComputedStreams)
{
    const std::vector<Case> cases = {
        // Four busy threads on two processors, each on for 100 and waiting
        // for 100 of 0-200: four runnable, two on, throughout. Starved and
        // oversubscribed all along; a processor each halves every moment
        // (c/r = 2/4): 100; two processors are all it had: 200.
        {"FourBusyOnTwo",
         {Fork(0, 101), Fork(0, 102), Fork(0, 103), In(0, PID, 0), In(0, 101, 1), Preempted(0, 102, 0),
          Preempted(0, 103, 1), Preempted(100, PID, 0), In(100, 102, 0), Preempted(100, 101, 1), In(100, 103, 1)},
         200,
         "runnable 0,0,0,0,200 starved 200 over 200 unlimited 100 machine 200 | 100/100/0/200 0 0, "
         "100/100/0/200 0 0, 100/100/0/200 0 0, 100/100/0/200 0 0,",
         "short 0/0"},
        // A convoy: three threads take a lock in turn for 100 each and block
        // when they hand it over: one runnable at a time. One serial
        // stretch, 0-300, in which thread 0 (100) ran as long as the others
        // (the first of the longest), and two others ran; nothing shrinks.
        {"LockConvoy",
         {Fork(0, 101), Fork(0, 102), In(0, PID, 0), Blocks(100, PID, 0), In(100, 101, 1), Blocks(200, 101, 1),
          In(200, 102, 0), Blocks(300, 102, 0)},
         300,
         "runnable 0,300 starved 0 over 0 unlimited 300 machine 300 | 100/0/200/300 1 100, 100/0/200/300 1 100, "
         "100/0/200/300 1 100,",
         "0-300 0+2, short 0/0"},
        // The main thread alone 0-150 while a worker is blocked, both on
        // 150-200, both blocked 200-350, the worker alone 350-380, both
        // blocked 380-400. Runnable: none 150+20, one 150+30, two 50.
        // Stretches: 0-150 (main), 200-400 (the worker ran 350-380).
        {"SerialAndIdleStretches",
         {Fork(0, 101), In(0, PID, 0), In(150, 101, 1), Blocks(200, PID, 0), Blocks(200, 101, 1),
          In(350, 101, 1), Blocks(380, 101, 1)},
         400,
         "runnable 170,180,50 starved 0 over 0 unlimited 400 machine 400 | 200/0/200/400 1 150, 80/0/320/400 2 30,",
         "200-400 1+0, 0-150 0+0, short 0/0"},
        // Stretches shorter than a window only count: a worker on 0-50,
        // then both on 50-60, the worker alone 60-90, then both: the main
        // thread on 20 and blocked 80 of 100, the worker alone 50 + 30.
        {"ShortStretchesFold",
         {Fork(0, 101), In(0, 101, 1), In(50, PID, 0), Blocks(60, PID, 0), In(90, PID, 0)},
         100,
         "runnable 0,80,20 starved 0 over 0 unlimited 100 machine 100 | 20/0/80/100 1 0, 100/0/0/100 0 80,",
         "short 2/80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Demand demand = Analyse(c.records, c.end);
        EXPECT_EQ(Render(demand), c.demand);
        EXPECT_EQ(Stretches(demand), c.stretches);
        ExpectLivesAddUp(demand);
    }
}

// Runnable threads and blocked threads per window, in thread-time: over
// 0-100 the main thread runs alone while the worker (born at 0) sleeps;
// over 100-150 both want a processor, one waits.
TEST(DemandAnalysis, WindowsHoldRunnableAndBlockedThreadTime)
{
    const Demand demand = Analyse({Fork(0, 101), In(0, PID, 0), In(100, 101, 0), Preempted(100, PID, 0)}, 150, 1);
    ASSERT_EQ(demand.windows.size(), 2u);
    EXPECT_EQ(demand.windows[0].runnableNs, 100u);
    EXPECT_EQ(demand.windows[0].blockedNs, 100u);
    EXPECT_EQ(demand.windows[1].runnableNs, 100u);
    EXPECT_EQ(demand.windows[1].blockedNs, 0u);
    // One processor: the wait 100-150 is oversubscribed, and cannot shrink on it.
    EXPECT_EQ(demand.oversubscribedNs, 50u);
    EXPECT_EQ(demand.unlimitedNs, 125u);
    EXPECT_EQ(demand.machineNs, 150u);
}

class FakeRunDelays : public RunDelaySource {
public:
    std::map<int, std::uint64_t> delays;  // by tid; a missing one is gone
    std::vector<int> forgotten;
    bool Read(int, int tid, std::uint64_t& ns) override
    {
        const auto found = delays.find(tid);
        if (found == delays.end())
            return false;
        ns = found->second;
        return true;
    }
    void Forget(int tid) override { forgotten.push_back(tid); }
};

// The kernel's wait counts what the records cannot see (a wake-up's wait);
// the records add the waits that end after the read, never one twice.
TEST(DemandAnalysis, KernelWaitTakesOverFromTheRecords)
{
    ThreadStates states(PID, false, 0);
    DemandAnalysis analysis(0, 100, 2);
    states.Observe(&analysis);
    states.Place(PID, PID, "cmd", false, 0, 0);
    FakeRunDelays kernel;
    // The main thread waits 10-20 preempted, sleeps 25-30 and is woken at
    // 27, so it waits 3 more that the records cannot see.
    for (const SwitchRecord& record : {Fork(0, 101), Fork(0, 102), In(0, PID, 0), In(0, 102, 1), Preempted(10, PID, 0),
                                       In(20, PID, 0), Blocks(25, PID, 0), In(30, PID, 0)})
        states.Apply(record);
    // At 35 the kernel says 13; thread 101 never ran, so it is not read; 102
    // is gone from /proc already.
    kernel.delays = {{PID, 13}, {101, 99}};
    analysis.ReadRunDelays(kernel, 35);
    for (const SwitchRecord& record : {Preempted(40, PID, 0), In(60, PID, 0), Preempted(80, 102, 1), In(90, 102, 1)})
        states.Apply(record);
    states.End(PID, 100);
    analysis.ReadRunDelays(kernel, 110);
    EXPECT_EQ(kernel.forgotten, std::vector<int>{PID});
    states.EndAll(200);
    const Demand demand = analysis.Finish(200);
    // Main: 13 as read and 20 after it (40-60); on 0-10, 20-25, 30-40,
    // 60-100 = 65; blocked the rest of 25-30.
    EXPECT_EQ(demand.threads[0].onCpuNs, 65u);
    EXPECT_EQ(demand.threads[0].waitingNs, 33u);
    EXPECT_TRUE(demand.threads[0].kernelWait);
    EXPECT_EQ(demand.threads[0].blockedNs, 2u);
    // Thread 102: the records' 10 only.
    EXPECT_EQ(demand.threads[2].waitingNs, 10u);
    EXPECT_FALSE(demand.threads[2].kernelWait);
    EXPECT_EQ(demand.threadsWithoutKernelWait, 2u);
    ExpectLivesAddUp(demand);
}

// A kernel wait larger than the life left over is cut to it: the parts
// still add up to the lifetime.
TEST(DemandAnalysis, WaitNeverExceedsTheLifeLeftOver)
{
    ThreadStates states(PID, false, 0);
    DemandAnalysis analysis(0, 100, 2);
    states.Observe(&analysis);
    states.Place(PID, PID, "cmd", false, 0, 0);
    states.Apply(In(0, PID, 0));
    FakeRunDelays kernel;
    kernel.delays = {{PID, 1000}};
    analysis.ReadRunDelays(kernel, 10);
    states.EndAll(50);
    const Demand demand = analysis.Finish(50);
    EXPECT_EQ(demand.threads[0].onCpuNs, 50u);
    EXPECT_EQ(demand.threads[0].waitingNs, 0u);
    ExpectLivesAddUp(demand);
}

} // namespace

namespace {

TEST(SchedstatFiles, ReadsTheRunQueueWait)
{
    struct Row {
        const char* text;
        bool ok;
        std::uint64_t ns;
    };
    for (const Row& row : std::vector<Row>{{"800706 34864085 2\n", true, 34864085},
                                           {"1 2 3", true, 2},
                                           {"800706\n", false, 0},
                                           {"1 x 3\n", false, 0},
                                           {"1  3\n", false, 0}}) {
        std::uint64_t onCpuNs = 0;
        std::uint64_t ns = 0;
        EXPECT_EQ(ParseSchedstat(row.text, onCpuNs, ns), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(ns, row.ns) << row.text;
        }
    }
    SchedstatFiles files;
    std::uint64_t ns = 0;
    EXPECT_TRUE(files.Read(getpid(), gettid(), ns));
    EXPECT_FALSE(files.Read(getpid(), 0, ns));
}

// One read a round serves every reader; the next round reads afresh, and
// closes the file of a thread nobody read in the round before.
TEST(SchedstatFiles, ReadsEachThreadOnceARound)
{
    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("schedstat-" + std::to_string(getpid()));
    const std::filesystem::path file = root / "7" / "task" / "8" / "schedstat";
    std::filesystem::create_directories(file.parent_path());
    const auto write = [&](const char* text) { std::ofstream(file) << text; };
    SchedstatFiles files(root.string());
    Schedstat figures;
    write("100 20 3\n");
    ASSERT_TRUE(files.Read(7, 8, figures));
    write("150 30 4\n");
    std::uint64_t delayNs = 0;
    ASSERT_TRUE(files.Read(7, 8, delayNs));
    EXPECT_EQ(figures.onCpuNs, 100u);
    EXPECT_EQ(delayNs, 20u);
    files.NextRound();
    ASSERT_TRUE(files.Read(7, 8, figures));
    EXPECT_EQ(figures.onCpuNs, 150u);
    EXPECT_EQ(figures.runDelayNs, 30u);
    // Not read in the round that ends: closed, then opened afresh (a new
    // file of the same name is another thread's).
    files.NextRound();
    files.NextRound();
    std::filesystem::remove(file);
    write("5 1 1\n");
    ASSERT_TRUE(files.Read(7, 8, figures));
    EXPECT_EQ(figures.onCpuNs, 5u);
    std::filesystem::remove_all(root);
}

} // namespace
