// Closing the main dialog. A run is a loop inside the START handler that
// dispatches messages, so a close arrives while the run is still using the
// window: the run must be told to stop, and the window must outlive it.

#include "DemoRuns.h"
#include "DialogDriver.h"
#include "GuiSession.h"
#include "QuorvexDlg.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// Stands in for the sampling run: it waits, dispatching messages, until it is
// told to stop, then resets the run controls as the real run does.
class FakeRunDlg : public CQuorvexDlg {
public:
    void OnFakeStart()
    {
        ++runs;
        m_bRunning = 1;
        m_bCancel = 0;
        m_btnStart.SetWindowText("RUNNING");
        duringRun(m_hWnd);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!m_bCancel && std::chrono::steady_clock::now() < deadline) {
            AfxPumpMessage();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        sawCancel = m_bCancel;
        windowShownAtRunEnd = IsWindowVisible();
        windowEnabledAtRunEnd = m_hWnd && m_hWnd->isEnabled();
        // The window is closing: a further START must not start a run.
        Button(*this, IDC_START)->click();
        OnBnClickedCancel();
        events += "run returned;";
    }

    std::function<void(QWidget*)> duringRun;
    int runs = 0;
    int sawCancel = 0;
    bool windowShownAtRunEnd = false;
    bool windowEnabledAtRunEnd = true;
    std::string events;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(FakeRunDlg, CQuorvexDlg)
    ON_BN_CLICKED(IDC_START, &FakeRunDlg::OnFakeStart)
END_MESSAGE_MAP()

void RightClickAndChoose(QWidget* window, const QString& item)
{
    WhenMenuShows([item](QMenu* menu) { EXPECT_TRUE(ChooseMenuItem(menu, item)); });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window, &event);
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
    {"CloseOnTheContextMenu", [](CQuorvexDlg&, QWidget* window) { RightClickAndChoose(window, "&Close"); }, IDCANCEL},
    {"Exit", [](CQuorvexDlg& dlg, QWidget*) { Button(dlg, IDC_EXIT)->click(); }, IDOK},
};

class CloseTest : public testing::TestWithParam<CloseCase> {
protected:
    GuiSessionForTest session;
    RecordedBoxes recorded;
    FakeRunDlg dlg;
};

TEST_P(CloseTest, DuringARunStopsItAndClosesAfterItReturned)
{
    dlg.duringRun = [this](QWidget* window) {
        EXPECT_EQ(dlg.m_bRunning, 1);
        GetParam().close(dlg, window);
    };
    WhenModalShows([this](QWidget*) { Button(dlg, IDC_START)->click(); });

    const INT_PTR result = dlg.DoModal();
    dlg.events += "dialog ended;";

    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(dlg.sawCancel, 1);
    EXPECT_EQ(dlg.events, "run returned;dialog ended;");
    EXPECT_TRUE(dlg.windowShownAtRunEnd);
    EXPECT_FALSE(dlg.windowEnabledAtRunEnd) << "a closing window takes no more input";
    EXPECT_EQ(dlg.runs, 1);
    EXPECT_EQ(dlg.m_bRunning, 0);
    EXPECT_EQ(dlg.m_bCancel, 1);
    EXPECT_TRUE(recorded.boxes.empty());
}

