#include "ProfileBuilder.h"
#include "Reports.h"
#include "Summary.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int PID = 100;
constexpr std::uint64_t MS = 1'000'000;

SwitchRecord In(std::uint64_t t, int tid, int cpu)
{
    return {t * MS, RecordKind::SwitchIn, PID, tid, cpu};
}
SwitchRecord Blocks(std::uint64_t t, int tid, int cpu)
{
    return {t * MS, RecordKind::SwitchOut, PID, tid, cpu};
}
// Still runnable, or (for a thread asleep) woken without a processor.
SwitchRecord Waits(std::uint64_t t, int tid, int cpu)
{
    return {t * MS, RecordKind::SwitchOut, PID, tid, cpu, 0, true};
}
SwitchRecord Fork(int tid)
{
    return {0, RecordKind::Fork, PID, tid, 0};
}

// Two threads that each block every `period` ms for 20 ms and are woken at
// once: both want a processor all along, yet they block 20 times each.
std::vector<SwitchRecord> BlockingEvery(std::uint64_t period)
{
    std::vector<SwitchRecord> records = {Fork(101), In(0, PID, 0), In(0, 101, 1)};
    for (std::uint64_t ms = period; ms <= 10 * period; ms += period)
        for (const SwitchRecord& record : {Blocks(ms, PID, 0), In(ms, PID, 0), Blocks(ms, 101, 1), In(ms, 101, 1)})
            records.push_back(record);
    return records;
}

// Two busy threads, both switched out still runnable 100-200.
std::vector<SwitchRecord> BothWaitingMidway()
{
    return {Fork(101), In(0, PID, 0), In(0, 101, 1), Waits(100, PID, 0), Waits(100, 101, 1), In(200, PID, 0),
            In(200, 101, 1)};
}

struct Case {
    const char* name;
    std::vector<SwitchRecord> records;
    std::uint64_t end;
    Limit limit;
    const char* verdict;
    std::optional<std::uint64_t> idleMs = std::nullopt;  // its processors idle during the run
};

