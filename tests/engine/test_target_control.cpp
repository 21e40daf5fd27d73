#include "EngineTesting.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace {

class TargetControl : public testing::Test {
protected:
    TargetControl()
    {
        m_out = m_folder.Path() + "/args.txt";
        m_script = m_folder.AddScript("target", "printf '%s|' \"$#\" \"$@\" > " + m_out + "\nexec sleep 30");
        SetUpConsoleRun(dialog, m_script, "", "100", "30");
    }
    ~TargetControl() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
    }

    std::string ArgumentsSeen() const
    {
        for (int i = 0; i < 500 && ReadFile(m_out).empty(); ++i)
            usleep(2000);
        return ReadFile(m_out);
    }

    ScratchFolder m_folder;
    std::string m_out;
    std::string m_script;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

TEST_F(TargetControl, CommandLineIsThePathABlankAndTheParameters)
{
    dialog.m_strAppParams = "a \"b c\"  d";
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(dialog.StartTarget(&pi));
    EXPECT_EQ(ArgumentsSeen(), "3|a|b c|d|");
    EXPECT_TRUE(dialog.StopTarget(pi, 1, 0));
}

TEST_F(TargetControl, EmptyParametersGiveNoArgument)
{
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(dialog.StartTarget(&pi));
    EXPECT_EQ(ArgumentsSeen(), "0|");
    dialog.StopTarget(pi, 1, 0);
}

// The path goes unquoted: its first blank ends the program's name.
TEST_F(TargetControl, PathWithABlankNamesTheFileBeforeIt)
{
    dialog.m_strAppPath = (m_folder.Path() + "/my target").c_str();
    PROCESS_INFORMATION pi = {};
    EXPECT_FALSE(dialog.StartTarget(&pi));
    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Error starting The process !!!", "Error"}}));
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_EQ(pi.dwProcessId, 0u);
}

struct StopCase {
    const char* name;
    int durationElapsed;
    ULONGLONG captureMs;
    std::function<void(CQuorvexDlg&)> arrange;
    const char* elapsed;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class StopTargetCase : public TargetControl, public testing::WithParamInterface<StopCase> {};

TEST_P(StopTargetCase, SetsTheElapsedTimeAndEndsTheTarget)
{
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(dialog.StartTarget(&pi));
    GetParam().arrange(dialog);

    EXPECT_TRUE(dialog.StopTarget(pi, GetParam().durationElapsed, GetParam().captureMs));

    EXPECT_EQ(dialog.m_strElapsedMs.str(), GetParam().elapsed);
    EXPECT_EQ(ChildProcesses(), std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopTargetCase,
    testing::Values(
        StopCase{"DurationElapsed", 1, 0, [](CQuorvexDlg&) {}, "30000"},
        StopCase{"DurationWithBlanks", 1, 0, [](CQuorvexDlg& d) { d.m_strDuration = " 20 s"; }, "20000"},
        StopCase{"DurationBeforeCancel", 1, 0,
                 [](CQuorvexDlg& d) {
                     d.m_bGuiMode = 1;
                     d.m_bCancel = 1;
                 },
                 "30000"},
        StopCase{"CancelledInTheDialog", 0, 0,
                 [](CQuorvexDlg& d) {
                     d.m_bGuiMode = 1;
                     d.m_bCancel = 1;
                 },
                 "0"},
        StopCase{"CaptureStopped", 0, 2500, [](CQuorvexDlg& d) { d.m_bCaptureStopped = 1; }, "2500"},
        StopCase{"CaptureOfLow32Bits", 0, (1ULL << 32) + 7, [](CQuorvexDlg& d) { d.m_bCaptureStopped = 1; }, "7"},
        StopCase{"CancelledInTheConsoleCountsTheCapture", 0, 1234,
                 [](CQuorvexDlg& d) {
                     d.m_bCancel = 1;
                     d.m_bCaptureStopped = 1;
                 },
                 "1234"}));

// The run ended while the target still ran: it has run until now.
TEST_F(TargetControl, TargetStillRunningGivesItsTimeSoFar)
{
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(dialog.StartTarget(&pi));
    usleep(300000);
    EXPECT_TRUE(dialog.StopTarget(pi, 0, 0));
    const int elapsed = std::stoi(dialog.m_strElapsedMs.str());
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 1000);
}

TEST_F(TargetControl, TargetThatEndedGivesItsLifetime)
{
    dialog.m_strAppPath = "/bin/sleep";
    dialog.m_strAppParams = "0.25";
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(dialog.StartTarget(&pi));
    usleep(600000);
    EXPECT_TRUE(dialog.StopTarget(pi, 0, 0));
    const int elapsed = std::stoi(dialog.m_strElapsedMs.str());
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 450) << "its lifetime, not the time until it was stopped";
}

TEST_F(TargetControl, TargetNeverStartedHasNoElapsedTime)
{
    dialog.m_strElapsedMs = "before";
    EXPECT_FALSE(dialog.StopTarget(PROCESS_INFORMATION{}, 0, 0));
    EXPECT_EQ(recorded.boxes, (std::vector<Box>{{"Cannot get elapsed time!!!", "Error"}}));
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "before");
}

} // namespace
