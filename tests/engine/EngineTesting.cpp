#include "EngineTesting.h"

#include "ProcFiles.h"
#include "Process.h"

#include <cstdio>

std::vector<std::string> BoxTexts(const RecordedBoxes& recorded)
{
    std::vector<std::string> texts;
    for (const Box& box : recorded.boxes)
        texts.push_back("[" + box.caption + "] " + box.text);
    return texts;
}

void SetUpConsoleRun(CQuorvexDlg& dialog, const std::string& appPath, const std::string& params,
                     const std::string& samplingRate, const std::string& duration)
{
    dialog.m_bGuiMode = 0;
    dialog.m_strSamplingRate = samplingRate.c_str();
    dialog.m_strDuration = duration.c_str();
    const std::string name = InstanceName(appPath);
    std::snprintf(dialog.m_szProcessName, sizeof dialog.m_szProcessName, "%s", name.c_str());
    dialog.m_strAppPath = appPath.c_str();
    dialog.m_strAppParams = params.c_str();
    dialog.m_bRunning = dialog.m_bCancel = dialog.m_bManualCapture = dialog.m_bCapturing = dialog.m_bCaptureStopped = 0;
}

const std::string EXACT_NOTICE = "quorvex: thread states from the kernel's context-switch records";

std::string ProcNotice(const std::string& why)
{
    return "quorvex: thread states from /proc (" + why +
           "); concurrency may be overstated when the machine is oversubscribed";
}
