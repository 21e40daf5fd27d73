#include "WinApp.h"

#include "CommandLine.h"
#include "GuiSession.h"
#include "Module.h"
#include "Resources.h"
#include "Wnd.h"

#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>

#include <unistd.h>

namespace {

CWinApp*& CurrentApp()
{
    static CWinApp* app = nullptr;
    return app;
}

CString ProgramPath()
{
    char path[4096];
    return GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path) ? CString(path) : CString();
}

// What the version block says of the program, under its help.
QString VersionLine(const VersionInfo& version)
{
    return QString::asprintf("%s %s (%s, file version %s, internal name %s)", version.fileDescription,
                             version.productVersion, version.originalFilename, version.fileVersion,
                             version.internalName);
}

} // namespace

CWinApp::CWinApp(const char* appName, MessageBoxes& boxes) : m_pszAppName(appName), m_boxes(&boxes)
{
    if (m_pszAppName.IsEmpty()) {
        const CString path = ProgramPath();
        m_pszAppName = path.Mid(path.ReverseFind('/') + 1);
    }
    CurrentApp() = this;
}

CWinApp::~CWinApp()
{
    if (CurrentApp() == this)
        CurrentApp() = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    EndGuiSession();
    return m_nExitCode;
}

void CWinApp::EnableHtmlHelp()
{
    m_pszHelpFilePath = HelpPagePath(ProgramPath());
}

void CWinApp::OnHelp()
{
    QWidget* owner = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    const QFileInfo page(QString::fromLocal8Bit(m_pszHelpFilePath.GetString()));
    if (!page.isFile() || !page.isReadable()) {
        CString text;
        text.Format("Cannot open the help page %s.", m_pszHelpFilePath.GetString());
        m_boxes->Show(owner, text, m_pszAppName, MB_OK);
        return;
    }
    QDialog window(owner);
    window.setWindowTitle(QString::fromLocal8Bit(m_pszAppName.GetString()) + " Help");
    auto* browser = new QTextBrowser(&window);
    browser->setSource(QUrl::fromLocalFile(page.absoluteFilePath()));
    auto* version = new QLabel(VersionLine(AfxGetVersionInfo()), &window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(browser);
    layout->addWidget(version);
    window.resize(640, 480);
    window.exec();
}

void CWinApp::SetRegistryKey(const char*)
{
    // Nothing is stored: the program keeps no settings.
}

CString HelpPagePath(const CString& program)
{
    const std::filesystem::path path(program.GetString());
    const std::filesystem::path beside = path.string() + ".html";
    const std::filesystem::path installed =
        (path.parent_path() / "../share/doc/quorvex" / beside.filename()).lexically_normal();
    const bool useInstalled = access(beside.c_str(), R_OK) != 0 && access(installed.c_str(), R_OK) == 0;
    return CString((useInstalled ? installed : beside).c_str());
}

CWinApp* AfxGetApp()
{
    return CurrentApp();
}

int AfxWinMain(int argc, char** argv)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->m_lpCmdLine = JoinCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    app->InitInstance();
    return app->ExitInstance();
}

void InitCommonControls() {}

void AfxEnableControlContainer() {}

BOOL AfxSocketInit()
{
    return TRUE;
}

int AfxMessageBox(UINT nIDPrompt, UINT type)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return MessageBoxA(nullptr, AfxLoadString(nIDPrompt), "", type);
    return app->Boxes().Show(app->m_pMainWnd ? app->m_pMainWnd->m_hWnd : nullptr, AfxLoadString(nIDPrompt),
                             app->m_pszAppName, type);
}
