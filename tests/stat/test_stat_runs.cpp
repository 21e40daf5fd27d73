#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// The number after "key": at or after from in a JSON text.
double Number(const std::string& json, const std::string& key, std::size_t from = 0)
{
    const std::size_t at = json.find("\"" + key + "\": ", from);
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}

// Each thread's on-CPU milliseconds in a JSON report, by tid.
std::map<int, double> OnCpuByTid(const std::string& json)
{
    std::map<int, double> threads;
    for (std::size_t at = json.find("{\"tid\": "); at != std::string::npos; at = json.find("{\"tid\": ", at + 1))
        threads[static_cast<int>(Number(json, "tid", at))] = Number(json, "on_cpu_ms", at);
    return threads;
}

ProgramResult Stat(const std::vector<std::string>& args)
{
    return RunProgram(QUORVEX_STAT, args);
}

TEST(StatRun, ExitsWithTheCommandsStatusAsAShellWould)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errorLine;  // the first line on standard error, when it says something
    };
    const ScratchFolder folder;
    const std::string data = folder.Path() + "/data";
    std::ofstream(data) << "not a program\n";
    const std::vector<Case> cases = {
        {{"true"}, 0, ""},
        {{"false"}, 1, ""},
        {{"sh", "-c", "exit 3"}, 3, ""},
        {{"sh", "-c", "kill -SEGV $$"}, 139, ""},
        {{"nosuch-command"}, 127, "quorvex-stat: nosuch-command: command not found"},
        {{"./nosuch-command"}, 127, "quorvex-stat: ./nosuch-command: No such file or directory"},
        {{data}, 126, "quorvex-stat: " + data + ": Permission denied"},
        {{"-i", "0", "true"}, 125, "quorvex-stat: invalid interval '0': milliseconds from 1 to 3600000"},
        {{"-o", "/nonexistent/report", "true"}, 125,
         "quorvex-stat: cannot write '/nonexistent/report': No such file or directory"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = Stat(c.args);
        EXPECT_EQ(result.exitCode, c.status) << testing::PrintToString(c.args);
        if (!c.errorLine.empty()) {
            EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.errorLine);
        }
    }
}

TEST(StatRun, ReportsTheSignalThatEndedTheCommand)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    EXPECT_EQ(Stat({"--json", json, "sh", "-c", "kill -SEGV $$"}).exitCode, 139);
    const std::string text = ReadFile(json);
    EXPECT_NE(text.find("\"exit_status\": 139,\n  \"signal\": \"SIGSEGV\","), std::string::npos) << text;
}

