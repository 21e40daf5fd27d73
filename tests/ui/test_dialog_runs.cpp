// The dialog around its runs: its controls, fields, lists and boxes, and a
// run stopped by each way of closing it. Runs read scripted counters (a
// target that sleeps), so that every figure is known in advance; the manual
// capture measures the real demo. Clicks reach a run from timers or from
// the counters' collections, so that their handlers run nested inside it,
// as a user's clicks do.

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

// No target may outlive a test; the dialog's runs read these counters, or,
// without them, the kernel's.
class DialogRun : public DialogTest {
protected:
    explicit DialogRun(CounterService* counters) : DialogTest(counters) {}
    ~DialogRun() override
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

    // What the user does before START: the target (as the chooser sets it),
    // its parameters typed in, the settings chosen in their lists.
    void PrepareRun(const char* path, const char* params, const char* samplingRate, bool manualCapture)
    {
        dlg.m_strAppPath = path;
        std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", FileTitleOf(path).GetString());
        dlg.m_editAppPath.SetWindowText(dlg.m_strAppPath);
        Edit(dlg, IDC_EDIT_APP_PARAMS)->setText(params);
        ChooseItem(Combo(dlg, IDC_COMBO_SAMPLING_RATE), samplingRate);
        ChooseItem(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), manualCapture ? "Yes" : "No");
    }
};

// Runs of a target that sleeps, on scripted counters: every figure the
// dialog shows is known in advance.
class ScriptedDialogRun : public DialogRun {
protected:
    ScriptedDialogRun() : DialogRun(&counters) {}

    // Thread 0 always running, thread 1 in the first three samples, after
    // the probe's ten samples of two threads.
    void Play(int samples)
    {
        counters = ScriptedCounters{};
        counters.scripts = {Samples(samples, TwoThreadSample), Samples(10, [](int) { return ThreadCount(2); })};
    }

    void PrepareScriptedRun(bool manualCapture = false)
    {
        PrepareRun(target.c_str(), "", "10", manualCapture);
    }

    ScriptedCounters counters;
    ScratchFolder folder;
    const std::string target = folder.AddScript("render", "exec sleep 60");
};

// Exit while idle ends the dialog as Enter does, but tells any run to stop.
TEST_F(ScriptedDialogRun, StartWithoutATargetAsksForOneAndExitEndsTheDialog)
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
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_bCancel, 1);
}

// Ten samples: every field and list shows the run's figures in its format,
// each list its first row. Nine: the figures stay as they were.
TEST_F(ScriptedDialogRun, ShowsTheFiguresOfTenSamplesAndKeepsThemAfterNine)
{
    std::vector<Results> shown;
    Strings controls;
    const QWidget* dialogWindow = nullptr;
    Inspect([&](QWidget* window) {
        dialogWindow = window;
        PrepareScriptedRun();
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
// clicks in one batch of events) starts nothing: the run ends as cancelled,
// its figures computed into the members, not shown.
TEST_F(ScriptedDialogRun, CancelDuringSamplingKeepsResultsAndStartsNoSecondRun)
{
    std::string afterClicks, after;
    Results shown;
    Inspect([&](QWidget*) {
        PrepareScriptedRun();
        Play(20);
        counters.scripts[0][12].action = [&] {
            Button(dlg, IDC_CANCEL)->click();
            Button(dlg, IDC_START)->click();
            afterClicks = ControlsOf(dlg);
        };
        Button(dlg, IDC_START)->click();
        after = ControlsOf(dlg);
        shown = ResultsShown(dlg);
    });

    EXPECT_EQ(Shown(recorded.boxes), Strings{kMakeSure});
    EXPECT_EQ(afterClicks, kIdle);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(dlg.m_bCancel, 1);
    EXPECT_EQ(shown.fields[IDC_EDIT_SAMPLES], "      12");
    EXPECT_EQ(dlg.m_strCpuAvg.str(), " 98.44");
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_THREADS_MAX})
        EXPECT_EQ(shown.fields[id], "") << id;
    EXPECT_TRUE(shown.threadRows.empty() && shown.levelRows.empty());
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], " ");
}

// A target that ends before the probe's first collection abandons the run;
// the controls are idle all the same, and START starts the next run.
TEST_F(ScriptedDialogRun, AbandonedRunLeavesTheControlsIdle)
{
    Strings after;
    Inspect([&](QWidget*) {
        PrepareScriptedRun();
        for (int run = 0; run < 2; ++run) {
            Play(10);
            counters.scripts[1].clear();
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

// The real demo, measured by the kernel's counters.
class DemoRun : public DialogRun {
protected:
    DemoRun() : DialogRun(nullptr) {}
};

// START CAPTURE and STOP CAPTURE open and close one window for the probe and
// one for the measurement; the elapsed time is the measurement's window.
TEST_F(DemoRun, ManualCaptureWindowsForTheProbeAndTheMeasurement)
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
        PrepareRun(QUORVEX_DEMO, "--phases 1 --phase-ms 4000 --sleepers 1", "10", true);
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
class CloseDuringARun : public ScriptedDialogRun, public testing::WithParamInterface<CloseCase> {};

// The run is told to stop, ends its target and writes its end into the
// window, which takes no more input and closes only after that, with the
// way's result.
TEST_P(CloseDuringARun, StopsTheRunAndEndsTheTarget)
{
    const bool inProbe = std::string(GetParam().name) != "Exit";
    std::string events;
    const INT_PTR result = Open([&](QWidget* window) {
        PrepareScriptedRun(inProbe);
        Play(30);
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
    EXPECT_EQ(dlg.m_bRunning, 0);
    EXPECT_EQ(dlg.m_bCancel, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseDuringARun, testing::ValuesIn(kCloses),
                         [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

} // namespace
