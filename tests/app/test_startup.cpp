#include "DialogDriver.h"
#include "GuiSession.h"
#include "MessageBox.h"
#include "QuorvexApp.h"
#include "QuorvexDlg.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

namespace {

TEST(DialogMode, ReportsHowTheDialogEnded)
{
    const std::tuple<const char*, std::function<void(QWidget*)>, const char*, const char*> ends[] = {
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }, "User cliks Cancel button", "Cancel"},
        {"Enter", [](QWidget* w) { PressKey(w, Qt::Key_Return); }, "User cliks OK button", "OK"},
        {"CloseBox", [](QWidget* w) { w->close(); }, "User cliks Cancel button", "Cancel"}};
    for (const auto& [name, act, text, caption] : ends) {
        SCOPED_TRACE(name);
        GuiSessionForTest session;
        RecordedBoxes recorded;
        CQuorvexApp app;
        WhenModalShows(act);

        EXPECT_EQ(app.InitInstance(), FALSE);

        ASSERT_EQ(recorded.boxes.size(), 1u);
        EXPECT_EQ(recorded.boxes[0].text, text);
        EXPECT_EQ(recorded.boxes[0].caption, caption);
        EXPECT_EQ(app.m_pMainWnd, nullptr);
    }
}

TEST(DialogObject, ExistsWithoutAWindowOrAToolkit)
{
    CQuorvexDlg dlg(nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dlg.m_bGuiMode, 1);
    EXPECT_EQ(dlg.m_hIcon, static_cast<HICON>(IDR_MAINFRAME));
    EXPECT_EQ(dlg.GetTemplateId(), 102u);
    for (const CString* text :
         {&dlg.m_strSockets, &dlg.m_strCores, &dlg.m_strLogicals, &dlg.m_strMultiProcessor, &dlg.m_strMultiCore,
          &dlg.m_strSmt, &dlg.m_strAppPath, &dlg.m_strAppParams, &dlg.m_strSamplingRate, &dlg.m_strCpuMin,
          &dlg.m_strCpuAvg, &dlg.m_strCpuMax, &dlg.m_strThreadsMin, &dlg.m_strThreadsAvg, &dlg.m_strThreadsMax,
          &dlg.m_strElapsedMs, &dlg.m_strProcessorInfo, &dlg.m_strFrequency, &dlg.m_strL2Cache, &dlg.m_strSamples,
          &dlg.m_strDuration, &dlg.m_strParallelTime, &dlg.m_strThreadTable, &dlg.m_strConcurrency,
          &dlg.m_strGenerateLog, &dlg.m_strManualCapture})
        EXPECT_TRUE(text->IsEmpty());

    // Unattached wrappers take writes without effect and read as empty.
    dlg.m_editCpuAvg.SetWindowText("12.5");
    CString text = "unchanged";
    dlg.m_editCpuAvg.GetWindowText(text);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(dlg.m_comboDuration.AddString("20"), CB_ERR);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(DisplayProblem, TellsWhetherAWindowCanBeShown)
{
    const struct {
        const char* platform;
        const char* display;
        const char* wayland;
        bool usable;
    } rows[] = {{nullptr, ":97531", nullptr, false},
                {"wayland", nullptr, nullptr, false},
                {"wayland", nullptr, "wayland-0", true},
                {"offscreen", nullptr, nullptr, true}};
    auto set = [](const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); };
    for (const auto& row : rows) {
        set("QT_QPA_PLATFORM", row.platform);
        set("DISPLAY", row.display);
        set("WAYLAND_DISPLAY", row.wayland);
        EXPECT_EQ(DisplayProblem().empty(), row.usable) << DisplayProblem();
    }
}

} // namespace
