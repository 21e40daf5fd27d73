// Console runs of the built program that measure the demo.

#include "ConsoleText.h"
#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kPercent = " *[0-9]+\\.[0-9]{2}";
const std::string kCount = " *[0-9]+";
const std::string kNotice = "quorvex: thread states from ";
const std::string kExactNotice = kNotice + "the kernel's context-switch records\n";

// Two busy threads and one sleeper: 4 threads, for long enough to give 10
// samples after the second start's settling second. The last sample may
// catch the threads ending.
const std::string kShortDemo = "--phases 2 --phase-ms 3000 --sleepers 1";

std::vector<std::string> Words(const std::string& text, std::vector<std::string> words = {})
{
    std::istringstream stream(text);
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

ProgramResult RunConsole(const std::string& commandLine, const std::string& folder = {})
{
    return RunProgram(QUORVEX_BIN, Words(commandLine), {.input = "\n", .workingDirectory = folder});
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(ConsoleRun, MeasuresTheDemoAndCopiesBothReportsToTheLog)
{
    const ScratchFolder folder;
    const ProgramResult result = RunConsole("-l -app quorvex-demo " + kShortDemo, folder.Path());

    const std::string reports =
        SystemReportPattern() + ApplicationReportPattern("quorvex-demo", kShortDemo, "100",
                                                         {.cpu = kPercent,
                                                          .threads = "  4",
                                                          .elapsed = "(29[89][0-9]|30[0-9][0-9]|31[0-4][0-9])",
                                                          .samples = kCount,
                                                          .threadsMin = "  [1-4]"});
    ASSERT_TRUE(std::regex_match(result.out, std::regex(RegexLiteral(kBanner) + reports + RegexLiteral(kPrompt))))
        << result.out;
    EXPECT_EQ(ReadFile(folder.Path() + "/Quorvex_Log.txt"),
              "Quorvex 1.0 Log\n" +
                  result.out.substr(kBanner.size(), result.out.size() - kBanner.size() - kPrompt.size()));
    EXPECT_NE(result.err.find("[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(Count(result.err, kNotice), 1u) << "once for the probe and the run:\n" << result.err;
    EXPECT_EQ(result.exitCode, 0);
}

// The target is looked for below the program's folder; at one second the
// run has too few samples for statistics.
TEST(ConsoleRun, FindsATargetByADirectoryPartAndAtOneSecondHasTooFewSamples)
{
    const std::string params = "--phases 1 --phase-ms 2500 --sleepers 0";
    const ProgramResult result = RunConsole("-n 1000 -app tests/../quorvex-demo " + params);
    const std::string expected =
        RegexLiteral(kBanner) + SystemReportPattern() +
        ApplicationReportPattern("tests/../quorvex-demo", params, "1000",
                                 {.elapsed = "(24[89][0-9]|2[56][0-9][0-9])", .samples = "       [1-3]"}) +
        RegexLiteral(kPrompt);
    EXPECT_TRUE(std::regex_match(result.out, std::regex(expected))) << result.out;
    EXPECT_NE(result.err.find("[Get Max Thread] Need to collect at least  10\n"), std::string::npos) << result.err;
}

// Whether any user may run the program: it and every folder above it are
// executable by others.
bool OthersMayRun(std::filesystem::path path)
{
    for (; path != path.root_path(); path = path.parent_path()) {
        struct stat status;
        if (stat(path.c_str(), &status) != 0 || !(status.st_mode & S_IXOTH))
            return false;
    }
    return true;
}

// An unprivileged user gets the context-switch records of their own processes.
TEST(ConsoleRun, UnprivilegedUserGetsTheExactThreadStates)
{
    constexpr char kSetpriv[] = "/usr/bin/setpriv";
    if (geteuid() != 0 || access(kSetpriv, X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    if (!OthersMayRun(QUORVEX_BIN))
        GTEST_SKIP() << "another user may not run " << QUORVEX_BIN;
    const ProgramResult result =
        RunProgram(kSetpriv,
                   Words("-app quorvex-demo --phases 2 --phase-ms 1500 --sleepers 1",
                         {"--reuid=65534", "--regid=65534", "--clear-groups", QUORVEX_BIN}),
                   {.input = "\n"});
    if (result.err.find("the kernel refuses") != std::string::npos)
        GTEST_SKIP() << result.err;
    EXPECT_EQ(Count(result.err, kNotice), 1u) << result.err;
    EXPECT_NE(result.err.find(kExactNotice), std::string::npos) << result.err;
    // Half a second after the settling second: too few samples for statistics.
    EXPECT_TRUE(std::regex_search(
        result.out, std::regex(ApplicationReportPattern("quorvex-demo", "--phases 2 --phase-ms 1500 --sleepers 1", "100",
                                                        {.elapsed = "1[4-6][0-9][0-9]", .samples = "       [1-6]"}))))
        << result.out;
}

} // namespace
