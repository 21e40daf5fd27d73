#include "QuorvexCommandLine.h"

#include "MessageBox.h"
#include "Module.h"
#include "QuorvexDlg.h"
#include "SystemReport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

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
    if (stream)
        std::fputs("Quorvex 1.0 Log\n", stream);
    return stream;
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

CString CQuorvexCommandLine::ProcessNameOf(const CString& targetName)
{
    const int separator = std::max(targetName.ReverseFind('\\'), targetName.ReverseFind('/'));
    CString name = targetName.Mid(separator + 1);
    // Only a trailing extension: a Linux process carries its file's whole name.
    if (name.GetLength() >= 4 && name.Mid(name.GetLength() - 4) == ".exe")
        name = name.Left(name.GetLength() - 4);
    return name;
}

void CQuorvexCommandLine::MeasureTarget()
{
    CQuorvexDlg dlg(nullptr);
    dlg.m_bGuiMode = FALSE;
    const CString& sampling = m_options[OPT_SAMPLING].m_strValue;
    dlg.m_strSamplingRate = sampling.IsEmpty() ? CString("100") : sampling;
    dlg.m_strDuration = "30";
    std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", ProcessNameOf(m_strTargetName).GetString());
    m_strTargetPath = ProgramFolder() + m_strTargetName;
    dlg.m_strAppPath = m_strTargetPath;
    dlg.m_strAppParams = m_strTargetParams;
    dlg.m_bRunning = dlg.m_bCancel = dlg.m_bManualCapture = dlg.m_bCapturing = dlg.m_bCaptureStopped = FALSE;
    dlg.CollectData();

    const CString report = ApplicationReport(*this, dlg);
    std::fputs(report, stdout);
    if (m_stream)
        std::fputs(report, m_stream);
}

void CQuorvexCommandLine::RunConsole()
{
    std::fputs("Quorvex 1.0\n\n", stdout);
    ParseOptions();
    if (m_options[OPT_LOG].m_bSet)
        m_stream = OpenConsoleLog(m_options[OPT_LOG].m_strValue);

    if (PrintSystemReport(m_stream)) {
        if (m_options[OPT_APP].m_bSet)
            MeasureTarget();
        std::fputs("\n\nPress Enter key to exit... ", stdout);
        std::fflush(stdout);
        std::getchar();
    }

    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
}
