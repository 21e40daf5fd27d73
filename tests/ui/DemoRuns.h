#pragma once
// Measurements of the demo workload started from the real dialog. Clicks
// reach a run from timers, so that their handlers run nested inside it, at
// its message pumps, as a user's clicks do.

#include "ChildProcesses.h"
#include "DialogDriver.h"
#include "QuorvexDlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// The run's warning before its second start, and the probe's when it took
// fewer than 10 samples, as Shown gives them.
inline constexpr const char* kMakeSure =
    "[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!";
inline constexpr const char* kNeedMoreSamples = "[Get Max Thread] Need to collect at least  10";

// A box as "[caption] text".
std::string Shown(const Box& box);
std::vector<std::string> Shown(const std::vector<Box>& boxes);

// The run controls as the user sees them, with the flags behind them.
struct RunControls {
    int running;
    int capturing;
    int captureStopped;
    bool startDown;
    std::string start;
    bool startCaptureDown;
    std::string startCapture;
    bool momentaryDown;  // CANCEL or STOP CAPTURE left pressed
    bool operator==(const RunControls&) const = default;
};
void PrintTo(const RunControls& controls, std::ostream* os);
RunControls ControlsOf(CQuorvexDlg& dlg);

extern const RunControls kIdle;
extern const RunControls kRunningWithoutCaptureWindow;
extern const RunControls kCapturing;
extern const RunControls kCaptureStopped;

struct DemoRun {
    const char* params;
    const char* samplingRate = "100";
    bool logging = false;
    bool manualCapture = false;
};

// What the user does before START: the demo as target (as the chooser sets
// it), its parameters typed in, the settings chosen in their lists.
void PrepareDemoRun(CQuorvexDlg& dlg, const DemoRun& run);
void ChooseItem(QComboBox* combo, const char* text);
void Click(CQuorvexDlg& dlg, int id);
// Inside a run the next dispatch is at the run's next message pump: in a
// manual-capture wait, or after the next sample.
void AtNextDispatch(std::function<void()> act);

// One dialog with message boxes recorded; no target may outlive the test.
class DemoRunTest : public testing::Test {
protected:
    ~DemoRunTest() override;
    // Opens the dialog, lets act work it once it shows, and returns how it
    // ended; act must end it.
    INT_PTR Open(std::function<void(QWidget*)> act);

    GuiSessionForTest session;
    RecordedBoxes recorded;
    ChildStarts starts;
    CQuorvexDlg dlg{nullptr};
};
