#include "ProfileBuilder.h"
#include "Reports.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int PID = 4242;
constexpr std::uint64_t MS = 1'000'000;
constexpr std::uint64_t START = 5000 * MS;

SwitchRecord Record(std::uint64_t ms, RecordKind kind, int tid, int cpu, bool preempted = false)
{
    return {START + ms * MS, kind, PID, tid, cpu, 0, preempted};
}

// 250 ms of "xz -T2 big.tar": the main thread runs alone, starts a worker
// at 50 ms that runs beside it (preempted once for 10 ms) and ends at 200 ms;
// the main thread sleeps from 220 ms. The last window, 50 ms long, counts
// in the CPU minimum over its length.
// Wanting a processor: none 220-250 (30 ms, 12 %), one 0-50 and 200-220
// (70 ms, 28 %), two 50-200 (150 ms, 60 %); starved while the worker waits
// (10 ms, 4 %). With a processor each, 120-130 takes 5 ms and the rest as
// long: 245 ms, 250/245 = 1.02x; the processors it may use are not known,
// so that is also the run on its own, in which two want a processor
// 150 - 5 = 145 of 245 ms: 59 %. The main thread blocks once in 0.25 s
// (4.0 hand-overs a second) and is blocked 30 ms; the worker waits 10 ms.
// At most one on a processor with both alive only 120-130: one stretch
// shorter than a window. None of the verdicts' thresholds is reached:
// parallel.
Profile SmallRun()
{
    ProfileBuilder builder(START, 100 * MS, PID, false, {{PID, PID, "xz"}});
    for (const SwitchRecord& record :
         {Record(0, RecordKind::SwitchIn, PID, 0), Record(50, RecordKind::Fork, PID + 1, 0),
          Record(50, RecordKind::SwitchIn, PID + 1, 1), Record(120, RecordKind::SwitchOut, PID + 1, 1, true),
          Record(130, RecordKind::SwitchIn, PID + 1, 1), Record(200, RecordKind::Exit, PID + 1, 1),
          Record(220, RecordKind::SwitchOut, PID, 0)})
        builder.Add(record);
    return builder.Finish(START + 250 * MS);
}

RunFacts Facts()
{
    RunFacts facts;
    facts.command = {"xz", "-T2", "big \"tar\""};
    facts.processorsAllowed = 2;
    facts.processorsOnline = 4;
    return facts;
}

TEST(StatOutputs, TextReport)
{
    const Profile profile = SmallRun();
    EXPECT_EQ(TextReport(profile, Summarize(profile, Facts()), Facts()),
              "\n"
              " quorvex-stat for 'xz -T2 big \"tar\"':\n"
              "\n"
              " parallel: 2 or more threads wanted a processor 59 % of the time; more processors cannot make it "
              "faster\n"
              "\n"
              "        250.000 ms  elapsed\n"
              "         144.00 %   CPU utilisation (min 40.00 %, max 190.00 % per 100 ms)\n"
              "          56.00 %   Parallel Time (2 or more threads on a processor)\n"
              "          1.440     threads on a processor on average\n"
              "              2     threads in 1 process\n"
              "              2     processors the command could use, of 4 on the machine\n"
              "\n"
              " threads on a processor, share of the elapsed time:\n"
              "     0 |#####                                   |  12.00 %\n"
              "     1 |#############                           |  32.00 %\n"
              "     2 |######################                  |  56.00 %\n"
              "\n"
              " threads wanting a processor (on one, or waiting for one), share of the elapsed time:\n"
              "     0 |#####                                   |  12.00 %\n"
              "     1 |###########                             |  28.00 %\n"
              "     2 |########################                |  60.00 %\n"
              "           4.00 %   starved (more threads wanted a processor than had one)\n"
              "           1.02x    speedup ceiling, a processor for every runnable thread\n"
              "\n"
              " top threads by on-CPU time:\n"
              "       tid  name                on-CPU ms    waiting ms    blocked ms   lifetime ms  hand-overs/s\n"
              "      4242  xz                    220.000         0.000        30.000       250.000           4.0\n"
              "      4243  xz                    140.000        10.000         0.000       150.000           0.0\n"
              "       all  threads               360.000        10.000        30.000       400.000           4.0\n"
              " waiting: the kernel's run-queue wait (schedstat); 2 threads ended before it could be read: only the "
              "waits the records see (after a preemption, not after a wake-up)\n"
              "\n"
              " serial stretches (at most one thread on a processor while two or more were alive):\n"
              " 1 shorter than 100 ms, 10.000 ms in all\n"
              "\n"
              " source: context-switch records (exact)\n"
              "\n");
}

