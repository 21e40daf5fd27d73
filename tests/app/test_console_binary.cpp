// The built program, run as a user runs it.

#include "ConsoleText.h"
#include "RunProgram.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

namespace {

struct ConsoleCase {
    std::vector<std::string> args;
    int exitCode;  // 0 done as asked, 2 refused, 1 no figures of a target
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
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConsoleOutputTest,
    testing::Values(ConsoleCase{{"-h"}, 0, kUsage}, ConsoleCase{{"-x"}, 2, kInvalidInstruction},
                    ConsoleCase{{"-n", "5"}, 2, kInvalidSampling}, ConsoleCase{{"-n", "1000"}, 0},
                    // Targets that cannot be started: the engine says so, and nothing is measured.
                    ConsoleCase{{"-n", "10", "-app", "prog.exe", "a", "b"}, 1, "",
                                ApplicationReportPattern("prog.exe", "a b", "10"), kCannotStart},
                    // An absolute path begins with the option character: -app stays with no name.
                    ConsoleCase{{"-app", "/bin/true"}, 2, kInvalidInstruction, ApplicationReportPattern("", "", "100"),
                                kCannotStart},
                    ConsoleCase{{"-app"}, 1, "", ApplicationReportPattern("", "", "100"), kCannotStart}));

// Only a terminal is waited on: a pipe that never delivers a line does not
// hold the program at its prompt.
TEST(ConsoleMode, EndsAtItsPromptWhenStandardInputIsAPipe)
{
    const ProgramResult result = RunProgram(QUORVEX_BIN, {"-h"}, {.silentInputPipe = true, .timeoutSeconds = 5});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.ends_with(kPrompt)) << result.out;
}

struct TargetEndCase {
    const char* name;
    std::string script;   // the target, a shell script; empty for the demo with demoArgs
    std::string demoArgs;
    std::string line;     // the line on standard error, a pattern; (\d+) the milliseconds it gives
    int lifetimeMs;       // at least what the target lived
};

void PrintTo(const TargetEndCase& c, std::ostream* os)
{
    *os << c.name;
}

class TargetEnd : public testing::TestWithParam<TargetEndCase> {};

// A target that ends badly or cannot be watched gives its line on standard
// error, after the boxes and before the report, and no figures: exit code 1.
TEST_P(TargetEnd, IsOneLineOnStandardErrorAndExitCode1)
{
    const TargetEndCase& c = GetParam();
    const ScratchFolder folder;
    const std::filesystem::path programFolder = std::filesystem::path(QUORVEX_BIN).parent_path();
    const std::string target =
        c.script.empty() ? "quorvex-demo"
                         : std::filesystem::relative(folder.AddScript("qvtarget", c.script), programFolder).string();
    std::vector<std::string> args = {"-app", target};
    std::istringstream demoArgs(c.demoArgs);
    for (std::string arg; demoArgs >> arg;)
        args.push_back(arg);

    const ProgramResult result = RunProgram(QUORVEX_BIN, args, {.input = "\n"});

    std::smatch found;
    ASSERT_TRUE(std::regex_search(result.err, found, std::regex("(^|\n)" + c.line + "\n"))) << result.err;
    EXPECT_EQ(std::regex_search(found.suffix().str(), std::regex("quorvex: qvtarget|at most")), false)
        << "one line: " << result.err;
    if (found.size() > 2 && found[2].matched) {
        EXPECT_GE(std::stoi(found[2]), c.lifetimeMs);
        EXPECT_LT(std::stoi(found[2]), c.lifetimeMs + 5000);
    }
    EXPECT_EQ(result.exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetEnd,
    testing::Values(
        TargetEndCase{"BySignal", "sleep 1.5; kill -SEGV $$", "",
                      "quorvex: qvtarget ended by signal 11 \\(Segmentation fault\\) after (\\d+) ms", 1500},
        TargetEndCase{"WithAStatus", "sleep 1.5; exit 3", "", "quorvex: qvtarget exited with status 3 after (\\d+) ms",
                      1500},
        TargetEndCase{"BeforeTheFirstSample", "exit 0", "",
                      "quorvex: qvtarget exited after (\\d+) ms, before the first sample \\(sampling starts 1 s "
                      "after the start\\)",
                      0},
        TargetEndCase{"WithMoreThreadsThanWatched", "", "--phases 1 --phase-ms 1500 --sleepers 298",
                      "quorvex: quorvex-demo has 300 threads; at most 200 are watched", 0}),
    [](const testing::TestParamInfo<TargetEndCase>& info) { return info.param.name; });

struct LogFailure {
    const char* name;
    std::string logName;  // from a scratch folder that holds a file "plain" and a folder "folder"
    std::string err;
};

// A name that begins with '/' reads as an option: paths go from the scratch folder.
std::string FromTmp(const std::string& path)
{
    return "../.." + path;
}

// A log that cannot be written changes nothing on standard output; one line
// on standard error says which file and why, and the run fails.
TEST(ConsoleLog, FailureIsOneLineOnStandardErrorAndExitCode1)
{
    const ScratchFolder folder;
    const ScratchTmpfs full("size=4k");
    std::ofstream(folder.Path() + "/plain") << "a file";
    std::filesystem::create_directory(folder.Path() + "/folder");
    if (full.Mounted())
        std::ofstream(full.Path() + "/filler") << std::string(4096, 'x');
    const ProgramResult sound = RunProgram(QUORVEX_BIN, {"-l", "sound.txt", "-h"}, {.workingDirectory = folder.Path()});
    ASSERT_EQ(sound.exitCode, 0);
    ASSERT_EQ(sound.err, "");

    const LogFailure cases[] = {
        {"InAFolderThatIsAFile", "plain/log.txt", "quorvex: cannot open the log file plain/log.txt: Not a directory\n"},
        {"NamingAFolder", "folder", "quorvex: cannot open the log file folder: Is a directory\n"},
        {"OnAFullDevice", FromTmp("/dev/full"),
         "quorvex: cannot write the log file ../../dev/full: No space left on device\n"},
        {"OnAFullFileSystem", FromTmp(full.Path() + "/log.txt"),
         "quorvex: cannot write the log file " + FromTmp(full.Path()) + "/log.txt: No space left on device\n"}};
    for (const LogFailure& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.logName.starts_with(FromTmp(full.Path())) && !full.Mounted()) {
            std::cout << "[ SKIPPED  ] " << c.name << ": this process may not mount a tmpfs\n";
            continue;
        }
        const ProgramResult result =
            RunProgram(QUORVEX_BIN, {"-l", c.logName, "-h"}, {.workingDirectory = folder.Path()});
        EXPECT_EQ(result.out, sound.out);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exitCode, 1);
    }
}

// A refused command line opens no log: a file it names keeps its bytes.
TEST(ConsoleLog, RefusedCommandLineLeavesTheNamedFileAlone)
{
    const ScratchFolder folder;
    std::ofstream(folder.Path() + "/keep.txt") << "kept";
    const ProgramResult result = RunProgram(QUORVEX_BIN, {"-l", "keep.txt", "-n", "5"}, {.workingDirectory = folder.Path()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(ReadFile(folder.Path() + "/keep.txt"), "kept");
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
