#include "DialogDriver.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

Strings Shown(const std::vector<Box>& boxes)
{
    Strings shown;
    for (const Box& box : boxes)
        shown.push_back("[" + box.caption + "] " + box.text);
    return shown;
}

int RecordedBoxes::Show(HWND owner, const char* text, const char* caption, UINT)
{
    boxes.push_back({owner, text ? text : "", caption ? caption : ""});
    // A copy: what the box's moment brings about may record further boxes.
    if (whenShown)
        whenShown(Box(boxes.back()));
    return IDOK;
}

GuiSessionForTest::GuiSessionForTest() : m_app(std::make_unique<QApplication>(m_argc, m_argv))
{
    QTimer::singleShot(60000, m_app.get(), [] {
        std::fputs("window test still running after 60 s: a modal window was never closed\n", stderr);
        std::abort();
    });
}

GuiSessionForTest::~GuiSessionForTest() = default;

void WhenModalShows(std::function<void(QWidget*)> act, const QWidget* except)
{
    QTimer::singleShot(10, qApp, [act = std::move(act), except] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != except && modal->isVisible())
            act(modal);
        else
            WhenModalShows(act, except);
    });
}

void WhenMenuShows(std::function<void(QMenu*)> act)
{
    QTimer::singleShot(10, qApp, [act = std::move(act)] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            act(menu);
        else
            WhenMenuShows(act);
    });
}

void PressKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

bool ChooseMenuItem(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            menu->setActiveAction(action);
            PressKey(menu, Qt::Key_Return);
            return true;
        }
    }
    return false;
}

QWidget* Control(CDialog& dialog, int id)
{
    CWnd* item = dialog.GetDlgItem(id);
    return item ? item->m_hWnd : nullptr;
}

QAbstractButton* Button(CDialog& dialog, int id)
{
    return qobject_cast<QAbstractButton*>(Control(dialog, id));
}

QComboBox* Combo(CDialog& dialog, int id)
{
    return qobject_cast<QComboBox*>(Control(dialog, id));
}

QLineEdit* Edit(CDialog& dialog, int id)
{
    return qobject_cast<QLineEdit*>(Control(dialog, id));
}

Strings Items(const QComboBox* combo)
{
    Strings items;
    for (int i = 0; combo && i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

INT_PTR DialogTest::Open(std::function<void(QWidget*)> act)
{
    WhenModalShows(std::move(act));
    return dlg.DoModal();
}

void DialogTest::Inspect(std::function<void(QWidget*)> look)
{
    Open([&look](QWidget* window) {
        look(window);
        PressKey(window, Qt::Key_Escape);
    });
}
