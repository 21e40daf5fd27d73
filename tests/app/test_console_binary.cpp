// The built program, run as a user runs it.

#include "ConsoleText.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

struct ConsoleCase {
    std::vector<std::string> args;
    std::string parserOutput;
    std::string applicationReport;  // a pattern
    std::string err;
};

void PrintTo(const ConsoleCase& c, std::ostream* os)
{
    for (const std::string& arg : c.args)
        *os << arg << ' ';
}

const std::string kCannotStart = "[Error] Error starting The process !!!\n"
                                 "[Get Max Thread Error] Cannot query data !!!\n"
                                 "[Error] Cannot get Total number of threads\n";

class ConsoleOutputTest : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleOutputTest, PrintsBannerParserOutputSystemReportApplicationReportAndPrompt)
{
    const ProgramResult result = RunProgram(QUORVEX_BIN, GetParam().args, {.input = "\n"});
    const std::regex expected(RegexLiteral(kBanner + GetParam().parserOutput) + SystemReportPattern() +
                              GetParam().applicationReport + RegexLiteral(kPrompt));
    EXPECT_TRUE(std::regex_match(result.out, expected)) << result.out;
    EXPECT_EQ(result.err, GetParam().err);
    EXPECT_EQ(result.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConsoleOutputTest,
    testing::Values(ConsoleCase{{"-h"}, kUsage}, ConsoleCase{{"-x"}, kInvalidInstruction},
                    ConsoleCase{{"-n", "5"}, kInvalidSampling},
                    // Targets that cannot be started: the engine says so, and nothing is measured.
                    ConsoleCase{{"-n", "10", "-app", "prog.exe", "a", "b"}, "",
                                ApplicationReportPattern("prog.exe", "a b", "10"), kCannotStart},
                    // An absolute path begins with the option character: -app stays with no name.
                    ConsoleCase{{"-app", "/bin/true"}, kInvalidInstruction, ApplicationReportPattern("", "", "100"),
                                kCannotStart},
                    ConsoleCase{{"-app"}, "", ApplicationReportPattern("", "", "100"), kCannotStart}));

TEST(ConsoleMode, FailsWithExitCode1WhenThereIsNoConsole)
{
    const ProgramResult result =
        RunProgram(QUORVEX_BIN, {"-h"}, {.timeoutSeconds = 20, .closeStdout = true, .newSession = true});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "[Message Box] Could not allocate a console.\n");
}

TEST(DialogMode, WithoutADisplayFailsWithOneLineOnStandardError)
{
    const ProgramResult result = RunProgram(
        QUORVEX_BIN, {},
        {.env = {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}},
         .timeoutSeconds = 20});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "quorvex: cannot show the dialog window: no display (DISPLAY is not set); give options to measure in "
              "console mode (quorvex -h lists them)\n");
}

} // namespace
