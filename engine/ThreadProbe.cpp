// The probe run that finds how many threads the target uses, so that the
// sampling run can set up one counter pair per thread before it starts.

#include "CounterReading.h"
#include "GuiSession.h"
#include "Process.h"
#include "QuorvexDlg.h"
#include "RunNotices.h"
#include "RunStatistics.h"

void CQuorvexDlg::PumpWaitingMessages()
{
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE))
        AfxPumpMessage();
}

// The flags change only inside a dispatch, so blocking until an event has
// been dispatched sees every change that polling would, without keeping a
// processor busy next to the target being measured.
void CQuorvexDlg::WaitForCaptureWindow()
{
    while (!m_bCapturing && !m_bCancel)
        WaitMessage();
}

namespace {

constexpr char kErrorTitle[] = "Get Max Thread Error";

class ThreadProbe {
public:
    ThreadProbe(CQuorvexDlg& dialog, PROCESS_INFORMATION& target) : m_dialog(dialog), m_target(target) {}

    int Run(LONGLONG durationTicks, int intervalMs, double& maxThreads)
    {
        if (!StartWatching())
            return Finish();
        if (m_dialog.m_bManualCapture && !m_dialog.m_bCapturing)
            m_dialog.WaitForCaptureWindow();
        const ULONGLONG endTick = Ticks() + static_cast<ULONGLONG>(durationTicks);
        if (!m_dialog.m_bCancel)
            Sample(endTick, intervalMs, maxThreads);
        if (m_samples < MINIMUM_SAMPLES) {
            CString text;
            text.Format("Need to collect at least %3d", MINIMUM_SAMPLES);
            m_dialog.MessageBox(text, "Get Max Thread", MB_OK);
        }
        return Finish();
    }

private:
    bool Fail(const char* text)
    {
        m_dialog.MessageBox(text, kErrorTitle, MB_OK);
        m_result = 0;
        return false;
    }

    // Opens the query, starts the target and gives the counter its base.
    bool StartWatching()
    {
        if (PdhOpenQueryA(nullptr, 0, &m_query) != ERROR_SUCCESS) {
            m_query = nullptr;
            return Fail("Cannot open query !!!");
        }
        CString path;
        path.Format("\\Process(%s)\\%s", m_dialog.m_szProcessName, "Thread Count");
        if (PdhAddCounterA(m_query, path, 0, &m_threadCount) != ERROR_SUCCESS)
            return Fail("Cannot add counter !!!");
        m_target = {};
        m_dialog.StartTarget(&m_target);
        PdhBindQueryToProcess(m_query, m_target.hProcess);
        if (PdhCollectQueryDataAt(m_query, SleepInterval(1000)) != ERROR_SUCCESS)
            return Fail("Cannot query data !!!");
        return true;
    }

    void Sample(ULONGLONG endTick, int intervalMs, double& maxThreads)
    {
        bool timeUp = false;
        while (!timeUp && !m_dialog.m_bCaptureStopped) {
            if (PdhCollectQueryDataAt(m_query, SleepInterval(static_cast<DWORD>(intervalMs))) == PDH_NO_DATA)
                return;
            double threads;
            if (!ReadCounterValue(m_threadCount, threads)) {
                if (m_samples < MINIMUM_SAMPLES)
                    Fail("Sample Counter is less than MINIMUM_SAMPLES!!!");
                return;
            }
            if (threads > maxThreads)
                maxThreads = threads;
            ++m_samples;
            timeUp = Ticks() >= endTick;
            m_dialog.PumpWaitingMessages();
            if (m_dialog.m_bCancel)
                return;
        }
    }

    // Closes the probe's capture window, its query and its instance of the target.
    int Finish()
    {
        if (m_dialog.m_bCapturing && m_dialog.m_bGuiMode)
            m_dialog.OnBnClickedStopCapture();
        if (m_query)
            PdhCloseQuery(m_query);
        // A probe that failed ends the run: say how its target ended. One
        // that went through leaves that to the measured instance.
        if (m_result == 0)
            NoticeTargetEnd(m_dialog.m_szProcessName, m_target, m_samples == 0);
        if (m_target.hProcess) {
            TerminateProcess(m_target.hProcess, 0);
            CloseHandle(m_target.hThread);
            CloseHandle(m_target.hProcess);
        }
        return m_result;
    }

    CQuorvexDlg& m_dialog;
    PROCESS_INFORMATION& m_target;
    PDH_HQUERY m_query = nullptr;
    PDH_HCOUNTER m_threadCount = nullptr;
    int m_result = 1;
    int m_samples = 0;
};

} // namespace

int CQuorvexDlg::GetMaxThread(PROCESS_INFORMATION* pi, LONGLONG llDurationTicks, int nIntervalMs,
                              double* pdMaxThreads)
{
    return ThreadProbe(*this, *pi).Run(llDurationTicks, nIntervalMs, *pdMaxThreads);
}
