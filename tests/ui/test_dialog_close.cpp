// Closing the main dialog. A run is a loop inside the START handler that
// dispatches messages, so a close arrives while the run is still using the
// window: the run must be told to stop, and the window must outlive it.

#include "DialogDriver.h"
#include "GuiSession.h"
#include "QuorvexDlg.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
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
    std::function<void(FakeRunDlg&, QWidget*)> close;
    INT_PTR result;
};

void PrintTo(const CloseCase& c, std::ostream* os)
{
    *os << c.name;
}

const CloseCase kCloses[] = {
    {"Escape", [](FakeRunDlg&, QWidget* window) { PressKey(window, Qt::Key_Escape); }, IDCANCEL},
    {"EnterInParameters",
     [](FakeRunDlg& dlg, QWidget*) {
         Edit(dlg, IDC_EDIT_APP_PARAMS)->setFocus();
         PressKey(Edit(dlg, IDC_EDIT_APP_PARAMS), Qt::Key_Return);
     },
     IDOK},
    {"CloseBox", [](FakeRunDlg&, QWidget* window) { window->close(); }, IDCANCEL},
    {"CloseOnTheContextMenu", [](FakeRunDlg&, QWidget* window) { RightClickAndChoose(window, "&Close"); }, IDCANCEL},
    {"Exit", [](FakeRunDlg& dlg, QWidget*) { Button(dlg, IDC_EXIT)->click(); }, IDOK},
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

} // namespace
