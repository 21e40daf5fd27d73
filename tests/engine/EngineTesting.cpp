#include "EngineTesting.h"

#include "MessageBox.h"
#include "Pdh.h"
#include "ProcFiles.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

void PrintTo(const Box& box, std::ostream* os)
{
    *os << "[" << box.caption << "] " << box.text;
}

RecordedBoxes::RecordedBoxes()
{
    SetMessageBoxHook([this](HWND, const char* text, const char* caption, UINT) {
        boxes.push_back({text, caption});
        return IDOK;
    });
}

RecordedBoxes::~RecordedBoxes()
{
    SetMessageBoxHook(nullptr);
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

RecordedNotices::RecordedNotices() : m_service([this](const std::string& line) { lines.push_back(line); })
{
    SetCounterService(&m_service);
}

RecordedNotices::~RecordedNotices()
{
    SetCounterService(nullptr);
}

ForcedProc::ForcedProc()
{
    setenv("QUORVEX_THREAD_STATES", "proc", 1);
}

ForcedProc::~ForcedProc()
{
    unsetenv("QUORVEX_THREAD_STATES");
}
