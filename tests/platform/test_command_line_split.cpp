#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* line;
    std::vector<std::string> args;
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.line;
}

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsByTheRuntimeRules)
{
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    testing::Values(SplitCase{"/bin/prog ", {"/bin/prog"}}, SplitCase{"/bin/prog a  b\tc", {"/bin/prog", "a", "b", "c"}},
                    SplitCase{"\"/my dir/prog\" x", {"/my dir/prog", "x"}},
                    SplitCase{"/my dir/prog x", {"/my", "dir/prog", "x"}},
                    SplitCase{"p \"a b\" c", {"p", "a b", "c"}}, SplitCase{"p a\"b c\"d", {"p", "ab cd"}},
                    SplitCase{"p \"\"", {"p", ""}}, SplitCase{"p \\\"a\\\"", {"p", "\"a\""}},
                    SplitCase{"p a\\\\\"b c\"", {"p", "a\\b c"}}, SplitCase{"p a\\\\b", {"p", "a\\\\b"}},
                    SplitCase{"p \"a\"\"b\"", {"p", "a\"b"}}, SplitCase{"p \"unclosed arg", {"p", "unclosed arg"}},
                    SplitCase{"prog\\dir\\x.exe", {"prog\\dir\\x.exe"}}, SplitCase{"", {""}}));

TEST(JoinCommandLine, SplitsBackIntoTheSameArguments)
{
    const std::vector<std::vector<std::string>> cases = {
        {"prog", "plain", "with blank", "", "tab\there", "quote\"inside", "trailing\\", "back\\\\\"slash\""},
        {"prog", "a\\b\\c", "\\\\server\\share dir\\"},
    };
    for (const auto& args : cases)
        EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args);
}

TEST(JoinCommandLine, LeavesPlainArgumentsAsTyped)
{
    EXPECT_EQ(JoinCommandLine({"-n", "10", "-app", "prog.exe", "a"}), "-n 10 -app prog.exe a");
    EXPECT_EQ(JoinCommandLine({"-app", "p", "a b", ""}), "-app p \"a b\" \"\"");
}

} // namespace
