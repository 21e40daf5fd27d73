// Starting the target and ending it with the elapsed time of the run.

#include "Process.h"
#include "QuorvexDlg.h"
#include "RunNotices.h"
#include "RunSettings.h"
#include "Timing.h"

#include <vector>

BOOL CQuorvexDlg::StartTarget(PROCESS_INFORMATION* pi)
{
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    if (m_bGuiMode)
        m_editAppParams.GetWindowText(m_strAppParams);
    // The path goes unquoted, and the blank is there even without parameters.
    const CString commandLine = m_strAppPath + " " + m_strAppParams;
    std::vector<char> writable(commandLine.GetString(), commandLine.GetString() + commandLine.GetLength() + 1);
    if (CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo, pi))
        return TRUE;
    MessageBox("Error starting The process !!!", "Error", MB_OK);
    return FALSE;
}

namespace {

CString Milliseconds(ULONGLONG ms)
{
    CString text;
    text.Format("%u", static_cast<unsigned>(ms));
    return text;
}

ULONGLONG MillisecondsBetween(const FILETIME& from, const FILETIME& to)
{
    return (FileTimeValue(to) - FileTimeValue(from)) / 10000;
}

} // namespace

void NoticeTargetEnd(const char* processName, const PROCESS_INFORMATION& target, bool beforeFirstSample)
{
    DWORD exitCode;
    FILETIME creation, exit, kernel, user;
    if (!target.hProcess || !GetExitCodeProcess(target.hProcess, &exitCode) || exitCode == STILL_ACTIVE ||
        !GetProcessTimes(target.hProcess, &creation, &exit, &kernel, &user))
        return;
    const TargetEnd end = {ProcessEndSignal(target.hProcess), exitCode, MillisecondsBetween(creation, exit),
                           beforeFirstSample};
    WriteNotice(TargetEndNotice(processName, end));
}

BOOL CQuorvexDlg::StopTarget(PROCESS_INFORMATION pi, int bDurationElapsed, ULONGLONG ullCaptureMs)
{
    bool showElapsed = true;
    if (bDurationElapsed) {
        m_strElapsedMs = Milliseconds(static_cast<ULONGLONG>(LeadingNumber(m_strDuration)) * 1000);
    } else if (m_bCancel && m_bGuiMode) {
        m_strElapsedMs = "0";
        m_editElapsed.SetWindowText(" ");
        showElapsed = false;
    } else if (m_bCaptureStopped) {
        m_strElapsedMs = Milliseconds(ullCaptureMs);
    } else {
        FILETIME creation, exit, kernel, user;
        if (!GetProcessTimes(pi.hProcess, &creation, &exit, &kernel, &user)) {
            MessageBox("Cannot get elapsed time!!!", "Error", MB_OK);
            return FALSE;
        }
        // A target that still runs (the run ended for another reason) has
        // run until now.
        if (FileTimeValue(exit) == 0)
            GetSystemTimeAsFileTime(&exit);
        m_strElapsedMs = Milliseconds(MillisecondsBetween(creation, exit));
    }
    if (showElapsed && m_bGuiMode)
        m_editElapsed.SetWindowText(m_strElapsedMs);
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return TRUE;
}
