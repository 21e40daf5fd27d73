#include "QuorvexCommandLine.h"

#include "Console.h"
#include "MessageBox.h"
#include "Module.h"
#include "Process.h"
#include "QuorvexDlg.h"
#include "SystemReport.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Says on standard error why the console log is missing or incomplete.
void ReportLogFailure(const char* doing, const char* fileName, int error)
{
    std::fflush(stdout);
    std::fprintf(stderr, "quorvex: cannot %s the log file %s: %s\n", doing, fileName, std::strerror(error));
}

// Opens the console log named by the option; null when it cannot be opened.
FILE* OpenConsoleLog(const CString& fileName)
{
    std::unique_ptr<char[]> name(new (std::nothrow) char[fileName.GetLength() + 1]);
    if (!name) {
        MessageBoxA(nullptr, "Unable to alloc memory for szParams", "App Params", MB_OK);
        return nullptr;
    }
    std::strcpy(name.get(), fileName);
    FILE* stream = std::fopen(name.get(), "w");
    if (!stream) {
        ReportLogFailure("open", name.get(), errno);
        return nullptr;
    }
    std::fputs("Quorvex 1.0 Log\n", stream);
    return stream;
}

// Closes the console log; false when anything written to it was lost.
bool CloseConsoleLog(FILE* stream, const CString& fileName)
{
    errno = 0;
    const bool lost = std::fflush(stream) != 0 || std::ferror(stream);
    int error = lost ? (errno != 0 ? errno : EIO) : 0;
    if (std::fclose(stream) != 0 && error == 0)
        error = errno;
    if (error == 0)
        return true;
    ReportLogFailure("write", fileName, error);
    return false;
}

CString ApplicationReport(const CQuorvexCommandLine& cmdLine, const CQuorvexDlg& dlg)
{
    CString report = "\n---- Application Detection ----";
    report.AppendFormat("\nApplication Name:%s", cmdLine.m_strTargetName.GetString());
    report.AppendFormat("\nApplication Parameters:%s", cmdLine.m_strTargetParams.GetString());
    report.AppendFormat("\nSampling interval (msec):%s", dlg.m_strSamplingRate.GetString());
    report += "\nCPU Utilization (percentage)";
    report.AppendFormat("\n\t          Min:%s Avg:%s Max:%s", dlg.m_strCpuMin.GetString(), dlg.m_strCpuAvg.GetString(),
                        dlg.m_strCpuMax.GetString());
    report += "\nNumber of Threads:";
    report.AppendFormat("\n\t          Min:%s   Avg:%s   Max:%s   ", dlg.m_strThreadsMin.GetString(),
                        dlg.m_strThreadsAvg.GetString(), dlg.m_strThreadsMax.GetString());
    report.AppendFormat("\nElapsed Time (ms): %s", dlg.m_strElapsedMs.GetString());
    report.AppendFormat("\nNumber of Samples: %s", dlg.m_strSamples.GetString());
    return report;
}

} // namespace

bool CQuorvexCommandLine::MeasureTarget()
{
    CQuorvexDlg dlg(nullptr);
    dlg.m_bGuiMode = FALSE;
    const CString& sampling = m_options[OPT_SAMPLING].m_strValue;
    dlg.m_strSamplingRate = sampling.IsEmpty() ? CString("100") : sampling;
    dlg.m_strDuration = "30";
    std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", InstanceName(m_strTargetName.str()).c_str());
    m_strTargetPath = ProgramFolder() + m_strTargetName;
    dlg.m_strAppPath = m_strTargetPath;
    dlg.m_strAppParams = m_strTargetParams;
    dlg.m_bRunning = dlg.m_bCancel = dlg.m_bManualCapture = dlg.m_bCapturing = dlg.m_bCaptureStopped = FALSE;
    dlg.CollectData();

    const CString report = ApplicationReport(*this, dlg);
    std::fputs(report, stdout);
    if (m_stream)
        std::fputs(report, m_stream);
    // The engine fills the figures only from enough samples of a run that went through.
    return !dlg.m_strCpuAvg.IsEmpty();
}

int CQuorvexCommandLine::RunConsole()
{
    std::fputs("Quorvex 1.0\n\n", stdout);
    const bool accepted = ParseOptions();
    // A refused command line leaves a file it names as it was.
    if (accepted && m_options[OPT_LOG].m_bSet)
        m_stream = OpenConsoleLog(m_options[OPT_LOG].m_strValue);
    bool logFailed = accepted && m_options[OPT_LOG].m_bSet && !m_stream;

    bool figuresMissing = m_options[OPT_APP].m_bSet;
    if (PrintSystemReport(m_stream)) {
        if (m_options[OPT_APP].m_bSet)
            figuresMissing = !MeasureTarget();
        std::fputs("\n\nPress Enter key to exit... ", stdout);
        std::fflush(stdout);
        WaitForEnter();
    }

    if (m_stream) {
        logFailed = !CloseConsoleLog(m_stream, m_options[OPT_LOG].m_strValue);
        m_stream = nullptr;
    }
    if (!accepted)
        return 2;
    return figuresMissing || logFailed ? 1 : 0;
}