TEST_P(CloseTest, WhileIdleEndsAtOnceWithoutTouchingTheRunFlagsUnlessExit)
{
    WhenModalShows([this](QWidget* window) { GetParam().close(dlg, window); });

    EXPECT_EQ(dlg.DoModal(), GetParam().result);
    EXPECT_EQ(dlg.runs, 0);
    EXPECT_EQ(dlg.m_bCancel, std::string(GetParam().name) == "Exit" ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseTest, testing::ValuesIn(kCloses),
                         [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

// Where a real run is when the close arrives. Each instance of the demo
// settles for a second before it is sampled; the short demo ends soon after
// its measured instance has been sampled once, the long one never ends first.
enum class Moment { ProbeSampling, ProbeCaptureWait, MeasurementSampling, MeasurementCaptureWait };

const DemoRun kLongDemo = {"--phases 1 --phase-ms 3000 --sleepers 1"};

struct RealRunCloseCase {
    const CloseCase& way;
    Moment moment;
    DemoRun demo;
    std::vector<std::string> boxes;
    int starts;
    const char* samples;
};

std::string RealRunCloseName(const RealRunCloseCase& c)
{
    static const char* const moments[] = {"DuringTheProbe", "InTheProbesCaptureWait", "DuringTheMeasurement",
                                          "InTheMeasurementsCaptureWait"};
    return std::string(c.way.name) + moments[static_cast<int>(c.moment)];
}

void PrintTo(const RealRunCloseCase& c, std::ostream* os)
{
    *os << RealRunCloseName(c);
}

const RealRunCloseCase kRealRunCloses[] = {
    {kCloses[0], Moment::ProbeSampling, kLongDemo, {kNeedMoreSamples, kMakeSure}, 1, "       0"},
    {kCloses[2], Moment::ProbeCaptureWait, {kLongDemo.params, "100", false, true}, {kNeedMoreSamples, kMakeSure}, 1,
     "       0"},
    {kCloses[1], Moment::MeasurementSampling, {"--phases 1 --phase-ms 1600 --sleepers 1", "10"}, {kMakeSure}, 2,
     "       1"},
    {kCloses[3], Moment::MeasurementCaptureWait, {kLongDemo.params, "10", false, true}, {kNeedMoreSamples, kMakeSure},
     2, "       0"},
    {kCloses[4], Moment::MeasurementSampling, {"--phases 1 --phase-ms 1600 --sleepers 1", "10"}, {kMakeSure}, 2,
     "       1"},
};

class CloseDuringARealRun : public DemoRunTest, public testing::WithParamInterface<RealRunCloseCase> {
protected:
    // Has close happen at the case's moment of the run that START begins.
    void PlanClose(const std::function<void()>& close)
    {
        const Moment moment = GetParam().moment;
        if (moment == Moment::ProbeSampling || moment == Moment::ProbeCaptureWait) {
            AtNextDispatch(close);
            return;
        }
        // The probe's capture window, as short as can be.
        if (moment == Moment::MeasurementCaptureWait) {
            AtNextDispatch([this] {
                Click(dlg, IDC_START_CAPTURE);
                AtNextDispatch([this] { Click(dlg, IDC_STOP_CAPTURE); });
            });
        }
        recorded.whenShown = [close](const Box& box) {
            if (Shown(box) == kMakeSure)
                AtNextDispatch(close);
        };
    }
};

// The run is told to stop, ends its target and writes its end into the
// window, which closes only after that, with the way's result.
TEST_P(CloseDuringARealRun, StopsTheRunAndEndsTheTarget)
{
    const RealRunCloseCase& c = GetParam();
    std::string events;
    bool windowUpAtRunEnd = false;
    bool windowGreyedAtRunEnd = false;
    std::string elapsedShownAtRunEnd;
    const INT_PTR result = Open([&](QWidget* window) {
        PrepareDemoRun(dlg, c.demo);
        QObject::connect(Edit(dlg, IDC_EDIT_SAMPLES), &QLineEdit::textChanged, window, [&, window] {
            events += "run ended;";
            windowUpAtRunEnd = window->isVisible();
            windowGreyedAtRunEnd = !window->isEnabled();
            elapsedShownAtRunEnd = Edit(dlg, IDC_EDIT_ELAPSED)->text().toStdString();
        });
        QObject::connect(static_cast<QDialog*>(window), &QDialog::finished, window,
                         [&] { events += "window closed;"; });
        PlanClose([this, window] { GetParam().way.close(dlg, window); });
        Click(dlg, IDC_START);
    });
    events += "dialog ended;";

    EXPECT_EQ(result, c.way.result);
    EXPECT_EQ(events, "run ended;window closed;dialog ended;");
    EXPECT_TRUE(windowUpAtRunEnd);
    EXPECT_TRUE(windowGreyedAtRunEnd);
    EXPECT_EQ(elapsedShownAtRunEnd, " ") << "the run ended as cancelled";
    EXPECT_EQ(dlg.m_strSamples.str(), c.samples);
    EXPECT_EQ(Shown(recorded.boxes), c.boxes);
    EXPECT_EQ(starts.Count(), c.starts);
    EXPECT_EQ(dlg.m_bRunning, 0);
    EXPECT_EQ(dlg.m_bCancel, 1);
}

INSTANTIATE_TEST_SUITE_P(WaysAndMoments, CloseDuringARealRun, testing::ValuesIn(kRealRunCloses),
                         [](const testing::TestParamInfo<RealRunCloseCase>& info) {
                             return RealRunCloseName(info.param);
                         });

} // namespace
