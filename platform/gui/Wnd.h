#pragma once
// Window and control wrappers. A wrapper is unattached (m_hWnd null) until the
// data exchange binds it to a control of a dialog's window; it is detached
// again when that window closes. Writing to an unattached wrapper does nothing
// and reading from one yields empty text, no check and no selection.

#include "CString.h"
#include "MessageBox.h"
#include "WindowHandles.h"
#include "MessageMap.h"

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int CB_ERR = -1;

constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

constexpr UINT SC_CLOSE = 0xF060;

struct CRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

class CWnd : public CCmdTarget {
public:
    // The window's message boxes go to boxes.
    explicit CWnd(MessageBoxes& boxes = RealMessageBoxes()) : m_boxes(&boxes) {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    void Detach() { m_hWnd = nullptr; }

    void SetWindowText(const char* text);
    void GetWindowText(CString& text) const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void GetClientRect(CRect* rect) const;

    // The messages a program sends to its own windows: WM_SETICON
    // (wParam ICON_BIG or ICON_SMALL, lParam the icon; returns the icon it
    // replaces) and WM_ICONERASEBKGND (wParam the device context being
    // painted). Others are not handled and return 0.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);

    // The default handling of a system command: SC_CLOSE closes the window
    // as its close box does; other commands have nothing to do here.
    void OnSysCommand(UINT nID, LPARAM lParam);

    // A message box owned by this window (no owner while unattached).
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);
    MessageBoxes& Boxes() const { return *m_boxes; }

    HWND m_hWnd = nullptr;

private:
    MessageBoxes* m_boxes;
};

class CEdit : public CWnd {};

class CButton : public CWnd {
public:
    void SetCheck(int nCheck);
    int GetCheck() const;
};

class CComboBox : public CWnd {
public:
    // Sorted lists insert in text order, unsorted ones append; returns the
    // new item's index.
    int AddString(const char* text);
    void ResetContent();
    int SetCurSel(int index);
    int GetCurSel() const;
    int GetCount() const;
    int GetLBText(int index, CString& text) const;
    // Selects the first item that begins with the text (case-insensitive).
    int SelectString(int startAfter, const char* text);
};
