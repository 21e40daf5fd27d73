// The built program, run as a user runs it.

#include "ConsoleText.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

struct ConsoleCase {
    std::vector<std::string> args;
    std::string parserOutput;
};

void PrintTo(const ConsoleCase& c, std::ostream* os)
{
    for (const std::string& arg : c.args)
        *os << arg << ' ';
}

class ConsoleOutputTest : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleOutputTest, PrintsBannerParserOutputSystemReportAndPrompt)
{
    const ProgramResult result = RunProgram(QUORVEX_BIN, GetParam().args, {.input = "\n"});
    const std::regex expected(RegexLiteral(kBanner + GetParam().parserOutput) + SystemReportPattern() +
                              RegexLiteral(kPrompt));
    EXPECT_TRUE(std::regex_match(result.out, expected)) << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConsoleOutputTest,
    testing::Values(ConsoleCase{{"-h"}, kUsage}, ConsoleCase{{"-x"}, "\nInvalid instruction...\n" + kUsage},
                    ConsoleCase{{"-n", "5"}, "\nInvalid parameter: entry must be either 1, 10, 100 or 1000\n" + kUsage},
                    ConsoleCase{{"prog.exe"}, "\nInvalid instruction...\n" + kUsage},
                    ConsoleCase{{"-n", "100"}, ""}));

TEST(ConsoleMode, EndsWithoutInputWhenStandardInputIsClosed)
{
    const ProgramResult result = RunProgram(QUORVEX_BIN, {"-h"}, {.timeoutSeconds = 20});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
}

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
