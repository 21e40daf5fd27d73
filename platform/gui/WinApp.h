#pragma once
// The application framework: one application object per process, whose
// InitInstance the framework's entry point drives.

#include "CString.h"
#include "MessageBox.h"
#include "MessageMap.h"

class CWnd;

// The framework's command-line object; the program parses its command line
// itself, so nothing of it is used but its place as a base class.
class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo() = default;
};

class CWinApp : public CCmdTarget {
public:
    // The application's message boxes go to boxes.
    explicit CWinApp(const char* appName = nullptr, MessageBoxes& boxes = RealMessageBoxes());
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // The process's exit code: 0, unless the framework could not do what the
    // application asked of it (see SetExitFailure).
    virtual int ExitInstance();

    // Help is an HTML page named after the program (see HelpPagePath).
    void EnableHtmlHelp();
    void OnHelp();
    void SetRegistryKey(const char* key);

    // Records that the framework failed (no display for a window, ...), so
    // that the process ends with a non-zero exit code.
    void SetExitFailure() { m_nExitCode = 1; }
    // The exit code that the application chose for its run.
    void SetExitCode(int code) { m_nExitCode = code; }

    CString m_pszAppName;
    CString m_pszHelpFilePath;
    // The command line without the program's own name.
    CString m_lpCmdLine;
    CWnd* m_pMainWnd = nullptr;
    MessageBoxes& Boxes() const { return *m_boxes; }

private:
    MessageBoxes* m_boxes;
    int m_nExitCode = 0;
};

CWinApp* AfxGetApp();
// The framework's box: the text of a string resource, titled with the
// application's name, owned by the main window.
int AfxMessageBox(UINT nIDPrompt, UINT type = MB_OK);

// The help page of the program at that path: <program>.html beside it (the
// build tree), else share/doc/quorvex/<program>.html beside its bin folder (an
// installed tree); the page beside it when neither can be read.
CString HelpPagePath(const CString& program);

// The framework's entry: builds m_lpCmdLine from the arguments, runs
// InitInstance, then ExitInstance, whose result is the process's exit code.
int AfxWinMain(int argc, char** argv);

// Services a Windows program calls at start-up; Linux needs none of them.
void InitCommonControls();
void AfxEnableControlContainer();
BOOL AfxSocketInit();
