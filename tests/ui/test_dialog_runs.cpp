// Measurements of the real demo workload started from the real dialog, and
// the dialog closed while a run is in progress. Clicks reach a run from
// timers, so that their handlers run nested inside it, at its message pumps,
// as a user's clicks do.

#include "CaptureOutput.h"
#include "ChildProcesses.h"
#include "DialogDriver.h"
#include "FileDialog.h"
#include "GuiSession.h"
#include "ScratchFolder.h"
#include "ScriptedCounters.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

// The run's warning before its second start, and the probe's when it took
// fewer than 10 samples.
const std::string kMakeSure = "[IMPORTANT!!!] Make sure the application is terminated COMPLETELY\nbefore continue!";
const std::string kNeedMoreSamples = "[Get Max Thread] Need to collect at least  10";

// The run controls as the user sees them: the flags running, capturing and
// capture stopped; START and START CAPTURE with their captions, "+" when
// pressed; and a final "+" when CANCEL or STOP CAPTURE was left pressed.
std::string ControlsOf(CQuorvexDlg& dlg)
{
    auto shown = [&dlg](int id) {
        const QAbstractButton* button = Button(dlg, id);
        return (button->isChecked() ? "+" : "-") + button->text().toStdString();
    };
    const bool momentaryDown = Button(dlg, IDC_CANCEL)->isChecked() || Button(dlg, IDC_STOP_CAPTURE)->isChecked();
    return Format("%d%d%d ", dlg.m_bRunning, dlg.m_bCapturing, dlg.m_bCaptureStopped) + shown(IDC_START) + " " +
           shown(IDC_START_CAPTURE) + (momentaryDown ? " +" : "");
}

const std::string kIdle = "000 -START -START CAPTURE";
const std::string kRunning = "100 +RUNNING -START CAPTURE";
const std::string kCapturing = "110 +RUNNING +CAPTURING";
const std::string kCaptureStopped = "101 +RUNNING -START CAPTURE";

struct DemoRun {
    const char* params;
    const char* samplingRate = "100";
    bool manualCapture = false;
};

void ChooseItem(QComboBox* combo, const char* text)
{
    const int wanted = combo->findText(text);
    ASSERT_GE(wanted, 0) << text;
    for (int step = 0; step < combo->count() && combo->currentIndex() != wanted; ++step)
        PressKey(combo, combo->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_EQ(combo->currentText(), text);
}

// Inside a run the next dispatch is at the run's next message pump: in a
// manual-capture wait, or after the next sample.
void AtNextDispatch(std::function<void()> act)
{
    QTimer::singleShot(0, qApp, std::move(act));
}

// What a run left in the dialog's fields and lists.
struct Results {
    std::map<int, std::string> fields;
    Strings threadRows, levelRows;
    std::string threadRowShown, levelRowShown;
};

Results ResultsShown(CQuorvexDlg& dlg)
{
    Results shown;
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_THREADS_MIN, IDC_EDIT_THREADS_AVG,
                   IDC_EDIT_THREADS_MAX, IDC_EDIT_ELAPSED, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_SAMPLES})
        shown.fields[id] = Edit(dlg, id)->text().toStdString();
    shown.threadRows = Items(Combo(dlg, IDC_COMBO_THREAD_TABLE));
    shown.threadRowShown = Combo(dlg, IDC_COMBO_THREAD_TABLE)->currentText().toStdString();
    shown.levelRows = Items(Combo(dlg, IDC_COMBO_CONCURRENCY));
    shown.levelRowShown = Combo(dlg, IDC_COMBO_CONCURRENCY)->currentText().toStdString();
    return shown;
}

// No target may outlive a test.
class DemoRunTest : public DialogTest {
protected:
    ~DemoRunTest() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{}) << "a target outlived its run";
        EXPECT_EQ(OpenPidfds(), 0);
    }

    // act runs once, when the run warns before it starts the target again.
    void AtSecondStart(std::function<void()> act)
    {
        recorded.whenShown = [act, done = false](const Box& box) mutable {
            if (!done && Shown({box}) == Strings{kMakeSure}) {
                done = true;
                act();
            }
        };
    }

    // What the user does before START: the demo as target (as the chooser
    // sets it), its parameters typed in, the settings chosen in their lists.
    void PrepareDemoRun(const DemoRun& run)
    {
        dlg.m_strAppPath = QUORVEX_DEMO;
        std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", FileTitleOf(QUORVEX_DEMO).GetString());
        dlg.m_editAppPath.SetWindowText(dlg.m_strAppPath);
        Edit(dlg, IDC_EDIT_APP_PARAMS)->setText(run.params);
        // The demo ends long before the shortest duration.
        ChooseItem(Combo(dlg, IDC_COMBO_DURATION), "10");
        ChooseItem(Combo(dlg, IDC_COMBO_SAMPLING_RATE), run.samplingRate);
        ChooseItem(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), run.manualCapture ? "Yes" : "No");
    }

    ChildStarts starts;
};

