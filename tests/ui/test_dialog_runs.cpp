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
#include <regex>
#include <sstream>

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
    bool logging = false;
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

Strings Lines(const std::string& text)
{
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Strings Fields(const std::string& row)
{
    Strings fields;
    std::istringstream in(row);
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
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
        std::snprintf(dlg.m_szLogFolder, sizeof dlg.m_szLogFolder, "%s", logs.Path().c_str());
        Edit(dlg, IDC_EDIT_APP_PARAMS)->setText(run.params);
        // The demo ends long before the shortest duration.
        ChooseItem(Combo(dlg, IDC_COMBO_DURATION), "10");
        ChooseItem(Combo(dlg, IDC_COMBO_SAMPLING_RATE), run.samplingRate);
        ChooseItem(Combo(dlg, IDC_COMBO_GENERATE_LOG), run.logging ? "Yes" : "No");
        ChooseItem(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), run.manualCapture ? "Yes" : "No");
    }

    // The data log and the summary log of the one run, named for one minute.
    std::pair<std::string, std::string> LogFiles() const
    {
        Strings names = FilesIn(logs.Path());
        std::sort(names.begin(), names.end());
        if (names.size() != 2 || !names[0].starts_with("QV") || names[1] != "QVS" + names[0].substr(2)) {
            ADD_FAILURE() << testing::PrintToString(names);
            return {};
        }
        return {ReadFile(logs.Path() + "/" + names[0]), ReadFile(logs.Path() + "/" + names[1])};
    }

    ChildStarts starts;
    ScratchFolder logs;
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

// A number the demo's last instance reported of itself, after its key.
double LastReported(const std::string& out, const std::string& key)
{
    const std::regex line("(^|\n)" + key + " ([0-9.]+)\n");
    std::string value = "-1";
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        value = (*it)[2];
    return std::stod(value);
}

