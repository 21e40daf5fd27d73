#include "Wnd.h"

#include "IconImages.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QWidget>

namespace {

QComboBox* Combo(HWND hWnd)
{
    return qobject_cast<QComboBox*>(hWnd);
}

// The dialog builder marks lists created with the sorted style.
bool IsSorted(const QComboBox* combo)
{
    return combo->property("sorted").toBool();
}

// A window keeps the icons it was given under these properties.
constexpr const char* BIG_ICON = "quorvexBigIcon";
constexpr const char* SMALL_ICON = "quorvexSmallIcon";

HICON ReplaceIcon(QWidget* window, WPARAM which, HICON icon)
{
    const char* slot = which == ICON_BIG ? BIG_ICON : SMALL_ICON;
    const HICON previous = window->property(slot).toUInt();
    window->setProperty(slot, icon);
    window->setWindowIcon(WindowIcon(window->property(BIG_ICON).toUInt(), window->property(SMALL_ICON).toUInt()));
    return previous;
}

} // namespace

void CWnd::SetWindowText(const char* text)
{
    if (!m_hWnd)
        return;
    const QString value = QString::fromLocal8Bit(text);
    if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd)) {
        edit->setText(value);
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        label->setText(value);
    } else {
        m_hWnd->setWindowTitle(value);
    }
}

void CWnd::GetWindowText(CString& text) const
{
    QString value;
    if (!m_hWnd)
        value.clear();
    else if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd))
        value = edit->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd))
        value = button->text();
    else if (auto* label = qobject_cast<QLabel*>(m_hWnd))
        value = label->text();
    else if (auto* combo = Combo(m_hWnd))
        value = combo->currentText();
    else
        value = m_hWnd->windowTitle();
    text = CString(value.toLocal8Bit().toStdString());
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    if (!m_hWnd)
        return FALSE;
    const BOOL wasVisible = m_hWnd->isVisible();
    m_hWnd->setVisible(nCmdShow != SW_HIDE);
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    return m_hWnd && m_hWnd->isVisible();
}

BOOL CWnd::IsIconic() const
{
    return m_hWnd && m_hWnd->isMinimized();
}

void CWnd::GetClientRect(CRect* rect) const
{
    *rect = {};
    if (m_hWnd)
        *rect = {0, 0, m_hWnd->width(), m_hWnd->height()};
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_hWnd)
        return 0;
    switch (message) {
    case WM_SETICON:
        return ReplaceIcon(m_hWnd, wParam, static_cast<HICON>(lParam));
    case WM_ICONERASEBKGND:
        if (auto* painter = reinterpret_cast<QPainter*>(wParam))
            painter->fillRect(m_hWnd->rect(), m_hWnd->palette().window());
        return TRUE;
    default:
        return 0;
    }
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return static_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, static_cast<LPARAM>(hIcon)));
}

void CWnd::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == SC_CLOSE && m_hWnd)
        m_hWnd->close();
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type)
{
    return m_boxes->Show(m_hWnd, text, caption ? caption : "Error", type);
}

void CButton::SetCheck(int nCheck)
{
    auto* button = qobject_cast<QAbstractButton*>(m_hWnd);
    if (button && button->isCheckable())
        button->setChecked(nCheck == BST_CHECKED);
}

int CButton::GetCheck() const
{
    auto* button = qobject_cast<QAbstractButton*>(m_hWnd);
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

int CComboBox::AddString(const char* text)
{
    QComboBox* combo = Combo(m_hWnd);
    if (!combo)
        return CB_ERR;
    const QString item = QString::fromLocal8Bit(text);
    int index = combo->count();
    if (IsSorted(combo)) {
        index = 0;
        while (index < combo->count() && QString::compare(combo->itemText(index), item, Qt::CaseInsensitive) <= 0)
            ++index;
    }
    // Inserting into an empty list must not select the item: a list box's
    // selection changes only when the program or the user sets it.
    const QSignalBlocker blocker(combo);
    const int selected = combo->currentIndex();
    combo->insertItem(index, item);
    combo->setCurrentIndex(selected < 0 ? -1 : (selected >= index ? selected + 1 : selected));
    return index;
}

void CComboBox::ResetContent()
{
    if (QComboBox* combo = Combo(m_hWnd)) {
        const QSignalBlocker blocker(combo);
        combo->clear();
    }
}

int CComboBox::SetCurSel(int index)
{
    QComboBox* combo = Combo(m_hWnd);
    if (!combo || index < -1 || index >= combo->count())
        return CB_ERR;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
    return index;
}

int CComboBox::GetCurSel() const
{
    const QComboBox* combo = Combo(m_hWnd);
    return combo ? combo->currentIndex() : CB_ERR;
}

int CComboBox::GetCount() const
{
    const QComboBox* combo = Combo(m_hWnd);
    return combo ? combo->count() : 0;
}

int CComboBox::GetLBText(int index, CString& text) const
{
    const QComboBox* combo = Combo(m_hWnd);
    if (!combo || index < 0 || index >= combo->count())
        return CB_ERR;
    text = CString(combo->itemText(index).toLocal8Bit().toStdString());
    return text.GetLength();
}

int CComboBox::SelectString(int startAfter, const char* text)
{
    QComboBox* combo = Combo(m_hWnd);
    if (!combo)
        return CB_ERR;
    const QString prefix = QString::fromLocal8Bit(text);
    for (int i = startAfter + 1; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive))
            return SetCurSel(i);
    }
    return CB_ERR;
}
