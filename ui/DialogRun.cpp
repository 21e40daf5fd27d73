// The dialog's side of a run: the settings from its members, the run's
// questions answered from its flags and controls, and the results shown.

#include "GuiSession.h"
#include "QuorvexDlg.h"
#include "RunStatistics.h"
#include "SampledRun.h"
#include "SettingText.h"

namespace {

class DialogObserver : public RunObserver {
public:
    explicit DialogObserver(CQuorvexDlg& dialog) : m_dialog(dialog) {}

    void ShowBox(const char* text, const char* title) override { m_dialog.MessageBox(text, title, MB_OK); }

    RunControls Controls() override
    {
        return {.cancel = m_dialog.m_bCancel != 0,
                .manualCapture = m_dialog.m_bManualCapture != 0,
                .capturing = m_dialog.m_bCapturing != 0,
                .captureStopped = m_dialog.m_bCaptureStopped != 0,
                .logging = m_dialog.m_strGenerateLog == "Yes"};
    }

    std::string TargetArguments() override
    {
        if (m_dialog.m_bGuiMode)
            m_dialog.m_editAppParams.GetWindowText(m_dialog.m_strAppParams);
        return m_dialog.m_strAppParams.str();
    }

    void SampleTaken(int) override { m_dialog.PumpWaitingMessages(); }
    void WaitForCaptureWindow() override { m_dialog.WaitForCaptureWindow(); }

    void CloseProbeCaptureWindow() override
    {
        if (m_dialog.m_bGuiMode)
            m_dialog.OnBnClickedStopCapture();
    }

private:
    CQuorvexDlg& m_dialog;
};

CString ThreadRowText(int thread, const ThreadResult& result)
{
    CString text;
    text.Format("%3d%22.2f%16.2f%16.2f%16.2f", thread, result.timePercent, result.utilMin, result.utilAvg,
                result.utilMax);
    return text;
}

CString LevelRowText(const LevelResult& result)
{
    CString text;
    text.Format("%3d               %9.2f", result.level, result.timePercent);
    return text;
}

} // namespace

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

int CQuorvexDlg::CollectData()
{
    const RunSettings settings = {
        .appPath = m_strAppPath.str(),
        .processName = m_szProcessName,
        .interval = std::chrono::milliseconds(LeadingNumber(m_strSamplingRate)),
        .duration = std::chrono::seconds(LeadingNumber(m_strDuration)),
        .logFolder = m_szLogFolder,
        .machine = {m_strProcessorInfo, m_strFrequency, m_strSockets, m_strCores, m_strLogicals, m_strMultiProcessor,
                    m_strMultiCore, m_strSmt}};
    DialogObserver observer(*this);
    const RunResult result = RunSampled(settings, observer, m_counters);
    ShowResults(result);
    return result.status;
}

// In the order the run ends: the elapsed time, the figures, the sample
// count, then the controls back to idle.
void CQuorvexDlg::ShowResults(const RunResult& result)
{
    if (result.end == RunEnd::Abandoned) {
        // The controls go back to idle all the same, as after any run.
        if (m_bGuiMode)
            OnBnClickedCancel();
        return;
    }
    if (result.elapsedMs) {
        m_strElapsedMs.Format("%u", *result.elapsedMs);
        if (m_bGuiMode)
            m_editElapsed.SetWindowText(result.end == RunEnd::Cancelled ? CString(" ") : m_strElapsedMs);
    }
    // A cancelled run keeps its figures to the members.
    if (result.statistics)
        ShowFigures(*result.statistics, result.end != RunEnd::Cancelled && m_bGuiMode);
    m_strSamples.Format("%8d", result.samples);
    if (m_bGuiMode) {
        m_editSamples.SetWindowText(m_strSamples);
        OnBnClickedCancel();
    }
}

// The figures into their members; into the fields and lists too when shown.
void CQuorvexDlg::ShowFigures(const RunStatistics& statistics, bool shown)
{
    m_strCpuMin = PercentText(statistics.cpuMin);
    m_strCpuMax = PercentText(statistics.cpuMax);
    m_strCpuAvg = PercentText(statistics.cpuAvg);
    m_strThreadsMin = ThreadCountText(statistics.threadsMin);
    m_strThreadsMax = ThreadCountText(statistics.threadsMax);
    m_strThreadsAvg = ThreadCountText(statistics.threadsAvg);
    m_strParallelTime = PercentText(statistics.parallelPercent);
    if (!shown)
        return;
    for (auto [edit, text] : {std::pair{&m_editCpuMin, &m_strCpuMin}, {&m_editCpuMax, &m_strCpuMax},
                              {&m_editCpuAvg, &m_strCpuAvg}, {&m_editThreadsMin, &m_strThreadsMin},
                              {&m_editThreadsMax, &m_strThreadsMax}, {&m_editThreadsAvg, &m_strThreadsAvg},
                              {&m_editParallelTime, &m_strParallelTime}})
        edit->SetWindowText(*text);
    m_comboThreadTable.ResetContent();
    for (size_t j = 0; j < statistics.threads.size(); ++j)
        m_comboThreadTable.AddString(ThreadRowText(static_cast<int>(j), statistics.threads[j]));
    if (!statistics.threads.empty()) {
        m_comboThreadTable.SetCurSel(0);
        m_strThreadTable = ThreadRowText(0, statistics.threads.front());
    }
    m_comboConcurrency.ResetContent();
    for (const LevelResult& level : statistics.levels)
        m_comboConcurrency.AddString(LevelRowText(level));
    if (!statistics.levels.empty()) {
        m_comboConcurrency.SetCurSel(0);
        m_strConcurrency = LevelRowText(statistics.levels.front());
    }
}
