#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Number(const std::string& json, const std::string& key, std::size_t from = 0)
{
    const std::size_t at = json.find("\"" + key + "\": ", from);
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}

// Every thread's on-CPU, waiting and blocked time add up to its lifetime
// (each printed to a microsecond, so within three of them), and the
// kernel's wait was read for the threads that lived through reads.
TEST(StatDemandRun, EveryThreadsLifeAddsUp)
{
    struct Workload {
        std::vector<std::string> args;
        unsigned threads;
    };
    for (const Workload& workload : std::vector<Workload>{{{"ticking", "200", "1000"}, 201},
                                                           {{"convoy", "4", "1000"}, 5}}) {
        SCOPED_TRACE(workload.args[0]);
        const ScratchFolder folder;
        const std::string json = folder.Path() + "/run.json";
        std::vector<std::string> args = {"-o", folder.Path() + "/report", "--json", json, QUORVEX_SWITCH_LOAD};
        args.insert(args.end(), workload.args.begin(), workload.args.end());
        const ProgramResult result = RunProgram(QUORVEX_STAT, args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        if (result.err.find("sampling /proc") != std::string::npos)
            GTEST_SKIP() << "the kernel refuses context-switch records here";
        const std::string report = ReadFile(json);
        unsigned threads = 0, fromKernel = 0;
        for (std::size_t at = report.find("{\"tid\": "); at != std::string::npos;
             at = report.find("{\"tid\": ", at + 1), ++threads) {
            const double parts = Number(report, "on_cpu_ms", at) + Number(report, "waiting_ms", at) +
                                 Number(report, "blocked_ms", at);
            EXPECT_NEAR(parts, Number(report, "lifetime_ms", at), 0.0031) << report.substr(at, 300);
            fromKernel += report.compare(report.find("\"waiting_from\": ", at) + 16, 8, "\"kernel\"") == 0;
        }
        EXPECT_EQ(threads, workload.threads);
        EXPECT_GE(fromKernel, workload.threads * 9 / 10) << report;
        EXPECT_NEAR(Number(report, "blocked_ms", report.find("\"totals\"")) +
                        Number(report, "waiting_ms", report.find("\"totals\"")) +
                        Number(report, "on_cpu_ms", report.find("\"totals\"")),
                    Number(report, "lifetime_ms", report.find("\"totals\"")), 0.0031);
    }
}

// Two busy threads held to one processor want two: starved, and the one
// processor is the limit, however busy the rest of the machine is.
TEST(StatDemandRun, TwoBusyThreadsOnOneProcessorAreStarved)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const ProgramResult result = RunProgram(
        "taskset", {"-c", "0", QUORVEX_STAT, "-o", folder.Path() + "/report", "--json", json, QUORVEX_SWITCH_LOAD,
                    "spinning", "2", "600"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    if (result.err.find("sampling /proc") != std::string::npos)
        GTEST_SKIP() << "the kernel refuses context-switch records here";
    const std::string report = ReadFile(json);
    EXPECT_NE(report.find("\"verdict\": {\"limit\": \"starved\", \"shape\": \"parallel\", \"text\": \"starved: its "
                          "threads waited for a processor "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("more of them wanted one than its 1 processor: the limit"), std::string::npos) << report;
    EXPECT_EQ(Number(report, "usable_processors"), 1);
    EXPECT_GE(Number(report, "oversubscribed_percent"), 50) << report;
    EXPECT_EQ(ReadFile(folder.Path() + "/report").find("\n quorvex-stat for '"), 0u);
}

} // namespace
