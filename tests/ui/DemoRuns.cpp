#include "DemoRuns.h"

#include "FileDialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

std::string Shown(const Box& box)
{
    return "[" + box.caption + "] " + box.text;
}

std::vector<std::string> Shown(const std::vector<Box>& boxes)
{
    std::vector<std::string> shown;
    for (const Box& box : boxes)
        shown.push_back(Shown(box));
    return shown;
}

void PrintTo(const RunControls& c, std::ostream* os)
{
    *os << "flags running " << c.running << " capturing " << c.capturing << " stopped " << c.captureStopped
        << "; START " << (c.startDown ? "pressed" : "released") << " \"" << c.start << "\"; START CAPTURE "
        << (c.startCaptureDown ? "pressed" : "released") << " \"" << c.startCapture << "\""
        << (c.momentaryDown ? "; CANCEL or STOP CAPTURE pressed" : "");
}

RunControls ControlsOf(CQuorvexDlg& dlg)
{
    const QAbstractButton* start = Button(dlg, IDC_START);
    const QAbstractButton* startCapture = Button(dlg, IDC_START_CAPTURE);
    return {dlg.m_bRunning,
            dlg.m_bCapturing,
            dlg.m_bCaptureStopped,
            start->isChecked(),
            start->text().toStdString(),
            startCapture->isChecked(),
            startCapture->text().toStdString(),
            Button(dlg, IDC_CANCEL)->isChecked() || Button(dlg, IDC_STOP_CAPTURE)->isChecked()};
}

const RunControls kIdle = {0, 0, 0, false, "START", false, "START CAPTURE", false};
const RunControls kRunningWithoutCaptureWindow = {1, 0, 0, true, "RUNNING", false, "START CAPTURE", false};
const RunControls kCapturing = {1, 1, 0, true, "RUNNING", true, "CAPTURING", false};
const RunControls kCaptureStopped = {1, 0, 1, true, "RUNNING", false, "START CAPTURE", false};

void ChooseItem(QComboBox* combo, const char* text)
{
    const int wanted = combo->findText(text);
    ASSERT_GE(wanted, 0) << text;
    for (int step = 0; step < combo->count() && combo->currentIndex() != wanted; ++step)
        PressKey(combo, combo->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_EQ(combo->currentText(), text);
}

void PrepareDemoRun(CQuorvexDlg& dlg, const DemoRun& run)
{
    dlg.m_strAppPath = QUORVEX_DEMO;
    std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", FileTitleOf(QUORVEX_DEMO).GetString());
    dlg.m_editAppPath.SetWindowText(dlg.m_strAppPath);
    Edit(dlg, IDC_EDIT_APP_PARAMS)->setText(run.params);
    // The demo ends long before the shortest duration.
    ChooseItem(Combo(dlg, IDC_COMBO_DURATION), "10");
    ChooseItem(Combo(dlg, IDC_COMBO_SAMPLING_RATE), run.samplingRate);
    ChooseItem(Combo(dlg, IDC_COMBO_GENERATE_LOG), run.logging ? "Yes" : "No");
    ChooseItem(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), run.manualCapture ? "Yes" : "No");
}

void Click(CQuorvexDlg& dlg, int id)
{
    Button(dlg, id)->click();
}

void AtNextDispatch(std::function<void()> act)
{
    QTimer::singleShot(0, qApp, std::move(act));
}

DemoRunTest::~DemoRunTest()
{
    EXPECT_EQ(ChildProcesses(), std::vector<int>{}) << "a target outlived its run";
    EXPECT_EQ(OpenPidfds(), 0);
}

INT_PTR DemoRunTest::Open(std::function<void(QWidget*)> act)
{
    WhenModalShows(std::move(act));
    return dlg.DoModal();
}