// Exit while idle ends the dialog as Enter does, but tells any run to stop.
TEST_F(DemoRunTest, StartWithoutATargetAsksForOneAndExitEndsTheDialog)
{
    std::string after;
    const INT_PTR result = Open([&](QWidget*) {
        Button(dlg, IDC_START)->click();
        after = ControlsOf(dlg);
        Button(dlg, IDC_EXIT)->click();
    });

    EXPECT_EQ(Shown(recorded.boxes), Strings{"[Error] Click the button GET APPLICATION NAME to select application!!!"});
    EXPECT_NE(recorded.boxes.at(0).owner, nullptr);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(starts.Count(), 0);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_bCancel, 1);
}

// Runs of a target that sleeps, on scripted counters: every figure the
// dialog shows is known in advance.
class ScriptedDialogRun : public DialogTest {
protected:
    ScriptedDialogRun() : DialogTest(&counters) {}
    ~ScriptedDialogRun() override { EXPECT_EQ(ChildProcesses(), std::vector<int>{}); }

    // Thread 0 always running, thread 1 in the first three samples, after
    // the probe's ten samples of two threads.
    void Play(int samples)
    {
        counters = ScriptedCounters{};
        Script run(1);
        for (int k = 0; k < samples; ++k)
            run.push_back({.values = {{"\\Process(render)\\% Processor Time", 98.4375},
                                      {"\\Process(render)\\Thread Count", 2},
                                      {"\\Thread(render/0)\\% Processor Time", 93.75},
                                      {"\\Thread(render/0)\\Thread State", 2},
                                      {"\\Thread(render/1)\\% Processor Time", 4.6875},
                                      {"\\Thread(render/1)\\Thread State", k < 3 ? 2.0 : 5.0}}});
        counters.scripts = {run, Script(11, Collection{.values = {{"\\Process(render)\\Thread Count", 2}}})};
    }

    ScriptedCounters counters;
    ScratchFolder folder;
};

// Ten samples: every field and list shows the run's figures in its format,
// each list its first row. Nine: the figures stay as they were.
TEST_F(ScriptedDialogRun, ShowsTheFiguresOfTenSamplesAndKeepsThemAfterNine)
{
    std::vector<Results> shown;
    Strings controls;
    const QWidget* dialogWindow = nullptr;
    Inspect([&](QWidget* window) {
        dialogWindow = window;
        dlg.m_strAppPath = folder.AddScript("render.exe", "exec sleep 60").c_str();
        std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "render");
        ChooseItem(Combo(dlg, IDC_COMBO_SAMPLING_RATE), "10");
        for (int samples : {10, 9}) {
            Play(samples);
            Button(dlg, IDC_START)->click();
            shown.push_back(ResultsShown(dlg));
            controls.push_back(ControlsOf(dlg));
        }
    });

    EXPECT_EQ(Shown(recorded.boxes), Strings(2, kMakeSure));
    EXPECT_EQ(recorded.boxes.at(0).owner, dialogWindow);
    EXPECT_EQ(controls, Strings(2, kIdle));
    ASSERT_EQ(shown.size(), 2u);
    for (Results& run : shown) {
        EXPECT_GE(std::stoi(run.fields[IDC_EDIT_ELAPSED]), 1000) << "the target's time so far";
        run.fields.erase(IDC_EDIT_ELAPSED);
    }
    const std::map<int, std::string> fields = {
        {IDC_EDIT_CPU_MIN, " 98.44"}, {IDC_EDIT_CPU_AVG, " 98.44"},     {IDC_EDIT_CPU_MAX, " 98.44"},
        {IDC_EDIT_THREADS_MIN, "  2"}, {IDC_EDIT_THREADS_AVG, "  2"},    {IDC_EDIT_THREADS_MAX, "  2"},
        {IDC_EDIT_PARALLEL_TIME, " 30.00"}, {IDC_EDIT_SAMPLES, "      10"}};
    EXPECT_EQ(shown[0].fields, fields);
    const Strings threadRows = {"  0                100.00           93.75           93.75           93.75",
                                "  1                 30.00            4.69            4.69            4.69"};
    EXPECT_EQ(shown[0].threadRows, threadRows);
    EXPECT_EQ(shown[0].threadRowShown, threadRows[0]);
    EXPECT_EQ(shown[0].levelRows, Strings{"  2                   30.00"});
    EXPECT_EQ(shown[0].levelRowShown, "  2                   30.00");
    std::map<int, std::string> afterNine = fields;
    afterNine[IDC_EDIT_SAMPLES] = "       9";
    EXPECT_EQ(shown[1].fields, afterNine);
    EXPECT_EQ(shown[1].threadRows, threadRows);
}