// The demo's second phase, two busy threads, is the one sampled: the first
// second of each instance is the run's settling time.
TEST_F(DemoRunTest, MeasuresTheDemoShowsEveryResultAndWritesBothLogs)
{
    constexpr int kThreads = 4;  // main, two workers, one sleeper
    std::string before, after;
    Results shown;
    const QWidget* dialogWindow = nullptr;
    INT_PTR result = 0;
    const std::string reports = CaptureStdout([&] {
        result = Open([&](QWidget* window) {
            dialogWindow = window;
            PrepareDemoRun({"--phases 1,2 --phase-ms 1000 --sleepers 1 --report", "10", true});
            before = ControlsOf(dlg);
            Button(dlg, IDC_START)->click();
            after = ControlsOf(dlg);
            shown = ResultsShown(dlg);
            PressKey(window, Qt::Key_Escape);
        });
    });
    // What the measured instance really got: its lifetime, and the processor
    // time of its two busy threads in the sampled phase. Beyond one
    // processor's worth, the two ran at once for at least the excess.
    const double lifetimeMs = LastReported(reports, "seconds") * 1000;
    const double overlapPercent = LastReported(reports, "phase 1 cpu-ms") / 10 - 100;
    ASSERT_GT(lifetimeMs, 0) << reports;

    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(starts.Count(), 2) << "the probe's instance, then the measured one";
    EXPECT_EQ(Shown(recorded.boxes), Strings{kMakeSure});
    EXPECT_EQ(recorded.boxes.at(0).owner, dialogWindow);
    EXPECT_EQ(before + " | " + after, kIdle + " | " + kIdle);
    EXPECT_EQ(dlg.m_bCancel, 1);

    // Every result field shows its member, in its format.
    const std::pair<int, const CString*> fields[] = {
        {IDC_EDIT_CPU_MIN, &dlg.m_strCpuMin},         {IDC_EDIT_CPU_AVG, &dlg.m_strCpuAvg},
        {IDC_EDIT_CPU_MAX, &dlg.m_strCpuMax},         {IDC_EDIT_THREADS_MIN, &dlg.m_strThreadsMin},
        {IDC_EDIT_THREADS_AVG, &dlg.m_strThreadsAvg}, {IDC_EDIT_THREADS_MAX, &dlg.m_strThreadsMax},
        {IDC_EDIT_ELAPSED, &dlg.m_strElapsedMs},      {IDC_EDIT_PARALLEL_TIME, &dlg.m_strParallelTime},
        {IDC_EDIT_SAMPLES, &dlg.m_strSamples}};
    for (const auto& [id, member] : fields)
        EXPECT_EQ(shown.fields[id], member->str()) << id;
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME})
        EXPECT_EQ(shown.fields[id], Format("%6.2f", std::stod(shown.fields[id])));
    // The last sample may catch the demo joining its threads.
    EXPECT_EQ(shown.fields[IDC_EDIT_THREADS_MAX], "  4");
    const int samples = std::stoi(dlg.m_strSamples.str());
    ASSERT_GE(samples, 10);
    EXPECT_EQ(dlg.m_strSamples.str(), Format("%8d", samples));
    // The demo ended the run: its own lifetime, well short of the duration.
    EXPECT_GE(std::stoi(dlg.m_strElapsedMs.str()), lifetimeMs - 1);
    EXPECT_LT(std::stoi(dlg.m_strElapsedMs.str()), 5000);

    // One row per watched thread, in thread order; level 2 at least once
    // where the two busy threads ran at once for a good share of the sampled
    // phase, and the levels in level order. Each list shows its first row.
    ASSERT_EQ(shown.threadRows.size(), static_cast<size_t>(kThreads));
    for (int j = 0; j < kThreads; ++j) {
        const Strings f = Fields(shown.threadRows[j]);
        ASSERT_EQ(f.size(), 5u) << shown.threadRows[j];
        EXPECT_EQ(shown.threadRows[j], Format("%3d%22.2f%16.2f%16.2f%16.2f", j, std::stod(f[1]), std::stod(f[2]),
                                              std::stod(f[3]), std::stod(f[4])));
    }
    if (overlapPercent > 15) {
        EXPECT_FALSE(shown.levelRows.empty()) << "the busy threads overlapped " << overlapPercent << " %";
    }
    double levelsTotal = 0;
    int previous = 1;
    for (const std::string& row : shown.levelRows) {
        const Strings f = Fields(row);
        ASSERT_EQ(f.size(), 2u) << row;
        EXPECT_EQ(row, Format("%3d               %9.2f", std::stoi(f[0]), std::stod(f[1])));
        EXPECT_TRUE(std::stoi(f[0]) > previous && std::stoi(f[0]) <= kThreads) << row;
        previous = std::stoi(f[0]);
        levelsTotal += std::stod(f[1]);
    }
    EXPECT_NEAR(levelsTotal, std::stod(dlg.m_strParallelTime.str()), 0.02);
    EXPECT_EQ(shown.threadRowShown, shown.threadRows[0]);
    EXPECT_EQ(shown.levelRowShown, shown.levelRows.empty() ? "" : shown.levelRows[0]);

    // The data log: its head, a record per sample, then the summary block.
    const auto [dataLog, summaryLog] = LogFiles();
    const Strings lines = Lines(dataLog);
    ASSERT_GT(lines.size(), static_cast<size_t>(3 + samples));
    std::string header = "\"Time\",\"TOTAL_CPU_Utilization\"";
    for (int j = 0; j < kThreads; ++j)
        header += Format(",\"Thread_%d_CPU_Utilization\",\"Thread_%d_Status\"", j, j);
    EXPECT_EQ(Strings(lines.begin(), lines.begin() + 3), (Strings{"[Quorvex]", "[Start Data]", header}));
    EXPECT_EQ(lines[3 + samples], "[End Data]");
    EXPECT_EQ(lines.back(), "[End Summary]");
    EXPECT_EQ(summaryLog, "\"Quorvex\"\n\"quorvex-demo\"\n\"4\",\"1\"\n"
                          "\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n\"" +
                              dlg.m_strCores.str() + "\",\"" + dlg.m_strLogicals.str() + "\",\"" +
                              dlg.m_strElapsedMs.str() + "\",\"" + dlg.m_strParallelTime.str() + "\"\n");
}