TEST(StatOutputs, JsonReport)
{
    const Profile profile = SmallRun();
    RunFacts facts = Facts();
    facts.exitStatus = 139;
    facts.signal = 11;
    EXPECT_EQ(JsonReport(profile, Summarize(profile, facts), facts),
              "{\n"
              "  \"command\": [\"xz\", \"-T2\", \"big \\\"tar\\\"\"],\n"
              "  \"exit_status\": 139,\n"
              "  \"signal\": \"SIGSEGV\",\n"
              "  \"exact\": true,\n"
              "  \"inexact_reason\": null,\n"
              "  \"exact_totals\": true,\n"
              "  \"elapsed_ms\": 250.000,\n"
              "  \"cpu_percent\": {\"avg\": 144.00, \"min\": 40.00, \"max\": 190.00},\n"
              "  \"parallel_time_percent\": 56.00,\n"
              "  \"average_concurrency\": 1.440,\n"
              "  \"concurrency\": [\n"
              "    {\"level\": 0, \"percent\": 12.00},\n"
              "    {\"level\": 1, \"percent\": 32.00},\n"
              "    {\"level\": 2, \"percent\": 56.00}\n"
              "  ],\n"
              "  \"threads\": [\n"
              "    {\"tid\": 4242, \"pid\": 4242, \"name\": \"xz\", \"on_cpu_ms\": 220.000, \"waiting_ms\": 0.000, "
              "\"blocked_ms\": 30.000, \"waiting_from\": \"records\", \"hand_overs\": 1, \"hand_overs_per_second\": 4.0, "
              "\"lifetime_ms\": 250.000},\n"
              "    {\"tid\": 4243, \"pid\": 4242, \"name\": \"xz\", \"on_cpu_ms\": 140.000, \"waiting_ms\": 10.000, "
              "\"blocked_ms\": 0.000, \"waiting_from\": \"records\", \"hand_overs\": 0, \"hand_overs_per_second\": 0.0, "
              "\"lifetime_ms\": 150.000}\n"
              "  ],\n"
              "  \"verdict\": {\"limit\": \"parallel\", \"shape\": \"parallel\", \"text\": \"parallel: 2 or more "
              "threads wanted a processor 59 % of the time; more processors cannot make it faster\"},\n"
              "  \"runnable\": [\n"
              "    {\"level\": 0, \"percent\": 12.00},\n"
              "    {\"level\": 1, \"percent\": 28.00},\n"
              "    {\"level\": 2, \"percent\": 60.00}\n"
              "  ],\n"
              "  \"starved_percent\": 4.00,\n"
              "  \"oversubscribed_percent\": 0.00,\n"
              "  \"waiting_percent_of_runnable\": 2.70,\n"
              "  \"speedup_ceiling\": {\"unlimited\": 1.02, \"processors\": 1.02},\n"
              "  \"usable_processors\": 0,\n"
              "  \"totals\": {\"on_cpu_ms\": 360.000, \"waiting_ms\": 10.000, \"blocked_ms\": 30.000, "
              "\"lifetime_ms\": 400.000, \"hand_overs_per_second\": 4.0, \"threads_waiting_from_records\": 2},\n"
              "  \"serial_stretches\": {\"longest\": [], \"more\": 0, \"shorter_than_interval\": 1, "
              "\"shorter_ms\": 10.000},\n"
              "  \"processes\": 1,\n"
              "  \"processors\": {\"allowed\": 2, \"online\": 4},\n"
              "  \"interval_ms\": 100,\n"
              "  \"lost_records\": 0\n"
              "}\n");
}

// Each reason a run is not exact, and what the text and the JSON say of it:
// records that disagree with the kernel's own clock, lost records (nothing
// exact), /proc samples (exact counters, sampled histogram).
TEST(StatOutputs, InexactRunsSayWhy)
{
    struct Case {
        std::function<void(Profile&, RunFacts&)> make;
        std::string text, json;
    };
    const std::string clock = "the records' processor time is 7.20 % below the kernel's own clock";
    const Case cases[] = {
        {[&](Profile& p, RunFacts&) { p.kernelClock.reason = clock; },
         " source: context-switch records, not exact: " + clock + "\n",
         "  \"exact\": false,\n  \"inexact_reason\": \"" + clock + "\",\n"},
        {[](Profile& p, RunFacts&) { p.lostRecords = 17; },
         " source: context-switch records, 17 lost: the shares are inexact\n",
         "\"exact\": false,\n  \"inexact_reason\": \"17 context-switch records lost\",\n  \"exact_totals\": false,"},
        {[](Profile& p, RunFacts& f) {
             f.fromRecords = false;
             p.endedUnreadNs = 1'250'000;
         },
         "\n source: /proc: on-CPU, waiting and CPU exact (the kernel's counters), the histogram sampled\n"
         " 1.250 ms of threads that started and ended between two reads is in the CPU total only\n",
         "\"exact\": false,\n  \"inexact_reason\": \"sampled from /proc\",\n  \"exact_totals\": true,"}};
    for (const Case& c : cases) {
        Profile profile = SmallRun();
        RunFacts facts = Facts();
        c.make(profile, facts);
        const Summary summary = Summarize(profile, facts);
        EXPECT_FALSE(summary.exact);
        EXPECT_NE(TextReport(profile, summary, facts).find(c.text), std::string::npos) << c.text;
        EXPECT_NE(JsonReport(profile, summary, facts).find(c.json), std::string::npos) << c.json;
    }
}