// Each class on a stream whose answer is worked out by hand (the ceilings:
// the span on its 2 processors over the span with a processor for each
// thread that wanted one); the span
// starts at 0 with thread 100 ("cmd"); times in ms, windows of 100 ms, two
// processors.
TEST(Verdict, EachClassOnAHandComputedStream)
{
    const std::vector<Case> cases = {
        // Four busy threads on two processors for 200: each on 100, waiting
        // 100: 400 of 800 runnable (50 %), four wanting, two on, all along
        // (oversubscribed the whole starved time). On 2: 200; a processor each: 100.
        {"Oversubscribed",
         {Fork(101), Fork(102), Fork(103), In(0, PID, 0), In(0, 101, 1), Waits(0, 102, 0), Waits(0, 103, 1),
          Waits(100, PID, 0), In(100, 102, 0), Waits(100, 101, 1), In(100, 103, 1)},
         200,
         Limit::Starved,
         "starved: its threads waited for a processor 50 % of their runnable time; more of them wanted one than its "
         "2 processors: the limit (one for each: up to 2.00x faster)"},
        // Both switched out while something else holds the processors: 200 of 600 runnable (33 %),
        // never more than 2 wanting. On its 2 processors 100-200 takes
        // nothing: 300/200 = 1.50x. Two wanting all along: parallel. Of its
        // processors' 600, idle 100 and its own 400 leave others 100: half the waits.
        {"BusyMachine", BothWaitingMidway(),
         300,
         Limit::Starved,
         "starved: its threads waited for a processor 33 % of their runnable time; other programs held the "
         "processors (without them: up to 1.50x faster); otherwise parallel: 2 or more threads wanted a processor "
         "100 % of the time; more processors cannot make it faster",
         100},
        // The same waits while other programs had only 99 of its processors'
        // time: woken threads on their way to a processor, not starved.
        {"WakeUpLatency", BothWaitingMidway(),
         300,
         Limit::Parallel,
         "parallel: 2 or more threads wanted a processor 100 % of the time; more processors cannot make it "
         "faster",
         101},
        // The main thread alone 0-700 while two workers sleep; then three
        // want the two processors, 700-1000, each worker waiting 150: 300 of
        // 1600 runnable (19 %, not starved). Alone 700 of 1000; on 2
        // processors 1000, with one each 700-1000 takes 300 * 2/3 = 200:
        // 1000/900 = 1.11x.
        {"MostlySerial",
         {Fork(101), Fork(102), In(0, PID, 0), In(700, 101, 1), Waits(700, 102, 1), Waits(850, 101, 1),
          In(850, 102, 1)},
         1000,
         Limit::Serial,
         "serial: one thread (100 cmd) was the only one wanting a processor 70 % of the time; more processors "
         "cannot make it more than 1.11x faster - see the serial stretches"},
        // The main thread alone 0-400; then a worker wants a processor too,
        // but another program holds one: the two take turns, 100 each,
        // 400-1000. Waiting 600 of 1600 runnable (38 %); with both
        // processors 400-1000 takes 300: 1000/700 = 1.43x. On that time the
        // main thread is alone 400 of 700 (57 %): serial, though two wanted
        // a processor 60 % of the elapsed time.
        {"SerialOnABusyMachine",
         {Fork(101), In(0, PID, 0), Waits(400, 101, 1), Waits(500, PID, 0), In(500, 101, 0), Waits(600, 101, 0),
          In(600, PID, 0), Waits(700, PID, 0), In(700, 101, 0), Waits(800, 101, 0), In(800, PID, 0),
          Waits(900, PID, 0), In(900, 101, 0)},
         1000,
         Limit::Starved,
         "starved: its threads waited for a processor 38 % of their runnable time; other programs held the "
         "processors (without them: up to 1.43x faster); otherwise serial: one thread (100 cmd) was the only one "
         "wanting a processor 57 % of the time; more processors cannot make it faster - see the serial stretches"},
        {"SingleThreaded", {In(0, PID, 0)}, 1000, Limit::Serial,
         "serial: one thread (100 cmd) was the only one wanting a processor 100 % of the time; more processors "
         "cannot make it faster"},
        // Four threads take a lock in turn, 100 each, blocking as they hand
        // it on: one on a processor all along, each alone 200 of 800 (25 %),
        // 8 hand-overs in 0.8 s.
        {"LockConvoy",
         {Fork(101), Fork(102), Fork(103), In(0, PID, 0), Blocks(100, PID, 0), In(100, 101, 1), Blocks(200, 101, 1),
          In(200, 102, 0), Blocks(300, 102, 0), In(300, 103, 1), Blocks(400, 103, 1), In(400, PID, 0),
          Blocks(500, PID, 0), In(500, 101, 1), Blocks(600, 101, 1), In(600, 102, 0), Blocks(700, 102, 0),
          In(700, 103, 1), Blocks(800, 103, 1)},
         800,
         Limit::Blocked,
         "blocked: its threads took turns, one at a time 100 % of the time while the others were blocked, "
         "handing over 10 times a second; more processors cannot make it faster"},
        // 20 ms of processor time, 20 blocking switch-outs in 10 ms (the
        // last two at the end): every 1.00 ms, 2,000 a second. Every 2 ms
        // (40 ms of processor time) is a build's pace: parallel.
        {"HandOversSetThePace", BlockingEvery(1), 10, Limit::Blocked,
         "blocked: its threads blocked every 1.00 ms of processor time on average, handing over 2000 times a "
         "second; more processors cannot make it faster"},
        // On a processor 10 of 1000, asleep the rest: alone only 1 %.
        {"Asleep",
         {In(0, PID, 0), Blocks(10, PID, 0)},
         1000,
         Limit::Blocked,
         "blocked: no thread wanted a processor 99 % of the time (asleep, or waiting for I/O or for each other); "
         "more processors cannot make it faster"},
        {"HandOversEvery2Ms", BlockingEvery(2), 20, Limit::Parallel,
         "parallel: 2 or more threads wanted a processor 100 % of the time; more processors cannot make it "
         "faster"},
        {"TwoBusyThreads",
         {Fork(101), In(0, PID, 0), In(0, 101, 1)},
         1000,
         Limit::Parallel,
         "parallel: 2 or more threads wanted a processor 100 % of the time; more processors cannot make it "
         "faster"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileBuilder builder(0, 100 * MS, PID, false, {{PID, PID, "cmd"}}, 2);
        for (const SwitchRecord& record : c.records)
            builder.Add(record);
        const Profile profile = builder.Finish(c.end * MS);
        RunFacts facts;
        if (c.idleMs)
            facts.idleNs = *c.idleMs * MS;
        const DemandSummary demand = Summarize(profile, facts).demand;
        EXPECT_EQ(LimitName(demand.limit), std::string(LimitName(c.limit)));
        EXPECT_EQ(demand.verdict, c.verdict);
        std::uint64_t parts = 0;
        for (const ThreadDemand& thread : profile.demand.threads)
            parts += thread.onCpuNs + thread.waitingNs + thread.blockedNs - thread.lifetimeNs;
        EXPECT_EQ(parts, 0u);
    }
}

// Sampled from /proc, waiting threads are not seen: no verdict.
TEST(Verdict, NoneFromProcSamples)
{
    ProfileBuilder builder(0, 100, PID, false, {{PID, PID, "cmd"}}, 2);
    RunFacts sampled;
    sampled.fromRecords = false;
    EXPECT_FALSE(Summarize(builder.Finish(100), sampled).demand.known);
}

} // namespace

namespace {

// The picture draws the runnable threads as a line over the chart and
// shades the serial stretch of the mostly serial run: 0-700 of 1000 ms, 546
// of the chart's 780 points, from its left edge at 190.
TEST(VerdictSvg, DemandLineAndSerialStretchShaded)
{
    ProfileBuilder builder(0, 100 * MS, PID, false, {{PID, PID, "cmd"}}, 2);
    for (const SwitchRecord& record :
         {Fork(101), Fork(102), In(0, PID, 0), In(700, 101, 1), Waits(700, 102, 1), Waits(850, 101, 1),
          In(850, 102, 1)})
        builder.Add(record);
    const Profile profile = builder.Finish(1000 * MS);
    const std::string svg = SvgTimeline(profile, Summarize(profile, RunFacts{}), RunFacts{});
    EXPECT_EQ(svg.find("<polyline"), svg.rfind("<polyline"));
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
    const std::size_t shade = svg.find("fill=\"#d1c4e9\"");
    ASSERT_NE(shade, std::string::npos);
    EXPECT_NE(svg.rfind("<rect x=\"190.0\" y=", shade), std::string::npos);
    EXPECT_NE(svg.substr(svg.rfind("<rect", shade), shade - svg.rfind("<rect", shade)).find("width=\"546.00\""),
              std::string::npos);
    EXPECT_NE(svg.find(">serial: one thread (100 cmd) was the only one wanting a processor 70 %"), std::string::npos);
}

} // namespace
