// One whole measurement: the probe, the sampling of the target's counters,
// the data log and the statistics.

#include "CounterReading.h"
#include "DataLog.h"
#include "LogFile.h"
#include "Process.h"
#include "QuorvexDlg.h"
#include "RunNotices.h"
#include "RunSettings.h"
#include "RunStatistics.h"
#include "SummaryLog.h"

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
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER processCpu = nullptr;
    PDH_HCOUNTER threadCount = nullptr;
    std::array<PDH_HCOUNTER, MAX_WATCHED_THREADS> threadCpu{};
    std::array<PDH_HCOUNTER, MAX_WATCHED_THREADS> threadState{};
    int watchedThreads = 0;
};

class SamplingRun {
public:
    explicit SamplingRun(CQuorvexDlg& dialog) : m_dialog(dialog) {}

    int Run()
    {
        const int intervalMs = LeadingNumber(m_dialog.m_strSamplingRate);
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        m_frequency = static_cast<ULONGLONG>(frequency.QuadPart);
        const LONGLONG durationTicks = LONGLONG{LeadingNumber(m_dialog.m_strDuration)} * frequency.QuadPart;
        if (!AddProcessCounters())
            return EndRun();
        double maxThreads = 1.0;
        if (!m_dialog.GetMaxThread(&m_target, durationTicks, intervalMs, &maxThreads)) {
            m_dialog.MessageBox("Cannot get Total number of threads", "Error", MB_OK);
            return Abandon();
        }
        if (!AddThreadCounters(maxThreads))
            return Abandon();
        const CString header = DataLogHeader(m_counters.watchedThreads);
        m_dialog.MessageBox("Make sure the application is terminated COMPLETELY\nbefore continue!", "IMPORTANT!!!",
                            MB_OK);
        m_target = {};
        if (m_dialog.m_bCancel || !StartAndSettle() || !OpenLogs(header))
            return EndRun();
        if (m_dialog.m_bManualCapture)
            m_dialog.WaitForCaptureWindow();
        m_captureStart = Ticks();
        if (!m_dialog.m_bCancel)
            Sample(intervalMs, m_captureStart + static_cast<ULONGLONG>(durationTicks));
        return EndRun();
    }

private:
    bool LoggingOn() const { return m_dialog.m_strGenerateLog == "Yes"; }

    bool FailWithStatus(const char* text)
    {
        m_dialog.MessageBox(text, StatusTitle(m_status), MB_OK);
        return false;
    }

    bool AddProcessCounters()
    {
        m_status = PdhOpenQueryA(nullptr, 0, &m_counters.query);
        if (m_status != ERROR_SUCCESS) {
            m_counters.query = nullptr;
            return FailWithStatus("Open Query failed!!!");
        }
        CString path;
        path.Format("\\Process(%s)\\%s", m_dialog.m_szProcessName, "% Processor Time");
        m_status = PdhAddCounterA(m_counters.query, path, 0, &m_counters.processCpu);
        if (m_status != ERROR_SUCCESS)
            return FailWithStatus("Add counter failed!!!");
        path.Format("\\%s(%s)\\%s", "Process", m_dialog.m_szProcessName, "Thread Count");
        m_status = PdhAddCounterA(m_counters.query, path, 0, &m_counters.threadCount);
        if (m_status != ERROR_SUCCESS)
            return FailWithStatus("Add counter failed!!!");
        return true;
    }

    bool AddThreadCounter(int thread, const char* counter, PDH_HCOUNTER& handle)
    {
        CString path;
        path.Format("\\%s(%s/%d)\\%s", "Thread", m_dialog.m_szProcessName, thread, counter);
        return PdhAddCounterA(m_counters.query, path, 0, &handle) == ERROR_SUCCESS;
    }

    bool FailToAddThreadCounter(const char* text)
    {
        m_dialog.MessageBox(text, "Collect Data", MB_OK);
        return false;
    }

    bool AddThreadCounters(double maxThreads)
    {
        // A count beyond the slots need not fit an int: the first thread without a slot fails.
        const int watchedThreads = static_cast<int>(std::min(maxThreads, double{MAX_WATCHED_THREADS + 1}));
        for (int i = 0; i < watchedThreads; ++i) {
            // Counter slots are sized for MAX_WATCHED_THREADS threads.
            if (i >= MAX_WATCHED_THREADS) {
                FailToAddThreadCounter("Cannot add thread counter !!!");
                WriteNotice(TooManyThreadsNotice(m_dialog.m_szProcessName, maxThreads));
                return false;
            }
            if (!AddThreadCounter(i, "% Processor Time", m_counters.threadCpu[i]))
                return FailToAddThreadCounter("Cannot add thread counter !!!");
            if (!AddThreadCounter(i, "Thread State", m_counters.threadState[i]))
                return FailToAddThreadCounter("Cannot add thread status counter !!!");
        }
        m_counters.watchedThreads = watchedThreads;
        return true;
    }