TEST(StatOutputs, CsvTimelineHasARowPerWindow)
{
    EXPECT_EQ(CsvTimeline(SmallRun()),
              "time_ms,cpu_percent,threads_alive,average_concurrency,runnable_average,blocked_average,"
              "level_0_percent,level_1_percent,level_2_percent,on_cpu_ms_4242,on_cpu_ms_4243\n"
              "0,150.00,2,1.500,1.500,0.000,0.00,50.00,50.00,100.000,50.000\n"
              "100,190.00,2,1.900,2.000,0.000,0.00,10.00,90.00,100.000,90.000\n"
              "200,40.00,1,0.400,0.400,0.600,60.00,40.00,0.00,20.000,0.000\n");
}

bool TagsBalance(const std::string& svg);

// Thirds cannot all round down: the shares still add up to 100 %.
TEST(StatOutputs, SharesAlwaysAddUpToOneHundredPercent)
{
    EXPECT_EQ(HundredthsOf({1, 1, 1}, 3), (std::vector<unsigned>{3334, 3333, 3333}));
    EXPECT_EQ(HundredthsOf({2, 0, 1}, 3), (std::vector<unsigned>{6667, 0, 3333}));
    EXPECT_EQ(HundredthsOf({0}, 0), (std::vector<unsigned>{10000}));
}