// A START that reaches the dialog before the cancelled run has returned (two
// clicks in one batch of events) starts nothing: the run ends as cancelled.
TEST_F(DemoRunTest, CancelDuringSamplingKeepsResultsAndStartsNoSecondRun)
{
    std::string afterClicks, after;
    Results shown;
    // About 30 samples after the settling second of the measured instance.
    AtSecondStart([&] {
        QTimer::singleShot(1300, qApp, [&] {
            Button(dlg, IDC_CANCEL)->click();
            Button(dlg, IDC_START)->click();
            afterClicks = ControlsOf(dlg);
        });
    });
    Open([&](QWidget* window) {
        PrepareDemoRun({"--phases 1 --phase-ms 2000 --sleepers 1", "10"});
        Button(dlg, IDC_START)->click();
        after = ControlsOf(dlg);
        shown = ResultsShown(dlg);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(Shown(recorded.boxes), Strings{kMakeSure});
    EXPECT_EQ(starts.Count(), 2);
    EXPECT_EQ(afterClicks, kIdle);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(dlg.m_bCancel, 1);
    const int samples = std::stoi(dlg.m_strSamples.str());
    EXPECT_GE(samples, 10);
    EXPECT_EQ(shown.fields[IDC_EDIT_SAMPLES], dlg.m_strSamples.str());
    // Computed into the members, not shown.
    EXPECT_EQ(dlg.m_strCpuAvg.str(), Format("%6.2f", std::stod(dlg.m_strCpuAvg.str())));
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_THREADS_MAX})
        EXPECT_EQ(shown.fields[id], "") << id;
    EXPECT_TRUE(shown.threadRows.empty() && shown.levelRows.empty());
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], " ");
}

// A target that ends before the probe's first collection abandons the run;
// the controls are idle all the same, and START starts the next run.
TEST_F(DemoRunTest, AbandonedRunLeavesTheControlsIdle)
{
    Strings after;
    Inspect([&](QWidget*) {
        PrepareDemoRun({"--phases 1 --phase-ms 0 --sleepers 0"});
        for (int run = 0; run < 2; ++run) {
            Button(dlg, IDC_START)->click();
            after.push_back(ControlsOf(dlg));
        }
    });

    const Strings abandoned = {"[Get Max Thread Error] Cannot query data !!!",
                               "[Error] Cannot get Total number of threads"};
    Strings twice = abandoned;
    twice.insert(twice.end(), abandoned.begin(), abandoned.end());
    EXPECT_EQ(Shown(recorded.boxes), twice);
    EXPECT_EQ(after, Strings(2, kIdle));
}

// START CAPTURE and STOP CAPTURE open and close one window for the probe and
// one for the measurement; the elapsed time is the measurement's window.
TEST_F(DemoRunTest, ManualCaptureWindowsForTheProbeAndTheMeasurement)
{
    Strings steps;
    auto step = [&] { steps.push_back(ControlsOf(dlg)); };
    QElapsedTimer window;
    qint64 windowMs = 0;
    AtSecondStart([&] {
        step();
        AtNextDispatch([&] {
            step();
            Button(dlg, IDC_START_CAPTURE)->click();
            window.start();
            step();
            QTimer::singleShot(500, qApp, [&] {
                windowMs = window.elapsed();
                Button(dlg, IDC_STOP_CAPTURE)->click();
                step();
            });
        });
    });
    Results shown;
    Inspect([&](QWidget*) {
        PrepareDemoRun({"--phases 1 --phase-ms 4000 --sleepers 1", "10", true});
        step();
        AtNextDispatch([&] {
            step();
            Button(dlg, IDC_START_CAPTURE)->click();
            step();
            QTimer::singleShot(600, qApp, [&] {
                Button(dlg, IDC_STOP_CAPTURE)->click();
                step();
            });
        });
        Button(dlg, IDC_START)->click();
        step();
        shown = ResultsShown(dlg);
    });

    EXPECT_EQ(steps, (Strings{kIdle,             // before START
                              kRunning,          // the probe waits
                              kCapturing,        // the probe captures
                              kCaptureStopped,   // the probe's window closed
                              kCaptureStopped,   // the warning before the second start
                              kCaptureStopped,   // the measurement waits
                              kCapturing,        // the measurement captures
                              kCaptureStopped,   // the measurement's window closed
                              kIdle}));          // after the run
    EXPECT_EQ(Shown(recorded.boxes), Strings{kMakeSure});
    EXPECT_EQ(starts.Count(), 2);
    // From the first sample's start to the last sample's end, inside the
    // span between the two clicks.
    const int elapsed = std::stoi(dlg.m_strElapsedMs.str());
    EXPECT_LE(elapsed, windowMs);
    EXPECT_GE(elapsed, windowMs - 50);
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], dlg.m_strElapsedMs.str());
    EXPECT_GE(std::stoi(dlg.m_strSamples.str()), 10);
    EXPECT_EQ(shown.fields[IDC_EDIT_CPU_AVG], dlg.m_strCpuAvg.str()) << "a whole run shows its results";
}

