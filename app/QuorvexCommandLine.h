#pragma once

#include "CString.h"
#include "WinApp.h"

#include <cstdio>

enum CmdLineOptionCode {
    OPT_NONE = 0,
    OPT_SAMPLING = 1,
    OPT_LOG = 2,
    OPT_APP = 3,
};

struct CmdLineOption {
    bool m_bSet = false;
    CString m_strValue;
};

class CQuorvexCommandLine : public CCommandLineInfo {
public:
    // A command line longer than MAX_CMDLINE characters is refused, not cut:
    // nothing of it is kept, and ParseOptions says so.
    static constexpr int MAX_CMDLINE = 1023;

    // The console's boxes go to boxes (standard error, for the real ones).
    explicit CQuorvexCommandLine(const char* cmdLine, MessageBoxes& boxes = RealMessageBoxes());
    ~CQuorvexCommandLine() override;

    void OpenConsole();
    // False when the command line was refused (an "Invalid ..." message).
    bool ParseOptions();
    void PrintUsage();
    // Returns the process's exit status: 0 when the run did what was asked,
    // 2 when the command line was refused, 1 when a target gave no figures or
    // the log could not be written.
    int RunConsole();

    CString m_strTargetName;
    CString m_strTargetParams;
    CString m_strTargetPath;
    char m_szCmdLine[MAX_CMDLINE + 1];
    CmdLineOption m_options[4];
    FILE* m_stream;
    bool m_bCmdLineTooLong = false;

private:
    MessageBoxes& m_boxes;

    bool Refuse(const char* message);
    // True when the report has figures.
    bool MeasureTarget();
};
