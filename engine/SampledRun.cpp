// One whole measurement: the probe, the sampling of the target's counters,
// the data log and the statistics.

#include "SampledRun.h"

#include "DataLog.h"
#include "LogFile.h"
#include "RunNotices.h"
#include "RunStatistics.h"
#include "RunQuery.h"
#include "RunTarget.h"
#include "ThreadProbe.h"
#include "Timing.h"

#include <algorithm>
#include <array>

namespace {

CString StatusTitle(PDH_STATUS status)
{
    CString title;
    title.Format("%d", status);
    return title;
}

// The run's counters: the process's two, then a pair per watched thread.
struct RunCounters {
    PDH_HCOUNTER processCpu = nullptr;
    PDH_HCOUNTER threadCount = nullptr;
    std::array<PDH_HCOUNTER, MAX_WATCHED_THREADS> threadCpu{};
    std::array<PDH_HCOUNTER, MAX_WATCHED_THREADS> threadState{};
    int watchedThreads = 0;
};

class SamplingRun {
public:
    SamplingRun(const RunSettings& settings, RunObserver& observer, CounterService& counters)
        : m_settings(settings), m_observer(observer), m_counters(counters), m_query(counters)
    {
    }

    RunResult Run()
    {
        if (!AddProcessCounters())
            return EndRun();
        double maxThreads = 1.0;
        if (!ThreadProbe(m_settings, m_observer, m_counters).Run(maxThreads)) {
            m_observer.ShowBox("Cannot get Total number of threads", "Error");
            return Abandon();
        }
        if (!AddThreadCounters(maxThreads))
            return Abandon();
        const CString header = DataLogHeader(m_handles.watchedThreads);
        m_observer.ShowBox("Make sure the application is terminated COMPLETELY\nbefore continue!", "IMPORTANT!!!");
        if (m_observer.Controls().cancel || !StartAndSettle() || !OpenLogs(header))
            return EndRun();
        if (m_observer.Controls().manualCapture)
            m_observer.WaitForCaptureWindow();
        m_captureStartNs = MonotonicNowNs();
        if (!m_observer.Controls().cancel)
            Sample();
        return EndRun();
    }

private:
    bool LoggingOn() { return m_observer.Controls().logging; }

    bool FailWithStatus(const char* text)
    {
        m_observer.ShowBox(text, StatusTitle(m_result.status));
        return false;
    }

    bool AddProcessCounters()
    {
        m_result.status = m_query.Open();
        if (m_result.status != ERROR_SUCCESS)
            return FailWithStatus("Open Query failed!!!");
        CString path;
        path.Format("\\Process(%s)\\%s", m_settings.processName.c_str(), "% Processor Time");
        m_result.status = m_query.Add(path, m_handles.processCpu);
        if (m_result.status != ERROR_SUCCESS)
            return FailWithStatus("Add counter failed!!!");
        path.Format("\\%s(%s)\\%s", "Process", m_settings.processName.c_str(), "Thread Count");
        m_result.status = m_query.Add(path, m_handles.threadCount);
        if (m_result.status != ERROR_SUCCESS)
            return FailWithStatus("Add counter failed!!!");
        return true;
    }

    bool AddThreadCounter(int thread, const char* counter, PDH_HCOUNTER& handle)
    {
        CString path;
        path.Format("\\%s(%s/%d)\\%s", "Thread", m_settings.processName.c_str(), thread, counter);
        return m_query.Add(path, handle) == ERROR_SUCCESS;
    }

    bool FailToAddThreadCounter(const char* text)
    {
        m_observer.ShowBox(text, "Collect Data");
        return false;
    }

