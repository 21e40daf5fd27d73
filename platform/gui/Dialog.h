#pragma once
// Modal dialogs built from templates. A CDialog is a plain object: it owns a
// window only between the start and the end of DoModal, so it can serve as an
// engine without any window toolkit.

#include "Menu.h"
#include "Wnd.h"

#include <map>
#include <memory>
#include <vector>

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr, MessageBoxes& boxes = RealMessageBoxes());
    ~CDialog() override;

    // Shows the dialog and returns how it ended (IDOK, IDCANCEL, ...), or -1
    // when no window could be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    void OnPaint() {}

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // Ends the dialog with this result. A handler further up the call stack
    // (a run that dispatches messages) still uses the window, so the window
    // closes when the outermost handler has returned; until then it takes no
    // more commands.
    void EndDialog(int nResult);

    // The control with this id while the window exists, else null.
    CWnd* GetDlgItem(int nID);
    // Binds a wrapper to its control until the window closes.
    BOOL AttachControl(int nID, CWnd& control);
    // The window's system menu (shown as its context menu) while the window
    // exists, else null. bRevert restores its original items.
    CMenu* GetSystemMenu(BOOL bRevert);

    // Route a command or a system command the way the framework does: the
    // message map first, then the framework's own handling (IDOK, IDCANCEL
    // and help commands; the default system commands).
    void OnCommand(UINT nID, UINT nCode = BN_CLICKED);
    void OnSysCommandMessage(UINT nID, LPARAM lParam = 0);

    UINT GetTemplateId() const { return m_nIDTemplate; }

private:
    template <typename Handler>
    void Dispatch(Handler handler);
    void DetachAll();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEnding = false;
    int m_nDispatchDepth = 0;
    std::unique_ptr<CMenu> m_pSystemMenu;
    std::map<int, std::unique_ptr<CWnd>> m_items;
    std::vector<CWnd*> m_attached;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