TEST(StatOutputs, ChildrenNoteOnlyWhenTheChildrenDidNoticeablyMoreWork)
{
    EXPECT_EQ(ChildrenNote("make", 100 * MS, 41'000 * MS),
              "quorvex-stat: make used 0.1 s; its children 41 s, not counted with --no-inherit\n");
    EXPECT_EQ(ChildrenNote("sh", 0, 100 * MS), "quorvex-stat: sh used 0.0 s; its children 0.1 s, not counted with --no-inherit\n");
    EXPECT_EQ(ChildrenNote("make", 100 * MS, 199 * MS), "");
    EXPECT_EQ(ChildrenNote("sh", 0, 99 * MS), "");  // both next to nothing
    EXPECT_EQ(ChildrenNote("sh", 0, 0), "");
}

// Whatever the windows, the average lies between their minimum and maximum:
// one full window and a short last one of another rate, a single short one.
TEST(StatOutputs, AverageLiesWithinTheWindowsMinimumAndMaximum)
{
    for (const std::uint64_t endMs : {101u, 137u, 40u, 250u}) {
        ProfileBuilder builder(START, 100 * MS, PID, false, {{PID, PID, "git"}});
        builder.Add(Record(0, RecordKind::SwitchIn, PID, 0));
        builder.Add(Record(std::min<std::uint64_t>(endMs, 90), RecordKind::SwitchOut, PID, 0));
        const Profile profile = builder.Finish(START + endMs * MS);
        const Summary summary = Summarize(profile, Facts());
        EXPECT_LE(summary.cpuMin, summary.cpuAvg) << endMs;
        EXPECT_GE(summary.cpuMax, summary.cpuAvg) << endMs;
        EXPECT_NEAR(summary.cpuAvg, 100.0 * std::min<std::uint64_t>(endMs, 90) / endMs, 1e-9) << endMs;
    }
}

// Ten seconds at a 1 ms interval: the windows are widened by doubling to
// stay within the bound, and still add up to the whole run.
TEST(StatOutputs, WindowsStayBoundedHoweverLongTheRun)
{
    ProfileBuilder builder(START, MS, PID, false, {{PID, PID, "server"}});
    for (std::uint64_t ms = 0; ms < 10'000; ms += 3) {
        builder.Add(Record(ms, RecordKind::SwitchIn, PID, 0));
        builder.Add(Record(ms + 1, RecordKind::SwitchOut, PID, 0));
    }
    const Profile profile = builder.Finish(START + 10'000 * MS);
    EXPECT_EQ(profile.intervalNs, 4 * MS);
    EXPECT_EQ(profile.windows.size(), 2500u);
    std::uint64_t onCpu = 0, shares = 0, level1 = 0;
    for (const WindowProfile& window : profile.windows) {
        EXPECT_EQ(window.lengthNs, 4 * MS);
        onCpu += window.onCpuNs;
        level1 += window.levelNs[1];
    }
    for (const WindowShare& share : profile.threads[0].windows)
        shares += share.onCpuNs;
    EXPECT_EQ(onCpu, profile.OnCpuNs());
    EXPECT_EQ(shares, profile.OnCpuNs());
    EXPECT_EQ(level1, profile.levelNs[1]);
    EXPECT_EQ(profile.windows[1].startNs, 4 * MS);
    EXPECT_EQ(profile.threads[0].windows.size(), 2500u);
}

// A name the kernel cut inside a multibyte character, and stray bytes:
// the JSON and the SVG still hold only UTF-8, with U+FFFD in their place.
TEST(StatOutputs, NamesThatAreNotUtf8AreReplaced)
{
    Profile profile = SmallRun();
    profile.threads[1].name = "caf\xc3";
    RunFacts facts = Facts();
    facts.command = {"\xff<x>", "\xe2\x82\xac ok", "\xed\xa0\x80", "\xc0\xaf"};
    const Summary summary = Summarize(profile, facts);
    const std::string json = JsonReport(profile, summary, facts);
    EXPECT_NE(json.find("\"command\": [\"\xef\xbf\xbd<x>\", \"\xe2\x82\xac ok\", "
                        "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\", \"\xef\xbf\xbd\xef\xbf\xbd\"]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"name\": \"caf\xef\xbf\xbd\""), std::string::npos);
    const std::string svg = SvgTimeline(profile, summary, facts);
    EXPECT_NE(svg.find("quorvex-stat: \xef\xbf\xbd&lt;x&gt; \xe2\x82\xac ok"), std::string::npos);
    EXPECT_NE(svg.find("4243 caf\xef\xbf\xbd<"), std::string::npos);
    EXPECT_TRUE(TagsBalance(svg));
}

// Every tag that opens is closed, in order: the picture is well-formed XML.
bool TagsBalance(const std::string& svg)
{
    std::vector<std::string> open;
    for (std::size_t at = svg.find('<'); at != std::string::npos; at = svg.find('<', at + 1)) {
        const std::size_t end = svg.find('>', at);
        if (end == std::string::npos)
            return false;
        const std::string tag = svg.substr(at + 1, end - at - 1);
        const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" />", 1) - (tag[0] == '/'));
        if (tag[0] == '/') {
            if (open.empty() || open.back() != name)
                return false;
            open.pop_back();
        } else if (tag.back() != '/') {
            open.push_back(name);
        }
    }
    return open.empty();
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST(StatSvg, TwoThreadsGetALaneEach)
{
    const Profile profile = SmallRun();
    const std::string svg = SvgTimeline(profile, Summarize(profile, Facts()), Facts());
    EXPECT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_TRUE(TagsBalance(svg));
    EXPECT_EQ(Count(svg, "class=\"lane\">4242 xz<"), 1u);
    EXPECT_EQ(Count(svg, "class=\"lane\">4243 xz<"), 1u);
    EXPECT_EQ(Count(svg, "other threads"), 0u);
    EXPECT_NE(svg.find("quorvex-stat: xz -T2 big &quot;tar&quot;"), std::string::npos);
    EXPECT_NE(svg.find(">56.00 %<"), std::string::npos);  // the histogram's bar for level 2
}

// 2,000 threads that each run for a while, thread i for i microseconds: the
// 40 busiest get lanes, the rest one folded lane, and the picture stays small.
TEST(StatSvg, TwoThousandThreadsFoldIntoBusiestLanes)
{
    ProfileBuilder builder(START, 100 * MS, PID, false, {{PID, PID, "server"}});
    for (int i = 1; i < 2000; ++i) {
        const std::uint64_t at = static_cast<std::uint64_t>(i) * 1000;
        builder.Add({START + at, RecordKind::Fork, PID, PID + i, 0});
        builder.Add({START + at, RecordKind::SwitchIn, PID, PID + i, 0});
        // In time order: each thread leaves before the next one starts.
        builder.Add({START + at + static_cast<std::uint64_t>(i) * 999 / 1999, RecordKind::SwitchOut, PID, PID + i, 0});
    }
    const Profile profile = builder.Finish(START + 1000 * MS);
    const std::string svg = SvgTimeline(profile, Summarize(profile, Facts()), Facts());
    EXPECT_TRUE(TagsBalance(svg));
    EXPECT_EQ(Count(svg, "class=\"lane\">"), 41u + 2 + 2);  // lanes, the chart's levels 0..1, the histogram's
    EXPECT_EQ(Count(svg, "class=\"lane\">6241 server<"), 1u);  // the busiest
    EXPECT_EQ(Count(svg, ">1960 other threads<"), 1u);
    EXPECT_LT(svg.size(), 500'000u);
}

} // namespace
