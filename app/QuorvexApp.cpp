#include "QuorvexApp.h"

#include "MessageBox.h"
#include "QuorvexCommandLine.h"
#include "QuorvexDlg.h"
#include "Resource.h"

BEGIN_MESSAGE_MAP(CQuorvexApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CQuorvexApp::CQuorvexApp()
{
    EnableHtmlHelp();
}

BOOL CQuorvexApp::InitInstance()
{
    InitCommonControls();

    const CString commandLine = m_lpCmdLine;
    if (!commandLine.IsEmpty()) {
        CQuorvexCommandLine cmdLine(commandLine);
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

    CQuorvexDlg dlg(nullptr);
    m_pMainWnd = &dlg;
    const INT_PTR response = dlg.DoModal();
    if (response == IDOK)
        MessageBoxA(nullptr, "User cliks OK button", "OK", MB_OK);
    else if (response == IDCANCEL)
        MessageBoxA(nullptr, "User cliks Cancel button", "Cancel", MB_OK);
    m_pMainWnd = nullptr;
    return FALSE;
}
