#include "Dialog.h"

#include "DialogControls.h"
#include "GuiSession.h"
#include "Resources.h"
#include "WinApp.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>

namespace {

// The window of a CDialog for the span of DoModal. Keys, the close box and
// the context menu become the dialog's commands and system commands, as a
// Windows dialog manager would send them; painting goes through its message
// map.
class DialogWindow : public QDialog {
public:
    DialogWindow(CDialog& owner, const DialogTemplate& dialogTemplate, QWidget* parent)
        : QDialog(parent), m_owner(owner)
    {
        // A caption with a close box; no minimise or maximise box.
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint);
        setWindowTitle(QString::fromLocal8Bit(dialogTemplate.caption));
        setFont(DialogFont(dialogTemplate.fontFace, dialogTemplate.pointSize));
        const DialogBaseUnits units = BaseUnitsOf(font());
        const PixelRect size = MapDialogRect(0, 0, dialogTemplate.cx, dialogTemplate.cy, units);
        setFixedSize(size.width, size.height);
        for (const ControlTemplate& control : dialogTemplate.controls)
            AddControl(control, units);
    }

    QWidget* Control(int id) const
    {
        const auto found = m_controls.find(id);
        return found == m_controls.end() ? nullptr : found->second;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Escape:
            m_owner.OnCommand(IDCANCEL);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the focused push button; anywhere else it is IDOK.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
                button->click();
            else
                m_owner.OnCommand(IDOK);
            return;
        default:
            QDialog::keyPressEvent(event);
        }
    }

    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        m_owner.OnCommand(IDCANCEL);
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        const CMenu* systemMenu = m_owner.GetSystemMenu(FALSE);
        if (!systemMenu)
            return;
        QMenu menu(this);
        for (const CMenu::Item& item : systemMenu->Items()) {
            if (item.flags & MF_SEPARATOR)
                menu.addSeparator();
            else
                menu.addAction(QString::fromLocal8Bit(item.text.GetString()))->setData(QVariant::fromValue(item.id));
        }
        if (const QAction* chosen = menu.exec(event->globalPos()))
            m_owner.OnSysCommandMessage(static_cast<UINT>(chosen->data().value<UINT_PTR>()));
    }

    void paintEvent(QPaintEvent* event) override
    {
        if (!m_owner.OnWndMsg(WM_PAINT, 0, 0))
            QDialog::paintEvent(event);
    }

private:
    void AddControl(const ControlTemplate& control, DialogBaseUnits units)
    {
        QWidget* widget = CreateControl(control, units, this);
        if (control.id == IDC_STATIC)
            return;
        m_controls.emplace(control.id, widget);
        const UINT id = static_cast<UINT>(control.id);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            connect(button, &QPushButton::clicked, this, [this, id] { m_owner.OnCommand(id, BN_CLICKED); });
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            connect(combo, &QComboBox::activated, this, [this, id] { m_owner.OnCommand(id, CBN_SELCHANGE); });
    }

    CDialog& m_owner;
    std::map<int, QWidget*> m_controls;
};

DialogWindow* WindowOf(const CDialog& dialog)
{
    return static_cast<DialogWindow*>(dialog.m_hWnd);
}

