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

// Each thread's on-CPU time against what its own thread clock said.
TEST(StatRun, PerThreadOnCpuMatchesTheThreadsOwnClock)
{
    const ScratchFolder folder;
    const std::string json = folder.Path() + "/run.json";
    const std::string figures = folder.Path() + "/figures";
    const ProgramResult result = Stat({"-o", folder.Path() + "/report", "--json", json, QUORVEX_STAT_TARGET, "busy", "2",
                                       "400", figures});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string report = ReadFile(json);
    if (report.find("\"exact\": true") == std::string::npos)
        GTEST_SKIP() << "the kernel refuses context-switch records here";
    const std::map<int, double> measured = OnCpuByTid(report);
    std::ifstream own(figures);
    int tid = 0;
    unsigned long long ns = 0;
    int threads = 0;
    for (; own >> tid >> ns; ++threads) {
        ASSERT_TRUE(measured.count(tid)) << tid << " not in " << report;
        EXPECT_NEAR(measured.at(tid), static_cast<double>(ns) / 1e6, static_cast<double>(ns) / 1e6 * 0.01) << tid;
    }
    EXPECT_EQ(threads, 2);
    EXPECT_NE(ReadFile(folder.Path() + "/report").find("quorvex-stat for '"), std::string::npos);
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
