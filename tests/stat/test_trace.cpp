#include "ProfileBuilder.h"
#include "Reports.h"
#include "Stretches.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;
constexpr int PID = 100;
constexpr std::uint64_t US = 1000;

// Every event as "ph name tid ts+dur args", sorted; fails the test on a
// malformed one.
std::vector<std::string> Events(const std::string& trace)
{
    const Json document = Json::parse(trace);
    std::vector<std::string> events;
    for (const Json& event : document.at("traceEvents")) {
        const std::string ph = event.at("ph");
        EXPECT_TRUE(ph == "M" || ph == "X" || ph == "C" || ph == "i") << event;
        EXPECT_TRUE(event.at("pid").is_number_integer() && event.at("tid").is_number_integer()) << event;
        EXPECT_TRUE(event.at("ts").is_number() && event.at("ts").get<double>() >= 0) << event;
        std::string text = ph + " " + event.at("name").get<std::string>() + " " + std::to_string(event.at("tid").get<int>()) +
                           " " + std::to_string(event.at("ts").get<double>());
        if (ph == "X") {
            EXPECT_GE(event.at("dur").get<double>(), 0) << event;
            text += "+" + std::to_string(event.at("dur").get<double>());
        }
        if (event.contains("args"))
            text += " " + event.at("args").dump();
        events.push_back(text);
    }
    std::sort(events.begin(), events.end());
    return events;
}

// Two threads on two processors: 101 is born asleep, preempts 100, which
// waits, then blocks and stays asleep until the end; 100 comes back elsewhere.
// From 101's birth on, never two on a processor: one serial stretch.
TEST(Trace, ShowsEachThreadsStretchesTheCountersAndTheSerialStretches)
{
    ProfileBuilder builder(0, 25 * US, PID, false, {{PID, PID, "main"}});
    builder.KeepStretches();
    for (const SwitchRecord& record : std::vector<SwitchRecord>{
             {0, RecordKind::SwitchIn, PID, PID, 0},
             {5 * US, RecordKind::Fork, PID, 101, 0, 0, false, ""},
             {10 * US, RecordKind::SwitchOut, PID, PID, 0, 0, true},
             {10 * US, RecordKind::SwitchIn, PID, 101, 0},
             {30 * US, RecordKind::SwitchOut, PID, 101, 0},
             {30 * US, RecordKind::SwitchIn, PID, PID, 1},
         })
        builder.Add(record);
    RunFacts facts;
    facts.command = {"two", "threads"};
    // Two 25 µs windows, each with one thread on a processor throughout;
    // runnable adds 100's waiting, 15 µs in the first and 5 µs in the second.
    const std::vector<std::string> expected = {
        "C runnable threads 100 0.000000 {\"threads\":1.6}",
        "C runnable threads 100 25.000000 {\"threads\":1.2}",
        "C runnable threads 100 50.000000 {\"threads\":0.0}",
        "C threads on a processor 100 0.000000 {\"threads\":1.0}",
        "C threads on a processor 100 25.000000 {\"threads\":1.0}",
        "C threads on a processor 100 50.000000 {\"threads\":0.0}",
        "M process_name 100 0.000000 {\"name\":\"main\"}",
        "M thread_name 0 0.000000 {\"name\":\"serial stretches\"}",
        "M thread_name 100 0.000000 {\"name\":\"main\"}",
        "M thread_name 101 0.000000 {\"name\":\"main\"}",
        "X asleep 101 30.000000+20.000000",
        "X asleep 101 5.000000+5.000000",
        "X on CPU 100 0.000000+10.000000 {\"cpu\":0}",
        "X on CPU 100 30.000000+20.000000 {\"cpu\":1}",
        "X on CPU 101 10.000000+20.000000 {\"cpu\":0}",
        "X serial stretch 0 5.000000+45.000000 {\"name\":\"main\",\"others\":1,\"tid\":100}",
        "X waiting for a processor 100 10.000000+20.000000",
    };
    EXPECT_EQ(Events(TraceEvents(builder.Finish(50 * US), facts)), expected);
}

// Over its budget the log keeps what it has, counts what it leaves out,
// and says from when on the trace misses stretches; the trace marks it.
TEST(Trace, KeepsTheFirstStretchesWithinItsBudget)
{
    StretchLog log(3);
    TrackedThread one, two;
    one.tid = one.pid = two.pid = PID;
    two.tid = PID + 1;
    log.Stretch(one, ThreadState::OnCpu, 0, 10 * US);
    log.Stretch(two, ThreadState::OnCpu, 10 * US, 20 * US);
    log.Stretch(two, ThreadState::Asleep, 20 * US, 20 * US);  // empty: not a stretch
    log.Stretch(two, ThreadState::Asleep, 20 * US, 30 * US);
    log.Stretch(one, ThreadState::Asleep, 10 * US, 40 * US);  // left out, as are the next two
    log.Stretch(one, ThreadState::OnCpu, 40 * US, 45 * US);
    log.Stretch(two, ThreadState::OnCpu, 30 * US, 50 * US);
    Profile profile;
    profile.endNs = 60 * US;
    profile.stretches = log.Take();
    EXPECT_EQ(profile.stretches.stretches.size(), 3u);
    EXPECT_EQ(profile.stretches.leftOut, 3u);
    EXPECT_EQ(profile.stretches.completeUntilNs, 40 * US);
    const std::string trace = TraceEvents(profile, RunFacts{});
    EXPECT_NE(trace.find("\"stretches_left_out\":3,\"complete_until_us\":40.000}"), std::string::npos) << trace;
    EXPECT_NE(trace.find("{\"ph\":\"i\",\"s\":\"g\",\"name\":\"trace full: 3 later stretches left out\",\"pid\":0,"
                         "\"tid\":0,\"ts\":40.000}"),
              std::string::npos)
        << trace;
}

// 177.038 + 43.329 exceeds 220.367 in doubles: read back as written, each
// stretch must end by the time the next begins, or a viewer nests them.
TEST(Trace, AStretchNeverReachesIntoTheNext)
{
    TrackedThread thread;
    thread.tid = thread.pid = PID;
    StretchLog log;
    log.Stretch(thread, ThreadState::OnCpu, 177'038, 220'367);
    log.Stretch(thread, ThreadState::Waiting, 220'367, 633'097);
    Profile profile;
    profile.endNs = 633'097;
    profile.stretches = log.Take();
    std::vector<std::pair<double, double>> slices;
    const Json trace = Json::parse(TraceEvents(profile, RunFacts{}));
    for (const Json& event : trace["traceEvents"])
        if (event["ph"] == "X")
            slices.push_back({event["ts"].get<double>(), event["dur"].get<double>()});
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_LE(slices[0].first + slices[0].second, slices[1].first);
    EXPECT_EQ(slices[0].second, 43.328);  // 1 ns short
    EXPECT_EQ(slices[1].second, 412.730); // 220.367 + 412.730 lands on 633.097
}

} // namespace
