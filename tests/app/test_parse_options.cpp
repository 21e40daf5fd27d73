#include "CaptureOutput.h"
#include "ConsoleText.h"
#include "QuorvexCommandLine.h"

#include <gtest/gtest.h>

namespace {

// The options given, each with its value; -app's as value|name|parameters.
std::string Parsed(const CQuorvexCommandLine& cmdLine)
{
    const CmdLineOption* options = cmdLine.m_options;
    std::string parsed;
    if (options[OPT_SAMPLING].m_bSet)
        parsed += "n[" + options[OPT_SAMPLING].m_strValue.str() + "] ";
    if (options[OPT_LOG].m_bSet)
        parsed += "l[" + options[OPT_LOG].m_strValue.str() + "] ";
    if (options[OPT_APP].m_bSet)
        parsed += "app[" + options[OPT_APP].m_strValue.str() + "|" + cmdLine.m_strTargetName.str() + "|" +
                  cmdLine.m_strTargetParams.str() + "] ";
    return parsed;
}

TEST(ParseOptions, FollowsTheGrammar)
{
    const struct {
        const char* line;
        std::string output;
        std::string parsed;
    } rows[] = {
        {"", "", ""},
        {"-n 10 -app prog.exe a b", "", "n[10] app[prog.exe a b|prog.exe|a b] "},
        {"/n 1000 /app x", "", "n[1000] app[x|x|] "},
        {"-n 5", kInvalidSampling, "n[] "},
        {"-n 010", kInvalidSampling, "n[] "},
        // An option waiting for its value keeps its default at the end or before another option.
        {"-n", "", "n[] "},
        {"-n -l", "", "n[] l[Quorvex_Log.txt] "},
        {"-l -app prog.exe", "", "l[Quorvex_Log.txt] app[prog.exe|prog.exe|] "},
        {"-l run1.txt", "", "l[run1.txt] "},
        // What was parsed before an error or -h stays.
        {"-l mylog -x", kInvalidInstruction, "l[mylog] "},
        {"-n 100 -help -app x", kUsage, "n[100] "},
        {"-h", kUsage, ""},
        {"-N 10", kInvalidInstruction, ""},
        {"-nx 10", "", "n[10] "},
        {"-apple x y", "", "app[x y|x|y] "},
        {"prog.exe", kInvalidInstruction, ""},
        {"-n 10 20", kInvalidInstruction, "n[10] "},
        {"-app prog.exe -n 10", "", "app[prog.exe -n 10|prog.exe|-n 10] "},
        {"-app -prog", kInvalidInstruction, "app[||] "},
        {"-app", "", "app[||] "},
        {"-n\t10", "", "n[] "},  // a tab does not separate
        {"  -app  prog.exe   a\t \"b c\"  \t ", "", "app[prog.exe   a\t \"b c\"|prog.exe|a\t \"b c\"] "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        CQuorvexCommandLine cmdLine(row.line);
        bool accepted = false;
        EXPECT_EQ(CaptureStdout([&] { accepted = cmdLine.ParseOptions(); }), row.output);
        EXPECT_EQ(Parsed(cmdLine), row.parsed);
        // Refused exactly when it says "Invalid ...".
        EXPECT_EQ(accepted, row.output.find("Invalid") == std::string::npos);
    }
}

TEST(ParseOptions, KeepsALineOf1023CharactersAndRefusesALongerOne)
{
    const std::string params(1023 - 9, 'a');
    CQuorvexCommandLine kept(("-app x.e " + params).c_str());
    EXPECT_EQ(CaptureStdout([&] { kept.ParseOptions(); }), "");
    EXPECT_EQ(Parsed(kept), "app[x.e " + params + "|x.e|" + params + "] ");

    CQuorvexCommandLine refused(("-app x.e " + params + "a").c_str());
    EXPECT_EQ(CaptureStdout([&] { EXPECT_FALSE(refused.ParseOptions()); }),
              "\nInvalid instruction: the command line is longer than 1023 characters\n" + kUsage);
    EXPECT_EQ(Parsed(refused), "");
}

} // namespace
