// Console runs of the built program that measure a target.

#include "ConsoleText.h"
#include "QuorvexCommandLine.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kNumber = " *[0-9]+\\.[0-9]{2}";
const std::string kCount = " *[0-9]+";

// The application report with the given name, parameters and interval, and
// the values as patterns. The last sample may catch the target's threads
// ending, so the thread minimum has a pattern of its own.
std::string ApplicationReport(const std::string& name, const std::string& params, const std::string& interval,
                              const std::string& cpu, const std::string& threads, const std::string& elapsed,
                              const std::string& samples, const std::string& threadsMin = {})
{
    return RegexLiteral("\n---- Application Detection ----\nApplication Name:" + name +
                        "\nApplication Parameters:" + params + "\nSampling interval (msec):" + interval +
                        "\nCPU Utilization (percentage)\n\t          Min:") +
           cpu + " Avg:" + cpu + " Max:" + cpu + RegexLiteral("\nNumber of Threads:\n\t          Min:") + (threadsMin.empty() ? threads : threadsMin) +
           "   Avg:" + threads + "   Max:" + threads + "   " + RegexLiteral("\nElapsed Time (ms): ") + elapsed +
           RegexLiteral("\nNumber of Samples: ") + samples;
}

std::string FileText(const fs::path& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class ScratchDir {
public:
    ScratchDir()
    {
        char templ[] = "/tmp/quorvex-console-XXXXXX";
        m_path = mkdtemp(templ);
    }
    ~ScratchDir() { fs::remove_all(m_path); }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

ProgramResult RunConsole(const std::vector<std::string>& args, const std::string& cwd = {})
{
    return RunProgram(QUORVEX_BIN, args, {.input = "\n", .workingDirectory = cwd, .timeoutSeconds = 120});
}

// The demo in a phase of two busy threads and one sleeper: 4 threads, for
// long enough to give 10 samples after the second start's settling second.
const std::vector<std::string> kShortDemo = {"--phases", "2", "--phase-ms", "3000", "--sleepers", "1"};

TEST(ConsoleRun, MeasuresTheDemoAndReportsItsThreadsAndTime)
{
    std::vector<std::string> args = {"-app", "quorvex-demo"};
    args.insert(args.end(), kShortDemo.begin(), kShortDemo.end());
    const ProgramResult result = RunConsole(args);

    const std::string expected = RegexLiteral(kBanner) + SystemReportPattern() +
                                 ApplicationReport("quorvex-demo", "--phases 2 --phase-ms 3000 --sleepers 1", "100",
                                                   kNumber, "  4", "(29[89][0-9]|30[0-9][0-9]|31[0-4][0-9])", kCount, "  [1-4]") +
                                 RegexLiteral(kPrompt);
    EXPECT_TRUE(std::regex_match(result.out, std::regex(expected))) << result.out;
    EXPECT_NE(result.err.find("[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.exitCode, 0);
}

TEST(ConsoleRun, AtOneSecondTooFewSamplesLeaveTheStatisticsEmpty)
{
    const ProgramResult result =
        RunConsole({"-n", "1000", "-app", "quorvex-demo", "--phases", "1", "--phase-ms", "2500", "--sleepers", "0"});
    const std::string expected = RegexLiteral(kBanner) + SystemReportPattern() +
                                 ApplicationReport("quorvex-demo", "--phases 1 --phase-ms 2500 --sleepers 0", "1000",
                                                   "", "", "(24[89][0-9]|2[56][0-9][0-9])", "       [1-3]") +
                                 RegexLiteral(kPrompt);
    EXPECT_TRUE(std::regex_match(result.out, std::regex(expected))) << result.out;
    EXPECT_NE(result.err.find("[Get Max Thread] Need to collect at least  10\n"), std::string::npos) << result.err;
}

TEST(ConsoleRun, FindsATargetByADirectoryPartBelowTheProgramsFolder)
{
    std::vector<std::string> args = {"-app", "tests/../quorvex-demo"};
    args.insert(args.end(), kShortDemo.begin(), kShortDemo.end());
    const ProgramResult result = RunConsole(args);
    const std::string expected = ApplicationReport("tests/../quorvex-demo", "--phases 2 --phase-ms 3000 --sleepers 1",
                                                   "100", kNumber, "  4", "[0-9]+", kCount, "  [1-4]");
    EXPECT_TRUE(std::regex_search(result.out, std::regex(expected))) << result.out;
}

struct UnstartableCase {
    const char* name;
    std::vector<std::string> args;
    std::string parserOutput;
    std::string reportedName;
};

void PrintTo(const UnstartableCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnstartableTargetTest : public testing::TestWithParam<UnstartableCase> {};

TEST_P(UnstartableTargetTest, ReportsTheFailureAndAnEmptyReport)
{
    const ProgramResult result = RunConsole(GetParam().args);
    const std::string expected = RegexLiteral(kBanner + GetParam().parserOutput) + SystemReportPattern() +
                                 ApplicationReport(GetParam().reportedName, "", "100", "", "", "", "") +
                                 RegexLiteral(kPrompt);
    EXPECT_TRUE(std::regex_match(result.out, std::regex(expected))) << result.out;
    EXPECT_EQ(result.err,
              "[Error] Error starting The process !!!\n"
              "[Get Max Thread Error] Cannot query data !!!\n"
              "[Error] Cannot get Total number of threads\n");
    EXPECT_EQ(result.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, UnstartableTargetTest,
                         testing::Values(
                             // An absolute path begins with the option character: the run goes on without a name.
                             UnstartableCase{"AbsolutePath", {"-app", "/bin/true"}, "\nInvalid instruction...\n" + kUsage, ""},
                             UnstartableCase{"NoName", {"-app"}, "", ""},
                             UnstartableCase{"Missing", {"-app", "no-such-program"}, "", "no-such-program"},
                             UnstartableCase{"Folder", {"-app", "tests"}, "", "tests"}),
                         [](const testing::TestParamInfo<UnstartableCase>& info) { return info.param.name; });

TEST(ConsoleRun, CopiesBothReportsToTheLogFile)
{
    ScratchDir dir;
    std::vector<std::string> args = {"-l", "-app", "quorvex-demo"};
    args.insert(args.end(), kShortDemo.begin(), kShortDemo.end());
    const ProgramResult result = RunConsole(args, dir.Path());

    const std::string log = FileText(dir.Path() / "Quorvex_Log.txt");
    const std::string banner = "Quorvex 1.0\n\n";
    ASSERT_EQ(result.out.rfind(banner, 0), 0u);
    ASSERT_GE(result.out.size(), banner.size() + kPrompt.size());
    const std::string reports = result.out.substr(banner.size(), result.out.size() - banner.size() - kPrompt.size());
    EXPECT_EQ(log, "Quorvex 1.0 Log\n" + reports);
    EXPECT_NE(log.find("---- Application Detection ----"), std::string::npos);
}

TEST(ConsoleRun, KeepsTheLogOptionWhenParsingStopsAtAnError)
{
    ScratchDir dir;
    const ProgramResult result = RunConsole({"-l", "mylog", "-x"}, dir.Path());
    const std::string log = FileText(dir.Path() / "mylog");
    EXPECT_TRUE(std::regex_match(log, std::regex(RegexLiteral("Quorvex 1.0 Log\n") + SystemReportPattern()))) << log;
    EXPECT_EQ(result.out, "Quorvex 1.0\n\n\nInvalid instruction...\n" + kUsage + log.substr(16) + kPrompt);
}

TEST(ConsoleRun, GoesOnWithoutALogThatCannotBeOpened)
{
    ScratchDir dir;
    const ProgramResult result = RunConsole({"-l", "missing/dir/log.txt", "-h"}, dir.Path());
    EXPECT_TRUE(std::regex_match(result.out, std::regex(RegexLiteral(kBanner + kUsage) + SystemReportPattern() +
                                                        RegexLiteral(kPrompt))))
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

const std::string kExactNotice = "quorvex: thread states from the kernel's context-switch records";
const std::string kForcedProcNotice =
    "quorvex: thread states from /proc (forced by QUORVEX_THREAD_STATES=proc); concurrency may be overstated when "
    "the machine is oversubscribed";
constexpr char kSetpriv[] = "/usr/bin/setpriv";

struct NoticeCase {
    const char* name;
    std::vector<std::string> asUser;           // setpriv's options to run quorvex as another user
    std::optional<std::string> threadStates;   // QUORVEX_THREAD_STATES
    std::string notice;
};

void PrintTo(const NoticeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ThreadStateNoticeTest : public testing::TestWithParam<NoticeCase> {};

std::vector<std::string> NoticeLines(const std::string& err)
{
    std::vector<std::string> lines;
    std::istringstream text(err);
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("quorvex: "))
            lines.push_back(line);
    }
    return lines;
}

// Once for the probe and the run, on standard error only: standard output
// is the same whichever the source.
TEST_P(ThreadStateNoticeTest, IsOneLineOnStandardError)
{
    const NoticeCase& c = GetParam();
    std::string program = QUORVEX_BIN;
    std::vector<std::string> args = {"-n",         "100",  "-app",       "quorvex-demo", "--phases", "2",
                                     "--phase-ms", "1500", "--sleepers", "1"};
    if (!c.asUser.empty()) {
        if (geteuid() != 0 || access(kSetpriv, X_OK) != 0)
            GTEST_SKIP() << "needs root and setpriv to run as another user";
        program = kSetpriv;
        args.insert(args.begin(), QUORVEX_BIN);
        args.insert(args.begin(), c.asUser.begin(), c.asUser.end());
    }
    const ProgramResult result =
        RunProgram(program, args, {.input = "\n", .env = {{"QUORVEX_THREAD_STATES", c.threadStates}}});

    const std::vector<std::string> lines = NoticeLines(result.err);
    if (c.notice == kExactNotice && lines.size() == 1 && lines[0].find("the kernel refuses") != std::string::npos)
        GTEST_SKIP() << lines[0];
    EXPECT_EQ(lines, std::vector<std::string>{c.notice}) << result.err;
    const std::string expected = RegexLiteral(kBanner) + SystemReportPattern() +
                                 ApplicationReport("quorvex-demo", "--phases 2 --phase-ms 1500 --sleepers 1", "100",
                                                   "( *[0-9]+\\.[0-9]{2})?", "(  4)?", "1[4-6][0-9][0-9]", kCount) +
                                 RegexLiteral(kPrompt);
    EXPECT_TRUE(std::regex_match(result.out, std::regex(expected))) << result.out;
    EXPECT_EQ(result.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ThreadStateNoticeTest,
    testing::Values(NoticeCase{"ContextSwitchRecords", {}, std::nullopt, kExactNotice},
                    NoticeCase{"ForcedProc", {}, "proc", kForcedProcNotice},
                    // An unprivileged user gets the records of their own processes.
                    NoticeCase{"Unprivileged", {"--reuid=65534", "--regid=65534", "--clear-groups"}, std::nullopt,
                               kExactNotice}),
    [](const testing::TestParamInfo<NoticeCase>& info) { return info.param.name; });

struct ProcessNameCase {
    const char* target;
    const char* processName;
};

void PrintTo(const ProcessNameCase& c, std::ostream* os)
{
    *os << c.target;
}

class ProcessNameTest : public testing::TestWithParam<ProcessNameCase> {};

TEST_P(ProcessNameTest, IsTheFileNameWithoutATrailingExe)
{
    EXPECT_STREQ(CQuorvexCommandLine::ProcessNameOf(GetParam().target), GetParam().processName);
}

INSTANTIATE_TEST_SUITE_P(Targets, ProcessNameTest,
                         testing::Values(ProcessNameCase{"prog.exe", "prog"}, ProcessNameCase{"tools\\prog.exe", "prog"},
                                         ProcessNameCase{"prog", "prog"}, ProcessNameCase{"a/b\\c/prog.exe", "prog"},
                                         ProcessNameCase{"../../usr/bin/xz", "xz"},
                                         ProcessNameCase{"prog.exec", "prog.exec"},
                                         ProcessNameCase{"dir.exe/prog", "prog"}, ProcessNameCase{"prog.EXE", "prog.EXE"},
                                         ProcessNameCase{".exe", ""}, ProcessNameCase{"", ""}));

} // namespace