    bool StartAndSettle()
    {
        m_dialog.StartTarget(&m_target);
        PdhBindQueryToProcess(m_counters.query, m_target.hProcess);
        m_status = PdhCollectQueryDataAt(m_counters.query, SleepInterval(1000));
        if (m_status != ERROR_SUCCESS)
            return FailWithStatus("PdhCollectQueryData failed!!!");
        GetLocalTime(&m_logTime);
        return true;
    }

    bool OpenLogs(const CString& header)
    {
        if (!LoggingOn())
            return true;
        const CString collectData = "Collect data";
        const RunLogsCreated created = CreateRunLogs(m_dataLog, m_summaryLog, m_dialog.m_szLogFolder, m_logTime);
        if (created == RunLogsCreated::NoDataLog) {
            m_dialog.MessageBox("Open log file failed!", collectData, MB_OK);
            return false;
        }
        m_dataLog.Write(CString(DATA_LOG_HEAD) + header);
        if (created == RunLogsCreated::NoSummaryLog) {
            m_dialog.MessageBox("Open summary log file failed!", collectData, MB_OK);
            return false;
        }
        m_summaryLog.Write(SummaryLogHead(m_dialog.m_strAppPath));
        return true;
    }

    void Sample(int intervalMs, ULONGLONG endTick)
    {
        while (!m_timeUp && !m_dialog.m_bCaptureStopped) {
            const LONGLONG instant = SleepInterval(static_cast<DWORD>(intervalMs));
            SYSTEMTIME stamp;
            GetLocalTime(&stamp);
            m_status = PdhCollectQueryDataAt(m_counters.query, instant);
            if (m_status == PDH_NO_DATA)
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
            m_status = ERROR_SUCCESS;
            if (logging)
                m_dataLog.Write(record);
            m_run.EndSample();
            m_lastSampleTick = Ticks();
            m_timeUp = m_lastSampleTick >= endTick;
            m_dialog.PumpWaitingMessages();
            if (m_dialog.m_bCancel)
                break;
        }
    }

    bool ReadProcessValue(PDH_HCOUNTER counter, const char* title, double& value)
    {
        if (ReadCounterValue(counter, value))
            return true;
        if (m_run.samples < MINIMUM_SAMPLES)
            m_dialog.MessageBox("Get Format Value failed!!!", title, MB_OK);
        return false;
    }

    bool ReadProcessValues(CString* record)
    {
        double cpu, threads;
        if (!ReadProcessValue(m_counters.processCpu, "Collect data - %Processor Time", cpu))
            return false;
        if (record)
            AppendProcessCpu(*record, cpu);
        m_run.AddProcessCpu(cpu);
        if (!ReadProcessValue(m_counters.threadCount, "Collect data - Thread Count", threads))
            return false;
        m_run.AddThreadCount(threads);
        return true;
    }

    // A thread that cannot be read is logged with 0 and never counts as running.
    void ReadThreadValues(CString* record)
    {
        int running = 0;
        for (int j = 0; j < m_counters.watchedThreads; ++j) {
            double value;
            const int state = ReadCounterValue(m_counters.threadState[j], value) ? static_cast<int>(value) : 0;
            if (state == THREAD_STATE_RUNNING) {
                m_run.AddThreadRunning(j);
                ++running;
            }
            double cpu = 0;
            if (ReadCounterValue(m_counters.threadCpu[j], cpu))
                m_run.AddThreadCpu(j, cpu);
            if (record)
                AppendThread(*record, cpu, state);
        }
        m_run.AddConcurrency(running);
    }

    ULONGLONG CaptureMs() const
    {
        if (!m_dialog.m_bManualCapture || m_run.samples == 0)
            return 0;
        return (m_lastSampleTick - m_captureStart) * 1000 / m_frequency;
    }

    int EndRun()
    {
        NoticeTargetEnd(m_dialog.m_szProcessName, m_target, m_run.samples == 0);
        m_dialog.StopTarget(m_target, m_timeUp, CaptureMs());
        if (m_counters.query)
            PdhCloseQuery(m_counters.query);
        if (m_run.samples >= MINIMUM_SAMPLES)
            Publish(ComputeStatistics(m_run, m_counters.watchedThreads));
        m_dialog.m_strSamples.Format("%8d", m_run.samples);
        if (m_dialog.m_bGuiMode) {
            m_dialog.m_editSamples.SetWindowText(m_dialog.m_strSamples);
            m_dialog.OnBnClickedCancel();
        }
        CloseLogs();
        return m_status;
    }

    // After the probe failed or a thread counter could not be added: the
    // probe has ended its target and the second one was never started. The
    // controls go back to idle all the same, as after any run.
    int Abandon()
    {
        PdhCloseQuery(m_counters.query);
        if (m_dialog.m_bGuiMode)
            m_dialog.OnBnClickedCancel();
        return 0;
    }

