// quorvex-stat in a developer's loop: repeated runs, conditions, comparison.

#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

ProgramResult Stat(const std::vector<std::string>& args)
{
    return RunProgram(QUORVEX_STAT, args);
}

TEST(StatLoop, RepeatedRunsKeepEachRunsFiguresAndTheirSpread)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/runs.json";
    const ProgramResult result = Stat({"-r", "3", "-o", folder.Path() + "/report", "--json", json, QUORVEX_STAT_TARGET,
                                       "busy", "2", "100", folder.Path() + "/figures"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Json report = Json::parse(ReadFile(json));
    const Json& figures = report["repeat"]["figures"];
    EXPECT_EQ(report["repeat"]["runs"], 3);
    for (const char* key : {"elapsed_ms", "cpu_avg", "parallel_time", "average_concurrency", "level_0"}) {
        const Json& spread = figures[key];
        ASSERT_EQ(spread["values"].size(), 3u) << key;
        double sum = 0;
        for (const Json& value : spread["values"])
            sum += value.get<double>();
        EXPECT_NEAR(spread["mean"].get<double>(), sum / 3, 0.002) << key;
        EXPECT_LE(spread["min"].get<double>(), spread["mean"].get<double>()) << key;
        EXPECT_GE(spread["max"].get<double>(), spread["mean"].get<double>()) << key;
    }
    // Three real runs never take the same nanoseconds.
    const Json& elapsed = figures["elapsed_ms"];
    EXPECT_GT(elapsed["stddev"].get<double>(), 0);
    EXPECT_LT(elapsed["min"].get<double>(), elapsed["max"].get<double>());
    // The run-wide keys are the last run's, as its threads are.
    EXPECT_EQ(elapsed["values"][2].get<double>(), report["elapsed_ms"].get<double>());
    // Each run's two threads spun 100 ms of their own clock: at least 200 ms of CPU each run.
    for (std::size_t run = 0; run < 3 && report["exact"] == true; ++run)
        EXPECT_GE(figures["cpu_avg"]["values"][run].get<double>() * elapsed["values"][run].get<double>() / 100, 198)
            << run;
    EXPECT_NE(ReadFile(folder.Path() + "/report").find(" over 3 runs: mean ± standard deviation (min .. max)\n"),
              std::string::npos);
}

// The command's own failure wins over a condition; -r stops at the first failing run.
TEST(StatLoop, ExitStatusOfConditionsAndRepeatedRuns)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const std::string once = "test -e " + folder.Path() + "/ran && exit 3; touch " + folder.Path() + "/ran";
    struct Case {
        std::vector<std::string> args;
        int status;
        int runs;  // in the JSON; 1: no "repeat"
    };
    const std::vector<Case> cases = {
        {{"--fail-if", "elapsed_ms>=0", "true"}, 123, 1},
        {{"--fail-if", "elapsed_ms<0", "--fail-if", "threads!=1", "true"}, 0, 1},
        {{"--fail-if", "elapsed_ms>=0", "false"}, 1, 1},
        {{"--fail-if", "elapsed_ms>=0", "nosuch-command"}, 127, 0},
        {{"--fail-if", "elapsed_ms>", "true"}, 125, 0},
        {{"-r", "3", "--fail-if", "elapsed_ms>=0", "true"}, 123, 3},
        {{"-r", "5", "sh", "-c", once}, 3, 2},
    };
    for (const Case& c : cases) {
        std::remove(json.c_str());
        std::vector<std::string> args = {"-o", folder.Path() + "/report", "--json", json};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Stat(args).exitCode, c.status) << testing::PrintToString(c.args);
        const std::string text = ReadFile(json);
        if (c.runs == 0)
            continue;
        const Json report = Json::parse(text);
        EXPECT_EQ(report.contains("repeat") ? report["repeat"]["runs"].get<int>() : 1, c.runs)
            << testing::PrintToString(c.args);
    }
    EXPECT_NE(ReadFile(folder.Path() + "/report").find("\n quorvex-stat for 'sh -c "), std::string::npos);
}

// A file that is not a report is refused before the command runs; a
// baseline brought up to date in place is read before it is written.
TEST(StatLoop, CompareRefusesWhatIsNotAReportAndReadsABaselineBeforeReplacingIt)
{
    const ScratchFolder folder;
    const std::string other = folder.Path() + "/other.json";
    const std::string marker = folder.Path() + "/ran";
    std::ofstream(other) << "{\"name\": \"not ours\"}\n";
    for (const std::string& file : {other, folder.Path() + "/missing.json"}) {
        const ProgramResult result = Stat({"--compare", file, "touch", marker});
        EXPECT_EQ(result.exitCode, 125);
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
        EXPECT_TRUE(result.err.starts_with("quorvex-stat: cannot compare with '" + file + "': ")) << result.err;
    }
    EXPECT_FALSE(std::ifstream(marker).good());

    const std::string json = folder.Path() + "/base.json";
    const std::string report = folder.Path() + "/report";
    ASSERT_EQ(Stat({"-o", report, "--json", json, "true"}).exitCode, 0);
    const ProgramResult again = Stat({"-o", report, "--json", json, "--compare", json, "true"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(ReadFile(report).find(" compared with " + json + " (1 run) and this (1 run):\n"), std::string::npos);
    EXPECT_NO_THROW(Json::parse(ReadFile(json)));
}

// A real run's trace against its own JSON report: every thread named, each
// thread's on-CPU slices adding up to its on-CPU time, all within the run.
TEST(StatLoop, TraceOfARealRunAgreesWithItsReport)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const std::string trace = folder.Path() + "/run.trace.json";
    ASSERT_EQ(Stat({"-o", "/dev/null", "--json", json, "--trace", trace, QUORVEX_STAT_TARGET, "busy", "4", "150",
                    folder.Path() + "/figures"})
                  .exitCode,
              0);
    const Json report = Json::parse(ReadFile(json));
    const Json events = Json::parse(ReadFile(trace))["traceEvents"];
    const double elapsedUs = report["elapsed_ms"].get<double>() * 1000;
    std::map<int, double> onCpuUs;
    int named = 0;
    for (const Json& event : events) {
        ASSERT_TRUE(event["ph"].is_string() && event["ts"].is_number() && event["pid"].is_number_integer() &&
                    event["tid"].is_number_integer())
            << event;
        EXPECT_LE(event["ts"].get<double>(), elapsedUs + 1) << event;  // elapsed_ms is rounded to 1 µs
        if (event["ph"] == "M" && event["name"] == "thread_name" && event["tid"] != 0)
            ++named;  // tid 0: the serial stretches' own track
        if (event["ph"] != "X")
            continue;
        ASSERT_TRUE(event["dur"].is_number()) << event;
        EXPECT_LE(event["ts"].get<double>() + event["dur"].get<double>(), elapsedUs + 1) << event;
        if (event["name"] == "on CPU")
            onCpuUs[event["tid"].get<int>()] += event["dur"].get<double>();
    }
    EXPECT_EQ(named, 5);
    for (const Json& thread : report["threads"])
        EXPECT_NEAR(onCpuUs[thread["tid"].get<int>()] / 1000, thread["on_cpu_ms"].get<double>(), 0.01) << thread;
}

} // namespace