    bool AddThreadCounters(double maxThreads)
    {
        // A count beyond the slots need not fit an int: the first thread without a slot fails.
        const int watchedThreads = static_cast<int>(std::min(maxThreads, double{MAX_WATCHED_THREADS + 1}));
        for (int i = 0; i < watchedThreads; ++i) {
            if (i >= MAX_WATCHED_THREADS) {
                FailToAddThreadCounter("Cannot add thread counter !!!");
                WriteNotice(TooManyThreadsNotice(m_settings.processName.c_str(), maxThreads));
                return false;
            }
            if (!AddThreadCounter(i, "% Processor Time", m_handles.threadCpu[i]))
                return FailToAddThreadCounter("Cannot add thread counter !!!");
            if (!AddThreadCounter(i, "Thread State", m_handles.threadState[i]))
                return FailToAddThreadCounter("Cannot add thread status counter !!!");
        }
        m_handles.watchedThreads = watchedThreads;
        return true;
    }

    bool StartAndSettle()
    {
        if (!StartTarget(m_target, m_settings, m_observer, m_query, m_result.status))
            return FailWithStatus("PdhCollectQueryData failed!!!");
        GetLocalTime(&m_logTime);
        return true;
    }

    bool OpenLogs(const CString& header)
    {
        if (!LoggingOn())
            return true;
        const char* const collectData = "Collect data";
        const RunLogsCreated created =
            CreateRunLogs(m_dataLog, m_summaryLog, m_settings.logFolder.c_str(), m_logTime);
        if (created == RunLogsCreated::NoDataLog) {
            m_observer.ShowBox("Open log file failed!", collectData);
            return false;
        }
        m_dataLog.Write(CString(DATA_LOG_HEAD) + header);
        if (created == RunLogsCreated::NoSummaryLog) {
            m_observer.ShowBox("Open summary log file failed!", collectData);
            return false;
        }
        m_summaryLog.Write(SummaryLogHead(m_settings.appPath.c_str()));
        return true;
    }

    void Sample()
    {
        const std::uint64_t endNs = m_captureStartNs + Nanoseconds(m_settings.duration);
        SampleSchedule schedule(m_captureStartNs, m_settings.interval);
        while (!m_timeUp && !m_observer.Controls().captureStopped) {
            const std::uint64_t instantNs = schedule.Next();
            SYSTEMTIME stamp;
            GetLocalTime(&stamp);
            m_result.status = m_query.Collect(instantNs);
            if (m_result.status == PDH_NO_DATA)
                break;
            // The record is formatted only for a log that takes it (logging may
            // be switched off during the run): at 1 ms with 200 threads its
            // formatting is most of a sample's work.
            const bool logging = LoggingOn() && m_dataLog.IsOpen();
            CString record;
            if (logging)
                record = DataLogRecord(stamp);
            CString* const logRecord = logging ? &record : nullptr;
            if (!ReadProcessValues(logRecord))
                break;
            ReadThreadValues(logRecord);
            m_result.status = ERROR_SUCCESS;
            if (logging)
                m_dataLog.Write(record);
            m_run.EndSample();
            m_lastSampleNs = MonotonicNowNs();
            m_timeUp = instantNs >= endNs;
            m_observer.SampleTaken(m_run.samples);
            if (m_observer.Controls().cancel)
                break;
        }
    }

    bool ReadProcessValue(PDH_HCOUNTER counter, const char* title, double& value)
    {
        if (ReadValue(m_counters, counter, value))
            return true;
        if (m_run.samples < MINIMUM_SAMPLES)
            m_observer.ShowBox("Get Format Value failed!!!", title);
        return false;
    }

    bool ReadProcessValues(CString* record)
    {
        double cpu, threads;
        if (!ReadProcessValue(m_handles.processCpu, "Collect data - %Processor Time", cpu))
            return false;
        if (record)
            AppendProcessCpu(*record, cpu);
        m_run.AddProcessCpu(cpu);
        if (!ReadProcessValue(m_handles.threadCount, "Collect data - Thread Count", threads))
            return false;
        m_run.AddThreadCount(threads);
        return true;
    }

