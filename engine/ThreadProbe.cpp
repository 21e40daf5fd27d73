#include "ThreadProbe.h"

#include "RunNotices.h"
#include "RunStatistics.h"
#include "Timing.h"

#include <algorithm>

ThreadProbe::ThreadProbe(const RunSettings& settings, RunObserver& observer, CounterService& counters)
    : m_settings(settings), m_observer(observer), m_counters(counters), m_query(counters)
{
}

bool ThreadProbe::Run(double& maxThreads)
{
    if (!StartWatching())
        return Finish();
    if (m_observer.Controls().manualCapture && !m_observer.Controls().capturing)
        m_observer.WaitForCaptureWindow();
    if (!m_observer.Controls().cancel)
        Sample(MonotonicNowNs(), maxThreads);
    if (m_samples < MINIMUM_SAMPLES) {
        CString text;
        text.Format("Need to collect at least %3d", MINIMUM_SAMPLES);
        m_observer.ShowBox(text, "Get Max Thread");
    }
    return Finish();
}

bool ThreadProbe::Fail(const char* text)
{
    m_observer.ShowBox(text, "Get Max Thread Error");
    m_ok = false;
    return false;
}

bool ThreadProbe::StartWatching()
{
    if (m_query.Open() != ERROR_SUCCESS)
        return Fail("Cannot open query !!!");
    CString path;
    path.Format("\\Process(%s)\\%s", m_settings.processName.c_str(), "Thread Count");
    if (m_query.Add(path, m_threadCount) != ERROR_SUCCESS)
        return Fail("Cannot add counter !!!");
    PDH_STATUS status;
    if (!StartTarget(m_target, m_settings, m_observer, m_query, status))
        return Fail("Cannot query data !!!");
    return true;
}

void ThreadProbe::Sample(std::uint64_t startNs, double& maxThreads)
{
    const std::uint64_t endNs = startNs + Nanoseconds(m_settings.duration);
    SampleSchedule schedule(startNs, m_settings.interval);
    bool timeUp = false;
    while (!timeUp && !m_observer.Controls().captureStopped) {
        const std::uint64_t instantNs = schedule.Next();
        if (m_query.Collect(instantNs) == PDH_NO_DATA)
            return;
        double threads;
        if (!ReadValue(m_counters, m_threadCount, threads)) {
            if (m_samples < MINIMUM_SAMPLES)
                Fail("Sample Counter is less than MINIMUM_SAMPLES!!!");
            return;
        }
        maxThreads = std::max(maxThreads, threads);
        ++m_samples;
        timeUp = instantNs >= endNs;
        m_observer.SampleTaken(m_samples);
        if (m_observer.Controls().cancel)
            return;
    }
}

bool ThreadProbe::Finish()
{
    if (m_observer.Controls().capturing)
        m_observer.CloseProbeCaptureWindow();
    // A probe that failed ends the run: say how its target ended. One
    // that went through leaves that to the measured instance.
    if (!m_ok)
        NoticeTargetEnd(m_settings.processName.c_str(), m_target.Process(), m_samples == 0);
    return m_ok;
}
