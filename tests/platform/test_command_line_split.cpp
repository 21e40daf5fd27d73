#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitCommandLine, SplitsByTheRuntimeRules)
{
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"/bin/prog a  b\tc", {"/bin/prog", "a", "b", "c"}},
        {"\"/my dir/prog\" x", {"/my dir/prog", "x"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"\"", {"p", ""}},
        {"p \\\"a\\\"", {"p", "\"a\""}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p a\\\\b", {"p", "a\\\\b"}},
        {"p \"a\"\"b\"", {"p", "a\"b"}},
        {"p \"unclosed arg", {"p", "unclosed arg"}},
        {"", {""}},
    };
    for (const auto& [line, args] : rows)
        EXPECT_EQ(SplitCommandLine(line), args) << line;
}

TEST(JoinCommandLine, LeavesPlainArgumentsAsTypedAndSplitsBackIntoTheSameArguments)
{
    EXPECT_EQ(JoinCommandLine({"-n", "10", "-app", "prog.exe", "a"}), "-n 10 -app prog.exe a");
    EXPECT_EQ(JoinCommandLine({"-app", "p", "a b", ""}), "-app p \"a b\" \"\"");
    const std::vector<std::string> args = {"prog", "with blank", "", "tab\there", "quote\"inside", "trailing\\",
                                           "back\\\\\"slash\"", "\\\\server\\share dir\\"};
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args);
}

} // namespace
