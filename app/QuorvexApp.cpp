#include "QuorvexApp.h"

#include "QuorvexCommandLine.h"
#include "QuorvexDlg.h"
#include "Resource.h"

BEGIN_MESSAGE_MAP(CQuorvexApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CQuorvexApp::CQuorvexApp(MessageBoxes& boxes) : CWinApp(nullptr, boxes)
{
    EnableHtmlHelp();
}

BOOL CQuorvexApp::InitInstance()
{
    InitCommonControls();

    const CString commandLine = m_lpCmdLine;
    if (!commandLine.IsEmpty()) {
        CQuorvexCommandLine cmdLine(commandLine, Boxes());
        cmdLine.OpenConsole();
        SetExitCode(cmdLine.RunConsole());
        return FALSE;
    }

    CWinApp::InitInstance();
    if (!AfxSocketInit()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }
    AfxEnableControlContainer();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CQuorvexDlg dlg(nullptr, nullptr, Boxes());
    m_pMainWnd = &dlg;
    const INT_PTR response = dlg.DoModal();
    if (response == IDOK)
        Boxes().Show(nullptr, "User cliks OK button", "OK", MB_OK);
    else if (response == IDCANCEL)
        Boxes().Show(nullptr, "User cliks Cancel button", "Cancel", MB_OK);
    m_pMainWnd = nullptr;
    return FALSE;
}
