#include "EngineTesting.h"
#include "Clock.h"
#include "Process.h"
#include "RunNotices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

class TargetControl : public testing::Test {
protected:
    TargetControl() { SetUpConsoleRun(dialog, "/bin/sleep", "30", "100", "30"); }
    ~TargetControl() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
    }

    ScratchFolder folder;
    RecordedBoxes recorded;
    CQuorvexDlg dialog;
};

// The path, one blank, then the parameters, which the target's runtime splits.
TEST_F(TargetControl, CommandLineIsThePathABlankAndTheParameters)
{
    const std::string out = folder.Path() + "/args";
    dialog.m_strAppPath = folder.AddScript("target", "printf '%s|' \"$#\" \"$@\" > " + out + "\nexec sleep 30").c_str();
    for (const auto& [params, seen] : {std::pair{"a \"b c\"  d", "3|a|b c|d|"}, std::pair{"", "0|"}}) {
        std::filesystem::remove(out);
        dialog.m_strAppParams = params;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(dialog.StartTarget(&pi));
        for (int i = 0; i < 500 && ReadFile(out).empty(); ++i)
            usleep(2000);
        EXPECT_EQ(ReadFile(out), seen);
        EXPECT_TRUE(dialog.StopTarget(pi, 1, 0));
    }
}

// Unquoted, the path's first blank ends the program's name.
TEST_F(TargetControl, PathWithABlankNamesTheFileBeforeIt)
{
    dialog.m_strAppPath = (folder.Path() + "/my target").c_str();
    PROCESS_INFORMATION pi = {};
    EXPECT_FALSE(dialog.StartTarget(&pi));
    EXPECT_EQ(BoxTexts(recorded), std::vector<std::string>{"[Error] Error starting The process !!!"});
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_EQ(pi.dwProcessId, 0u);
}

TEST_F(TargetControl, TargetNeverStartedHasNoElapsedTime)
{
    dialog.m_strElapsedMs = "before";
    EXPECT_FALSE(dialog.StopTarget(PROCESS_INFORMATION{}, 0, 0));
    EXPECT_EQ(BoxTexts(recorded), std::vector<std::string>{"[Error] Cannot get elapsed time!!!"});
    EXPECT_EQ(dialog.m_strElapsedMs.str(), "before");
}

struct StopCase {
    const char* name;
    const char* lifetime = "30";  // seconds
    int waitMs = 0;               // from the start to StopTarget
    int durationElapsed = 0;
    int guiMode = 0;
    int cancel = 0;
    int captureStopped = 0;
    ULONGLONG captureMs = 0;
    long long minMs, maxMs;  // the elapsed time given
    bool stopLongAfterItsEnd = false;  // then at most the time until its end was seen
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class StopTargetCase : public TargetControl, public testing::WithParamInterface<StopCase> {};

TEST_P(StopTargetCase, SetsTheElapsedTimeAndEndsTheTarget)
{
    const StopCase& c = GetParam();
    dialog.m_strAppParams = c.lifetime;
    PROCESS_INFORMATION pi = {};
    const std::uint64_t startNs = MonotonicNowNs();
    ASSERT_TRUE(dialog.StartTarget(&pi));
    usleep(static_cast<useconds_t>(c.waitMs) * 1000);
    long long maxMs = c.maxMs;
    if (c.stopLongAfterItsEnd) {
        DWORD exitCode = STILL_ACTIVE;
        while (GetExitCodeProcess(pi.hProcess, &exitCode) && exitCode == STILL_ACTIVE)
            usleep(1000);
        maxMs = static_cast<long long>((MonotonicNowNs() - startNs) / 1000000);
        usleep(500000);
    }
    dialog.m_bGuiMode = c.guiMode;
    dialog.m_bCancel = c.cancel;
    dialog.m_bCaptureStopped = c.captureStopped;

    EXPECT_TRUE(dialog.StopTarget(pi, c.durationElapsed, c.captureMs));

    const std::string elapsed = dialog.m_strElapsedMs.str();
    ASSERT_EQ(elapsed, std::to_string(std::stoull(elapsed))) << "an unsigned decimal";
    EXPECT_GE(std::stoll(elapsed), c.minMs);
    EXPECT_LE(std::stoll(elapsed), maxMs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopTargetCase,
    testing::Values(
        StopCase{.name = "DurationElapsed", .durationElapsed = 1, .minMs = 30000, .maxMs = 30000},
        StopCase{.name = "DurationBeforeCancel", .durationElapsed = 1, .guiMode = 1, .cancel = 1, .minMs = 30000,
                 .maxMs = 30000},
        StopCase{.name = "CancelledInTheDialog", .guiMode = 1, .cancel = 1, .minMs = 0, .maxMs = 0},
        StopCase{.name = "CaptureStopped", .captureStopped = 1, .captureMs = 2500, .minMs = 2500, .maxMs = 2500},
        StopCase{.name = "CaptureOfLow32Bits", .captureStopped = 1, .captureMs = (1ULL << 32) + 7, .minMs = 7,
                 .maxMs = 7},
        StopCase{.name = "CancelledInTheConsoleCountsTheCapture", .cancel = 1, .captureStopped = 1, .captureMs = 1234,
                 .minMs = 1234, .maxMs = 1234},
        // The run ended while the target still ran: it has run until now.
        StopCase{.name = "StillRunningHasRunUntilNow", .waitMs = 300, .minMs = 300, .maxMs = 1000},
        StopCase{.name = "EndedGivesItsLifetimeNotTheTimeUntilStopped", .lifetime = "0.25", .minMs = 250,
                 .stopLongAfterItsEnd = true}));

// What a target's own end says, and that a clean end after sampling began
// says nothing.
TEST(TargetEndNotice, NamesTheSignalTheStatusAndAnEndBeforeTheFirstSample)
{
    const std::pair<TargetEnd, const char*> cases[] = {
        {{11, 0, 2997, false}, "quorvex: qvtarget ended by signal 11 (Segmentation fault) after 2997 ms"},
        {{0, 0, 412, true},
         "quorvex: qvtarget exited after 412 ms, before the first sample (sampling starts 1 s after the start)"},
        {{0, 3, 5000, false}, "quorvex: qvtarget exited with status 3 after 5000 ms"},
        {{9, 0, 20, true}, "quorvex: qvtarget ended by signal 9 (Killed) after 20 ms, before the first sample "
                           "(sampling starts 1 s after the start)"},
        {{0, 0, 5000, false}, ""}};
    for (const auto& [end, notice] : cases)
        EXPECT_EQ(TargetEndNotice("qvtarget", end).str(), notice);
}

} // namespace