// The probe's one sample at the 100 ms interval is too few: its warning
// comes, then the run's, and the target is not started again. Once the run
// has returned, START starts the next one.
TEST_F(DemoRunTest, CancelDuringTheProbeStartsTheTargetOnlyOnce)
{
    Strings afterCancel, after;
    std::vector<int> startsAfter;
    Results shown;
    Inspect([&](QWidget*) {
        PrepareDemoRun({"--phases 1 --phase-ms 3000 --sleepers 1"});
        for (int run = 0; run < 2; ++run) {
            AtNextDispatch([&] {
                Button(dlg, IDC_CANCEL)->click();
                afterCancel.push_back(ControlsOf(dlg));
            });
            Button(dlg, IDC_START)->click();
            after.push_back(ControlsOf(dlg));
            startsAfter.push_back(starts.Count());
            if (run == 0)
                shown = ResultsShown(dlg);
        }
    });

    EXPECT_EQ(Shown(recorded.boxes), (Strings{kNeedMoreSamples, kMakeSure, kNeedMoreSamples, kMakeSure}));
    EXPECT_EQ(startsAfter, (std::vector<int>{1, 2}));
    EXPECT_EQ(afterCancel, Strings(2, kIdle));
    EXPECT_EQ(after, Strings(2, kIdle));
    EXPECT_EQ(dlg.m_bCancel, 1);
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], " ");
    EXPECT_EQ(shown.fields[IDC_EDIT_SAMPLES], "       0");
    EXPECT_EQ(shown.fields[IDC_EDIT_CPU_AVG], "");
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
        PrepareDemoRun({"--phases 1 --phase-ms 2000 --sleepers 1", "10", true});
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

    // The records of the samples taken, and no summary.
    const auto [dataLog, summaryLog] = LogFiles();
    const Strings lines = Lines(dataLog);
    EXPECT_EQ(lines.size(), static_cast<size_t>(3 + samples));
    EXPECT_EQ(lines.back().front(), '"');
    EXPECT_NE(dataLog.back(), '\n');
    EXPECT_EQ(Lines(summaryLog).size(), 4u);
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

// Two logged runs in one minute keep both pairs of logs, each pair under one
// name (the later one with -2 when the minute is the same).
TEST_F(DemoRunTest, TwoLoggedRunsKeepBothPairsOfLogs)
{
    Inspect([&](QWidget*) {
        PrepareDemoRun({"--phases 1 --phase-ms 2000 --sleepers 0", "100", true});
        Button(dlg, IDC_START)->click();
        Button(dlg, IDC_START)->click();
    });

    Strings names = FilesIn(logs.Path());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u) << testing::PrintToString(names);
    // QVa, QVb, QVSa, QVSb in name order ("-" sorts before ".").
    for (int pair = 0; pair < 2; ++pair)
        EXPECT_EQ(names[2 + pair], "QVS" + names[pair].substr(2));
    const std::string minute = names[1].substr(0, 14);
    if (names[0].starts_with(minute)) {
        EXPECT_EQ(names[0], minute + "-2.txt");
    }
    for (const std::string& name : names)
        EXPECT_TRUE(ReadFile(logs.Path() + "/" + name).starts_with(name.starts_with("QVS") ? "\"Quorvex\"" : "[Quorvex]"))
            << name;
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
        PrepareDemoRun({"--phases 1 --phase-ms 4000 --sleepers 1", "10", false, true});
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
        PrepareDemoRun(inProbe ? DemoRun{"--phases 1 --phase-ms 3000 --sleepers 1", "100", false, true}
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