// The command's total on-CPU time against the process clock the workload
// read itself as it ended (SWITCH_LOAD_CLOCKS): threads handing a token
// through semaphores (over 50,000 switches a second), four threads taking
// turns at a mutex, 200 mostly idle threads waking every 10 ms, two busy
// ones. A switch-in after idle or another program is dated back by the
// processor's hand-over cost, which can fall short of the whole switch: the
// hand-overs and the busy threads within 2 %; the idle threads and the
// convoy, whose waiters wake for a few microseconds at a time, may fall
// short by more (up to a fifth of the convoy's time when its waiters wake on
// an idle processor), and then the report must not say "exact". When it
// says "exact", the total and each thread agree with their own clocks within
// 1 % (the main thread's clock also counts the time before its exec, when
// nothing was measured yet; it only starts and joins the others).
TEST(StatRun, OnCpuMatchesTheThreadsOwnClocks)
{
    struct Workload {
        std::vector<std::string> args;
        double totalTolerance;  // when not called exact
    };
    const std::vector<Workload> workloads = {{{"tokens", "2", "1000"}, 0.02},
                                             {{"convoy", "4", "1000"}, 1},
                                             {{"ticking", "200", "1000"}, 1},
                                             {{"spinning", "2", "400"}, 0.02}};
    for (const Workload& workload : workloads) {
        SCOPED_TRACE(workload.args[0]);
        const ScratchFolder folder;
        const std::string json = folder.Path() + "/run.json";
        ProgramOptions options;
        options.env["SWITCH_LOAD_CLOCKS"] = folder.Path() + "/clocks";
        std::vector<std::string> args = {"--json", json, QUORVEX_SWITCH_LOAD};
        args.insert(args.end(), workload.args.begin(), workload.args.end());
        const ProgramResult result = RunProgram(QUORVEX_STAT, args, options);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        if (result.err.find("sampling /proc") != std::string::npos)
            GTEST_SKIP() << "the kernel refuses context-switch records here";
        const std::string report = ReadFile(json);
        const bool exact = report.find("\"exact\": true") != std::string::npos;
        const std::map<int, double> measured = OnCpuByTid(report);
        double total = 0;
        for (const auto& [tid, ms] : measured)
            total += ms;
        std::ifstream clocks(folder.Path() + "/clocks");
        std::string what;
        int threads = 0;
        for (unsigned long long id = 0, ns = 0; clocks >> what >> id;) {
            if (what == "process") {
                const double own = static_cast<double>(id) / 1e6;
                EXPECT_NEAR(total, own, own * (exact ? 0.01 : workload.totalTolerance)) << report;
                continue;
            }
            clocks >> ns;
            const int tid = static_cast<int>(id);
            ASSERT_TRUE(measured.count(tid)) << tid << " not in " << report;
            ++threads;
            const double own = static_cast<double>(ns) / 1e6;
            if (exact && tid != static_cast<int>(Number(report, "tid")))
                EXPECT_NEAR(measured.at(tid), own, own * 0.01) << tid << " in " << report;
        }
        EXPECT_EQ(threads, 1 + std::atoi(workload.args[1].c_str()) * (workload.args[0] == "tokens" ? 2 : 1));
        if (workload.args[0] == "tokens")
            EXPECT_GE(std::atof(result.out.c_str() + result.out.find("switches ") + 9), 50'000) << result.out;
    }
}

TEST(StatRun, MeasuresTwoThousandThreads)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    ASSERT_EQ(Stat({"--json", json, QUORVEX_STAT_TARGET, "threads", "2000"}).exitCode, 0);
    EXPECT_EQ(OnCpuByTid(ReadFile(json)).size(), 2001u);
}

TEST(StatRun, ChildrenCountOnlyWithDashC)
{
    const ScratchFolder folder;
    const std::string script = std::string(QUORVEX_STAT_TARGET) + " busy 1 200 " + folder.Path() + "/a" + " & " +
                               QUORVEX_STAT_TARGET + " busy 1 200 " + folder.Path() + "/b" + " & wait";
    const ProgramResult alone = Stat({"--json", folder.Path() + "/alone.json", "sh", "-c", script});
    EXPECT_NE(alone.err.find("quorvex-stat: sh used "), std::string::npos) << alone.err;
    EXPECT_NE(alone.err.find(": try -c\n"), std::string::npos) << alone.err;
    EXPECT_EQ(Number(ReadFile(folder.Path() + "/alone.json"), "processes"), 1);

    const ProgramResult tree = Stat({"-c", "--json", folder.Path() + "/tree.json", "sh", "-c", script});
    EXPECT_EQ(tree.err.find("try -c"), std::string::npos) << tree.err;
    const std::string json = ReadFile(folder.Path() + "/tree.json");
    EXPECT_EQ(Number(json, "processes"), 3);
    if (json.find("\"exact\": true") != std::string::npos) {
        EXPECT_GE(Number(json, "avg") * Number(json, "elapsed_ms") / 100, 400 * 0.99) << json;
    }
}

TEST(StatRun, SamplesProcWhenTheRecordsAreRefused)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    ProgramOptions options;
    options.env["QUORVEX_THREAD_STATES"] = "proc";
    const ProgramResult result = RunProgram(QUORVEX_STAT, {"--json", json, "sh", "-c", "exit 4"}, options);
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("; sampling /proc every 100 ms instead\n"), std::string::npos) << result.err;
    EXPECT_NE(ReadFile(json).find("\"exact\": false,"), std::string::npos);
}

TEST(StatRun, TimeoutEndsTheCommandWithSigtermThenSigkill)
{
    EXPECT_EQ(Stat({"-t", "0.2", "sleep", "30"}).exitCode, 143);
    // Ignored signals stay ignored across exec: sleep ignores SIGTERM too.
    EXPECT_EQ(Stat({"--timeout=0.2", "sh", "-c", "trap '' TERM; sleep 30"}).exitCode, 137);
}

} // namespace
