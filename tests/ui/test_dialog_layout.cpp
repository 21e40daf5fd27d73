// The main dialog's layout: every control where its dialog units put it for
// the dialog font, hidden controls hidden, the lists in their order.

#include "DialogDriver.h"
#include "Resources.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

// Dialog units as the Windows dialog manager defines them: a quarter of the
// font's average character width (the 52 letters, halved and rounded) and an
// eighth of its height.
struct Units {
    explicit Units(const QFont& font)
    {
        const QFontMetrics metrics(font);
        cx = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
        cy = metrics.height();
    }
    int X(int units) const { return static_cast<int>(std::lround(units * cx / 4.0)); }
    int Y(int units) const { return static_cast<int>(std::lround(units * cy / 8.0)); }
    QRect Rect(const ControlTemplate& c) const { return {X(c.x), Y(c.y), X(c.cx), Y(c.cy)}; }
    int cx, cy;
};

const DialogTemplate& MainTemplate()
{
    return *AfxFindDialogTemplate(IDD_QUORVEX_DIALOG);
}

// The group box is the template's one unnamed control that is no text.
QWidget* WidgetOf(CDialog& dlg, const ControlTemplate& control, QWidget* window)
{
    if (control.id != IDC_STATIC)
        return Control(dlg, control.id);
    for (auto* frame : window->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
        if (!qobject_cast<QLabel*>(frame))
            return frame;
    }
    return nullptr;
}

TEST_F(DialogTest, EveryControlLiesWhereItsDialogUnitsSayAndOnlyTheHiddenOnesAreHidden)
{
    // Help too: nobody handles it without an application object.
    const std::set<int> hidden = {IDC_CORE_MODE,       IDC_STATIC_THREADS, IDC_EDIT_THREADS_MIN, IDC_EDIT_THREADS_AVG,
                                  IDC_EDIT_THREADS_MAX, IDC_EDIT_SAMPLES,   IDC_STATIC_SAMPLES,   IDC_STATIC_L2_CACHE,
                                  IDC_EDIT_L2_CACHE,    ID_HELP};
    int checked = 0;
    Inspect([&](QWidget* window) {
        EXPECT_EQ(window->font().family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
        EXPECT_EQ(window->font().pointSize(), 8);
        const Units units(window->font());
        // Sizes like those of the Windows dialog font keep the layout's
        // proportions: 6 to 7 pixels by 13 to 16 at 96 dots per inch.
        EXPECT_TRUE(units.cx >= 5 && units.cx <= 8 && units.cy >= 12 && units.cy <= 17) << units.cx << 'x' << units.cy;
        EXPECT_EQ(window->size(), QSize(units.X(548), units.Y(274)));
        for (const ControlTemplate& control : MainTemplate().controls) {
            QWidget* widget = WidgetOf(dlg, control, window);
            ASSERT_NE(widget, nullptr) << control.id;
            const QRect expected = units.Rect(control);
            const QRect actual = widget->geometry();
            EXPECT_EQ(actual.topLeft(), expected.topLeft()) << control.id;
            EXPECT_EQ(actual.width(), expected.width()) << control.id;
            if (control.kind == ControlKind::DropDownList) {
                // The template gives the dropped-down height; closed, the
                // stacked setting lists (15 units apart) must not overlap.
                EXPECT_GE(actual.height(), QFontMetrics(window->font()).height()) << control.id;
                EXPECT_LE(actual.height(), units.Y(15)) << control.id;
            } else {
                EXPECT_EQ(actual.height(), expected.height()) << control.id;
            }
            EXPECT_EQ(widget->isVisible(), !hidden.contains(control.id)) << control.id;
            ++checked;
        }
    });
    EXPECT_EQ(checked, 60);
}

TEST_F(DialogTest, SortedListsKeepTextOrderAndTheDurationListInsertionOrder)
{
    Strings threads, levels, durations;
    Inspect([&](QWidget*) {
        for (int thread : {11, 2, 0, 10, 1})
            dlg.m_comboThreadTable.AddString(Format("%3d%22.2f%16.2f%16.2f%16.2f", thread, 1.0, 0.0, 0.5, 1.0).c_str());
        dlg.m_comboConcurrency.AddString(" 12                   1.00");
        dlg.m_comboConcurrency.AddString("  3                  10.00");
        dlg.m_comboDuration.AddString("15");
        threads = Items(Combo(dlg, IDC_COMBO_THREAD_TABLE));
        levels = Items(Combo(dlg, IDC_COMBO_CONCURRENCY));
        durations = Items(Combo(dlg, IDC_COMBO_DURATION));
    });

    std::vector<int> threadNumbers;
    for (const std::string& row : threads)
        threadNumbers.push_back(std::stoi(row.substr(0, 3)));
    EXPECT_EQ(threadNumbers, (std::vector<int>{0, 1, 2, 10, 11}));
    EXPECT_EQ(levels, (Strings{"  3                  10.00", " 12                   1.00"}));
    EXPECT_EQ(durations.front(), "10");
    EXPECT_EQ(durations.back(), "15");
}

TEST_F(DialogTest, DroppedDownListIsAsTallAsTheTemplateSaysAndScrolls)
{
    Inspect([&](QWidget* window) {
        QComboBox* durations = Combo(dlg, IDC_COMBO_DURATION);
        const int rowsInTemplate =
            (Units(window->font()).Y(84) - durations->height()) / QFontMetrics(window->font()).height();
        durations->showPopup();
        QAbstractItemView* list = durations->view();
        const int rowsShown = list->viewport()->height() / list->sizeHintForRow(0);
        EXPECT_GE(rowsShown, rowsInTemplate - 1);
        EXPECT_LE(rowsShown, rowsInTemplate);
        EXPECT_GT(list->verticalScrollBar()->maximum(), 0) << "30 items scroll";
        EXPECT_GE(list->window()->geometry().top(), durations->mapToGlobal(QPoint(0, 0)).y())
            << "the list drops below the box, not over it";
        durations->hidePopup();
    });
}

} // namespace
