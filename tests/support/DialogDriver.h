#pragma once
// Drives real dialogs in window tests: records message boxes, acts on modal
// windows once they are up, and finds and works the controls of a dialog.

#include "QuorvexDlg.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QMenu;

using Strings = std::vector<std::string>;

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
};

// A box as "[caption] text".
Strings Shown(const std::vector<Box>& boxes);

// Records the boxes passed to it instead of showing them. A box stands for
// the moment it would be up: whenShown runs then.
class RecordedBoxes : public MessageBoxes {
public:
    int Show(HWND owner, const char* text, const char* caption, UINT type) override;
    std::vector<Box> boxes;
    std::function<void(const Box&)> whenShown;
};

// The toolkit session of one test, with a watchdog that ends a test whose
// modal windows are never closed.
class GuiSessionForTest {
public:
    GuiSessionForTest();
    ~GuiSessionForTest();

private:
    int m_argc = 1;
    char m_name[8] = "test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

// Calls act with the modal window that is up, other than except, as soon as
// there is one. A watch still waiting ends with the toolkit session.
void WhenModalShows(std::function<void(QWidget*)> act, const QWidget* except = nullptr);
// Calls act with the popup menu that is up, as soon as there is one.
void WhenMenuShows(std::function<void(QMenu*)> act);

void PressKey(QWidget* target, int key);
// Chooses the menu's item with this text as a user would (Enter on it).
bool ChooseMenuItem(QMenu* menu, const QString& text);

QWidget* Control(CDialog& dialog, int id);
QAbstractButton* Button(CDialog& dialog, int id);
QComboBox* Combo(CDialog& dialog, int id);
QLineEdit* Edit(CDialog& dialog, int id);
Strings Items(const QComboBox* combo);

template <typename... Values>
std::string Format(const char* format, Values... values)
{
    CString text;
    text.Format(format, values...);
    return text.str();
}

// The main dialog of one test, with its message boxes recorded.
class DialogTest : public testing::Test {
protected:
    // The dialog's runs read this service, else a kernel one of its own.
    explicit DialogTest(CounterService* counters = nullptr) : dlg(nullptr, counters, recorded) {}

    // Opens the dialog, lets act work it once it shows, and returns how it
    // ended; act must end it.
    INT_PTR Open(std::function<void(QWidget*)> act);
    // Opens the dialog, lets look see it, and closes it with Escape.
    void Inspect(std::function<void(QWidget*)> look);

    GuiSessionForTest session;
    RecordedBoxes recorded;
    CQuorvexDlg dlg;
};