struct CloseCase {
    const char* name;
    std::function<void(CQuorvexDlg&, QWidget*)> close;
    INT_PTR result;
};

void PrintTo(const CloseCase& c, std::ostream* os)
{
    *os << c.name;
}

const CloseCase kCloses[] = {
    {"Escape", [](CQuorvexDlg&, QWidget* window) { PressKey(window, Qt::Key_Escape); }, IDCANCEL},
    {"EnterInParameters",
     [](CQuorvexDlg& dlg, QWidget*) {
         Edit(dlg, IDC_EDIT_APP_PARAMS)->setFocus();
         PressKey(Edit(dlg, IDC_EDIT_APP_PARAMS), Qt::Key_Return);
     },
     IDOK},
    {"CloseBox", [](CQuorvexDlg&, QWidget* window) { window->close(); }, IDCANCEL},
    {"CloseOnTheContextMenu",
     [](CQuorvexDlg&, QWidget* window) {
         WhenMenuShows([](QMenu* menu) { EXPECT_TRUE(ChooseMenuItem(menu, "&Close")); });
         QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
         QApplication::sendEvent(window, &event);
     },
     IDCANCEL},
    {"Exit", [](CQuorvexDlg& dlg, QWidget*) { Button(dlg, IDC_EXIT)->click(); }, IDOK},
};

// Exit stops the run itself, every other way through the dialog's close.
// Exit closes at the measurement's first sample, the others in the probe's
// capture wait, which ends only on a flag.
class CloseDuringARealRun : public DemoRunTest, public testing::WithParamInterface<CloseCase> {};

// The run is told to stop, ends its target and writes its end into the
// window, which takes no more input and closes only after that, with the
// way's result.
TEST_P(CloseDuringARealRun, StopsTheRunAndEndsTheTarget)
{
    const bool inProbe = std::string(GetParam().name) != "Exit";
    std::string events;
    const INT_PTR result = Open([&](QWidget* window) {
        PrepareDemoRun(inProbe ? DemoRun{"--phases 1 --phase-ms 3000 --sleepers 1", "100", true}
                               : DemoRun{"--phases 1 --phase-ms 1600 --sleepers 1", "10"});
        QObject::connect(Edit(dlg, IDC_EDIT_SAMPLES), &QLineEdit::textChanged, window, [&, window] {
            events += Format("run ended, window shown %d, enabled %d, elapsed '%s';", window->isVisible(),
                             window->isEnabled(), Edit(dlg, IDC_EDIT_ELAPSED)->text().toStdString().c_str());
        });
        QObject::connect(static_cast<QDialog*>(window), &QDialog::finished, window, [&] { events += "closed;"; });
        const auto close = [this, window] { GetParam().close(dlg, window); };
        if (inProbe)
            AtNextDispatch(close);
        else
            AtSecondStart([close] { AtNextDispatch(close); });
        Button(dlg, IDC_START)->click();
    });

    EXPECT_EQ(result, GetParam().result);
    // Elapsed time a blank: the run ended as cancelled.
    EXPECT_EQ(events, "run ended, window shown 1, enabled 0, elapsed ' ';closed;");
    EXPECT_EQ(dlg.m_strSamples.str(), inProbe ? "       0" : "       1");
    EXPECT_EQ(Shown(recorded.boxes), inProbe ? (Strings{kNeedMoreSamples, kMakeSure}) : Strings{kMakeSure});
    EXPECT_EQ(starts.Count(), inProbe ? 1 : 2);
    EXPECT_EQ(dlg.m_bRunning, 0);
    EXPECT_EQ(dlg.m_bCancel, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseDuringARealRun, testing::ValuesIn(kCloses),
                         [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

} // namespace
