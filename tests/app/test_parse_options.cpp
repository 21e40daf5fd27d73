#include "CaptureOutput.h"
#include "ConsoleText.h"
#include "QuorvexCommandLine.h"

#include <gtest/gtest.h>

namespace {

const std::string kInvalid = "\nInvalid instruction...\n" + kUsage;
const std::string kBadSampling = "\nInvalid parameter: entry must be either 1, 10, 100 or 1000\n" + kUsage;

struct ParseCase {
    const char* line;
    std::string output;
    bool samplingSet;
    const char* sampling;
    bool logSet;
    const char* log;
    bool appSet;
    const char* appValue;
    const char* targetName;
    const char* targetParams;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << '"' << c.line << '"';
}

class ParseOptionsTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseOptionsTest, ParsesAsTheGrammarSays)
{
    const ParseCase& c = GetParam();
    CQuorvexCommandLine cmdLine(c.line);
    EXPECT_EQ(CaptureStdout([&] { cmdLine.ParseOptions(); }), c.output);
    EXPECT_EQ(cmdLine.m_options[OPT_SAMPLING].m_bSet, c.samplingSet);
    EXPECT_STREQ(cmdLine.m_options[OPT_SAMPLING].m_strValue, c.sampling);
    EXPECT_EQ(cmdLine.m_options[OPT_LOG].m_bSet, c.logSet);
    EXPECT_STREQ(cmdLine.m_options[OPT_LOG].m_strValue, c.log);
    EXPECT_EQ(cmdLine.m_options[OPT_APP].m_bSet, c.appSet);
    EXPECT_STREQ(cmdLine.m_options[OPT_APP].m_strValue, c.appValue);
    EXPECT_STREQ(cmdLine.m_strTargetName, c.targetName);
    EXPECT_STREQ(cmdLine.m_strTargetParams, c.targetParams);
    EXPECT_FALSE(cmdLine.m_options[OPT_NONE].m_bSet);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ParseOptionsTest,
    testing::Values(
        ParseCase{"", "", false, "", false, "", false, "", "", ""},
        ParseCase{" \t \r\n", "", false, "", false, "", false, "", "", ""},
        ParseCase{"-n 10 -app prog.exe a b", "", true, "10", false, "", true, "prog.exe a b", "prog.exe", "a b"},
        ParseCase{"-app prog.exe -n 10", "", false, "", false, "", true, "prog.exe -n 10", "prog.exe", "-n 10"},
        ParseCase{"/n 1000 /app x", "", true, "1000", false, "", true, "x", "x", ""},
        ParseCase{"-n 1 -app x", "", true, "1", false, "", true, "x", "x", ""},
        ParseCase{"-n 5", kBadSampling, true, "", false, "", false, "", "", ""},
        ParseCase{"-n 010", kBadSampling, true, "", false, "", false, "", "", ""},
        ParseCase{"-n 10 -n 5 -app x", kBadSampling, true, "10", false, "", false, "", "", ""},
        ParseCase{"-n", "", true, "", false, "", false, "", "", ""},
        ParseCase{"-n -l", "", true, "", true, "Quorvex_Log.txt", false, "", "", ""},
        ParseCase{"-l", "", false, "", true, "Quorvex_Log.txt", false, "", "", ""},
        ParseCase{"-l -app prog.exe", "", false, "", true, "Quorvex_Log.txt", true, "prog.exe", "prog.exe", ""},
        ParseCase{"-l run1.txt", "", false, "", true, "run1.txt", false, "", "", ""},
        ParseCase{"-l mylog -x", kInvalid, false, "", true, "mylog", false, "", "", ""},
        ParseCase{"-x", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-f log.txt", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-N 10", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-APP x", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-h", kUsage, false, "", false, "", false, "", "", ""},
        ParseCase{"/h -app x", kUsage, false, "", false, "", false, "", "", ""},
        ParseCase{"-n 100 -help -app x", kUsage, true, "100", false, "", false, "", "", ""},
        ParseCase{"-nx 10", "", true, "10", false, "", false, "", "", ""},
        ParseCase{"-apple x y", "", false, "", false, "", true, "x y", "x", "y"},
        ParseCase{"prog.exe", kInvalid, false, "", false, "", false, "", "", ""},
        ParseCase{"-n 10 20", kInvalid, true, "10", false, "", false, "", "", ""},
        ParseCase{"-app -prog", kInvalid, false, "", false, "", true, "", "", ""},
        ParseCase{"-app", "", false, "", false, "", true, "", "", ""},
        ParseCase{"-n\t10", "", true, "", false, "", false, "", "", ""},
        ParseCase{"-app\tprog.exe a", "", false, "", false, "", true, "a", "a", ""},
        ParseCase{"  -app  prog.exe   a\t \"b c\"  \t ", "", false, "", false, "", true, "prog.exe   a\t \"b c\"",
                  "prog.exe", "a\t \"b c\""},
        ParseCase{"-app prog.exe \t a", "", false, "", false, "", true, "prog.exe \t a", "prog.exe", "a"},
        ParseCase{"-app tools\\prog.exe x y", "", false, "", false, "", true, "tools\\prog.exe x y",
                  "tools\\prog.exe", "x y"}));

TEST(CommandLineBound, KeepsALineOf1023Characters)
{
    const std::string params(1023 - 9, 'a');
    const std::string line = "-app x.e " + params;
    ASSERT_EQ(line.size(), 1023u);
    CQuorvexCommandLine cmdLine(line.c_str());
    EXPECT_EQ(CaptureStdout([&] { cmdLine.ParseOptions(); }), "");
    EXPECT_STREQ(cmdLine.m_strTargetParams, params.c_str());
}

TEST(CommandLineBound, RefusesALongerLineWithoutParsingAnyOfIt)
{
    const std::string line = "-n 10 -app x.e " + std::string(1024 - 15, 'a');
    ASSERT_EQ(line.size(), 1024u);
    CQuorvexCommandLine cmdLine(line.c_str());
    EXPECT_STREQ(cmdLine.m_szCmdLine, "");
    EXPECT_EQ(CaptureStdout([&] { cmdLine.ParseOptions(); }),
              "\nInvalid instruction: the command line is longer than 1023 characters\n" + kUsage);
    EXPECT_FALSE(cmdLine.m_options[OPT_SAMPLING].m_bSet);
    EXPECT_FALSE(cmdLine.m_options[OPT_APP].m_bSet);
}

TEST(CommandLineObject, StartsEmpty)
{
    CQuorvexCommandLine cmdLine("-h");
    EXPECT_STREQ(cmdLine.m_szCmdLine, "-h");
    EXPECT_EQ(cmdLine.m_stream, nullptr);
    for (const CmdLineOption& option : cmdLine.m_options) {
        EXPECT_FALSE(option.m_bSet);
        EXPECT_TRUE(option.m_strValue.IsEmpty());
    }
    EXPECT_TRUE(cmdLine.m_strTargetPath.IsEmpty());
}

} // namespace
