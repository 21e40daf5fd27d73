#include "Dialog.h"

#include "DialogUnits.h"
#include "GuiSession.h"
#include "Resources.h"
#include "WinApp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    return {AverageCharWidth(metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
            metrics.height()};
}

Qt::Alignment TextAlignment(unsigned styles)
{
    Qt::Alignment alignment = (styles & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
    return alignment | ((styles & CS_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop);
}

QWidget* CreateStatic(const ControlTemplate& control, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLocal8Bit(control.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(TextAlignment(control.styles));
    if (control.styles & CS_RAISED)
        label->setFrameStyle(QFrame::Panel | QFrame::Raised);
    if (control.styles & CS_SUNKEN)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if ((control.styles & CS_RAISED) && (control.styles & CS_SUNKEN))
        label->setFrameStyle(QFrame::Box | QFrame::Sunken);
    return label;
}

QWidget* CreateEdit(const ControlTemplate& control, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(control.styles & CS_READONLY);
    edit->setAlignment((control.styles & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft);
    return edit;
}

QWidget* CreateButton(const ControlTemplate& control, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLocal8Bit(control.text), parent);
    button->setCheckable(control.kind == ControlKind::PushLikeCheckBox);
    button->setDefault(control.kind == ControlKind::DefPushButton);
    button->setAutoDefault(false);
    return button;
}

QWidget* CreateDropDownList(const ControlTemplate& control, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    combo->setProperty("sorted", (control.styles & CS_SORTED) != 0);
    return combo;
}

QWidget* CreateGroupBox(const ControlTemplate& control, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | ((control.styles & CS_RAISED) ? QFrame::Raised : QFrame::Sunken));
    return frame;
}

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent)
{
    switch (control.kind) {
    case ControlKind::Static:
    case ControlKind::IconStatic:
        return CreateStatic(control, parent);
    case ControlKind::Edit:
        return CreateEdit(control, parent);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::PushLikeCheckBox:
        return CreateButton(control, parent);
    case ControlKind::DropDownList:
        return CreateDropDownList(control, parent);
    case ControlKind::GroupBox:
        return CreateGroupBox(control, parent);
    }
    return nullptr;
}

// The window of a CDialog for the span of DoModal. Keys and the close box
// become the dialog's commands, as a Windows dialog manager would send them.
class DialogWindow : public QDialog {
public:
    DialogWindow(CDialog& owner, const DialogTemplate& dialogTemplate, QWidget* parent)
        : QDialog(parent), m_owner(owner)
    {
        setWindowTitle(QString::fromLocal8Bit(dialogTemplate.caption));
        setFont(QFont(QString::fromLocal8Bit(dialogTemplate.fontFace), dialogTemplate.pointSize));
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

private:
    void AddControl(const ControlTemplate& control, DialogBaseUnits units)
    {
        QWidget* widget = CreateControl(control, this);
        const PixelRect rect = MapDialogRect(control.x, control.y, control.cx, control.cy, units);
        widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
        widget->setVisible(!(control.styles & CS_HIDDEN));
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

} // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    if (!dialogTemplate || !EnsureGuiSession()) {
        if (AfxGetApp())
            AfxGetApp()->SetExitFailure();
        return -1;
    }
    QWidget* parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!parent && AfxGetApp() && AfxGetApp()->m_pMainWnd != this && AfxGetApp()->m_pMainWnd)
        parent = AfxGetApp()->m_pMainWnd->m_hWnd;

    DialogWindow window(*this, *dialogTemplate, parent);
    m_hWnd = &window;
    m_nModalResult = -1;
    OnInitDialog();
    if (m_nModalResult == -1)
        window.exec();
    DetachAll();
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
    if (m_hWnd)
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

void CDialog::OnCommand(UINT nID, UINT nCode)
{
    if (OnCmdMsg(nID, nCode))
        return;
    if (nCode != BN_CLICKED)
        return;
    if (nID == IDOK)
        OnOK();
    else if (nID == IDCANCEL)
        OnCancel();
    else if (nID == ID_HELP && AfxGetApp())
        AfxGetApp()->OnCmdMsg(ID_HELP);
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