    // A thread that cannot be read is logged with 0 and never counts as running.
    void ReadThreadValues(CString* record)
    {
        int running = 0;
        for (int j = 0; j < m_handles.watchedThreads; ++j) {
            double value;
            const int state = ReadValue(m_counters, m_handles.threadState[j], value) ? static_cast<int>(value) : 0;
            if (state == THREAD_STATE_RUNNING) {
                m_run.AddThreadRunning(j);
                ++running;
            }
            double cpu = 0;
            if (ReadValue(m_counters, m_handles.threadCpu[j], cpu))
                m_run.AddThreadCpu(j, cpu);
            if (record)
                AppendThread(*record, cpu, state);
        }
        m_run.AddConcurrency(running);
    }

    // How the run ended and what it lasted: the duration when it elapsed,
    // the capture window when the user closed it, else the target's life.
    void EndTarget()
    {
        const RunControls controls = m_observer.Controls();
        if (m_timeUp) {
            m_result.end = RunEnd::DurationElapsed;
            m_result.elapsedMs = static_cast<std::uint32_t>(m_settings.duration.count() * 1000);
        } else if (controls.cancel) {
            m_result.end = RunEnd::Cancelled;
            m_result.elapsedMs = 0;
        } else if (controls.captureStopped) {
            m_result.end = RunEnd::CaptureStopped;
            const bool sampled = controls.manualCapture && m_run.samples > 0;
            m_result.elapsedMs = static_cast<std::uint32_t>(sampled ? (m_lastSampleNs - m_captureStartNs) / 1000000 : 0);
        } else if (const std::optional<std::uint64_t> lifetime = m_target.LifetimeMs()) {
            m_result.elapsedMs = static_cast<std::uint32_t>(*lifetime);
        } else {
            // Nothing was started: the target keeps its (absent) state.
            m_observer.ShowBox("Cannot get elapsed time!!!", "Error");
            return;
        }
        m_target.End();
    }

    RunResult EndRun()
    {
        NoticeTargetEnd(m_settings.processName.c_str(), m_target.Process(), m_run.samples == 0);
        EndTarget();
        m_result.samples = m_run.samples;
        if (m_run.samples >= MINIMUM_SAMPLES) {
            m_result.statistics = ComputeStatistics(m_run, m_handles.watchedThreads);
            if (!m_observer.Controls().cancel && LoggingOn() && m_dataLog.IsOpen() && m_summaryLog.IsOpen())
                WriteSummaries(*m_result.statistics);
        }
        CloseLogs();
        return m_result;
    }

    // After the probe failed or a thread counter could not be added: the
    // probe has ended its target and the second one was never started.
    RunResult Abandon()
    {
        m_result.end = RunEnd::Abandoned;
        m_result.status = ERROR_SUCCESS;
        return m_result;
    }

    void WriteSummaries(const RunStatistics& statistics)
    {
        const unsigned elapsedMs = m_result.elapsedMs.value_or(0);
        const SummaryRun run = {m_settings.appPath.c_str(), m_target.Arguments().c_str(),
                                static_cast<int>(m_settings.interval.count()), elapsedMs};
        m_dataLog.Write(SummaryBlock(m_settings.machine, run, statistics));
        m_summaryLog.Write(SummaryLogLine(m_settings.machine, elapsedMs, statistics));
    }

    // A log that lost data must not pass for complete.
    void CloseLogs()
    {
        const bool dataComplete = m_dataLog.Close();
        const bool summaryComplete = m_summaryLog.Close();
        if (!dataComplete || !summaryComplete)
            m_observer.ShowBox("Write log file failed!", "Collect data");
    }

    const RunSettings& m_settings;
    RunObserver& m_observer;
    CounterService& m_counters;
    Query m_query;
    RunCounters m_handles;
    RunTarget m_target;
    RunAccumulators m_run;
    RunResult m_result;
    std::uint64_t m_captureStartNs = 0;
    std::uint64_t m_lastSampleNs = 0;
    bool m_timeUp = false;
    SYSTEMTIME m_logTime = {};
    LogFile m_dataLog;
    LogFile m_summaryLog;
};

} // namespace

RunResult RunSampled(const RunSettings& settings, RunObserver& observer, CounterService& counters)
{
    return SamplingRun(settings, observer, counters).Run();
}