    void Publish(const RunStatistics& statistics);
    void ShowResults(const RunStatistics& statistics);
    void WriteSummaries(const RunStatistics& statistics);
    void CloseLogs();

    CQuorvexDlg& m_dialog;
    PROCESS_INFORMATION m_target = {};
    RunCounters m_counters;
    RunAccumulators m_run;
    PDH_STATUS m_status = ERROR_SUCCESS;
    ULONGLONG m_frequency = 1;
    ULONGLONG m_captureStart = 0;
    ULONGLONG m_lastSampleTick = 0;
    int m_timeUp = 0;
    SYSTEMTIME m_logTime = {};
    LogFile m_dataLog;
    LogFile m_summaryLog;
};

void SamplingRun::Publish(const RunStatistics& statistics)
{
    CQuorvexDlg& d = m_dialog;
    d.m_strCpuMin = statistics.cpuMin;
    d.m_strCpuMax = statistics.cpuMax;
    d.m_strCpuAvg = statistics.cpuAvg;
    d.m_strThreadsMin = statistics.threadsMin;
    d.m_strThreadsMax = statistics.threadsMax;
    d.m_strThreadsAvg = statistics.threadsAvg;
    d.m_strParallelTime = statistics.parallelTime;
    // A cancelled run and the console keep the results to the members.
    if (d.m_bCancel || !d.m_bGuiMode)
        return;
    ShowResults(statistics);
    if (LoggingOn() && m_dataLog.IsOpen() && m_summaryLog.IsOpen())
        WriteSummaries(statistics);
}

void SamplingRun::ShowResults(const RunStatistics& statistics)
{
    CQuorvexDlg& d = m_dialog;
    d.m_editCpuMin.SetWindowText(d.m_strCpuMin);
    d.m_editCpuMax.SetWindowText(d.m_strCpuMax);
    d.m_editCpuAvg.SetWindowText(d.m_strCpuAvg);
    d.m_editThreadsMin.SetWindowText(d.m_strThreadsMin);
    d.m_editThreadsMax.SetWindowText(d.m_strThreadsMax);
    d.m_editThreadsAvg.SetWindowText(d.m_strThreadsAvg);
    d.m_editParallelTime.SetWindowText(d.m_strParallelTime);
    d.m_comboThreadTable.ResetContent();
    for (size_t j = 0; j < statistics.threads.size(); ++j)
        d.m_comboThreadTable.AddString(ThreadRowText(static_cast<int>(j), statistics.threads[j]));
    if (!statistics.threads.empty()) {
        d.m_comboThreadTable.SetCurSel(0);
        d.m_strThreadTable = ThreadRowText(0, statistics.threads.front());
    }
    d.m_comboConcurrency.ResetContent();
    for (const LevelResult& level : statistics.levels)
        d.m_comboConcurrency.AddString(LevelRowText(level));
    if (!statistics.levels.empty()) {
        d.m_comboConcurrency.SetCurSel(0);
        d.m_strConcurrency = LevelRowText(statistics.levels.front());
    }
}

void SamplingRun::WriteSummaries(const RunStatistics& statistics)
{
    const CQuorvexDlg& d = m_dialog;
    const SummaryTexts texts = {.processorInfo = d.m_strProcessorInfo,
                                .frequency = d.m_strFrequency,
                                .sockets = d.m_strSockets,
                                .cores = d.m_strCores,
                                .logicals = d.m_strLogicals,
                                .multiProcessor = d.m_strMultiProcessor,
                                .multiCore = d.m_strMultiCore,
                                .smt = d.m_strSmt,
                                .appPath = d.m_strAppPath,
                                .appParams = d.m_strAppParams,
                                .samplingRate = d.m_strSamplingRate,
                                .elapsedMs = d.m_strElapsedMs,
                                .parallelTime = d.m_strParallelTime,
                                .cpuMin = d.m_strCpuMin,
                                .cpuAvg = d.m_strCpuAvg,
                                .cpuMax = d.m_strCpuMax};
    m_dataLog.Write(SummaryBlock(texts, statistics));
    m_summaryLog.Write(SummaryLogLine(d.m_strCores, d.m_strLogicals, d.m_strElapsedMs, d.m_strParallelTime));
}

// A log that lost data must not pass for complete.
void SamplingRun::CloseLogs()
{
    const bool dataComplete = m_dataLog.Close();
    const bool summaryComplete = m_summaryLog.Close();
    if (!dataComplete || !summaryComplete)
        m_dialog.MessageBox("Write log file failed!", "Collect data", MB_OK);
}

} // namespace

int CQuorvexDlg::CollectData()
{
    return SamplingRun(*this).Run();
}