// The system menu as the window starts with it.
std::unique_ptr<CMenu> DefaultSystemMenu()
{
    auto menu = std::make_unique<CMenu>();
    menu->AppendMenu(MF_STRING, SC_CLOSE, "&Close");
    return menu;
}

} // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd, MessageBoxes& boxes)
    : CWnd(boxes), m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    if (!dialogTemplate || !EnsureGuiSession()) {
        if (AfxGetApp())
            AfxGetApp()->SetExitFailure();
        return -1;
    }
    // Without a parent the owner is the main window, or else the modal
    // window that is up.
    QWidget* parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!parent && AfxGetApp() && AfxGetApp()->m_pMainWnd != this && AfxGetApp()->m_pMainWnd)
        parent = AfxGetApp()->m_pMainWnd->m_hWnd;
    if (!parent)
        parent = QApplication::activeModalWidget();

    DialogWindow window(*this, *dialogTemplate, parent);
    m_hWnd = &window;
    m_nModalResult = -1;
    m_bEnding = false;
    m_nDispatchDepth = 0;
    m_pSystemMenu = DefaultSystemMenu();
    OnInitDialog();
    if (!m_bEnding)
        window.exec();
    DetachAll();
    m_pSystemMenu.reset();
    m_hWnd = nullptr;
    return m_nModalResult;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    // The help button is shown only when someone handles the help command.
    if (CWnd* help = GetDlgItem(ID_HELP)) {
        help->ShowWindow(AfxGetApp() && AfxGetApp()->HandlesCommand(ID_HELP) ? SW_SHOW : SW_HIDE);
    }
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange exchange(this, bSaveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bEnding = true;
    if (m_hWnd && m_nDispatchDepth == 0)
        WindowOf(*this)->done(nResult);
}

CWnd* CDialog::GetDlgItem(int nID)
{
    QWidget* widget = m_hWnd ? WindowOf(*this)->Control(nID) : nullptr;
    if (!widget)
        return nullptr;
    std::unique_ptr<CWnd>& item = m_items[nID];
    if (!item) {
        item = std::make_unique<CWnd>();
        m_attached.push_back(item.get());
    }
    item->Attach(widget);
    return item.get();
}

BOOL CDialog::AttachControl(int nID, CWnd& control)
{
    QWidget* widget = m_hWnd ? WindowOf(*this)->Control(nID) : nullptr;
    if (!widget)
        return FALSE;
    control.Attach(widget);
    m_attached.push_back(&control);
    return TRUE;
}

void CDialog::DetachAll()
{
    for (CWnd* control : m_attached)
        control->Detach();
    m_attached.clear();
}

CMenu* CDialog::GetSystemMenu(BOOL bRevert)
{
    if (!m_hWnd)
        return nullptr;
    if (bRevert) {
        m_pSystemMenu = DefaultSystemMenu();
        return nullptr;
    }
    return m_pSystemMenu.get();
}

template <typename Handler>
void CDialog::Dispatch(Handler handler)
{
    if (m_bEnding)
        return;
    ++m_nDispatchDepth;
    handler();
    --m_nDispatchDepth;
    if (!m_bEnding || !m_hWnd)
        return;
    // An outer handler is still running (a run dispatching messages): the
    // window stays, greyed, until it returns.
    if (m_nDispatchDepth == 0)
        WindowOf(*this)->done(m_nModalResult);
    else
        m_hWnd->setEnabled(false);
}

void CDialog::OnCommand(UINT nID, UINT nCode)
{
    Dispatch([this, nID, nCode] {
        if (OnCmdMsg(nID, nCode) || nCode != BN_CLICKED)
            return;
        if (nID == IDOK)
            OnOK();
        else if (nID == IDCANCEL)
            OnCancel();
        else if (nID == ID_HELP && AfxGetApp())
            AfxGetApp()->OnCmdMsg(ID_HELP);
    });
}

void CDialog::OnSysCommandMessage(UINT nID, LPARAM lParam)
{
    Dispatch([this, nID, lParam] {
        if (!OnWndMsg(WM_SYSCOMMAND, 0, nID, lParam))
            OnSysCommand(nID, lParam);
    });
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control)
{
    if (!control.m_hWnd)
        pDX->m_pDlgWnd->AttachControl(nIDC, control);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        item->GetWindowText(value);
    else
        item->SetWindowText(value);
}

void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value)
{
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate) {
        item->GetWindowText(value);
        return;
    }
    CComboBox combo;
    combo.Attach(item->m_hWnd);
    if (value.IsEmpty() || combo.SelectString(-1, value) == CB_ERR)
        combo.SetCurSel(-1);
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    CButton button;
    button.Attach(item->m_hWnd);
    if (pDX->m_bSaveAndValidate)
        value = button.GetCheck();
    else
        button.SetCheck(value);
}
