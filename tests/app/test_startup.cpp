#include "DialogDriver.h"
#include "GuiSession.h"
#include "QuorvexApp.h"

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
        CQuorvexApp app(recorded);
        WhenModalShows(act);

        EXPECT_EQ(app.InitInstance(), FALSE);

        ASSERT_EQ(recorded.boxes.size(), 1u);
        EXPECT_EQ(recorded.boxes[0].text, text);
        EXPECT_EQ(recorded.boxes[0].caption, caption);
        EXPECT_EQ(app.m_pMainWnd, nullptr);
    }
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
