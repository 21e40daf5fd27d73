#pragma once
// The main dialog: the window of dialog mode, with the settings, the
// run-control flags and the results of its measurements as its members. Its
// runs are the engine's (RunSampled); the dialog answers their questions and
// shows what they found.

#include "Dialog.h"
#include "Pdh.h"
#include "Resource.h"

#include <filesystem>
#include <memory>

class CpuPlatform;
struct RunResult;
struct RunStatistics;

class CQuorvexDlg : public CDialog {
public:
    // The runs read the counters of the given service; without one, of a
    // kernel counter service of the dialog's own. The dialog's boxes, and its
    // About box's, go to boxes.
    explicit CQuorvexDlg(CWnd* pParent = nullptr, CounterService* counters = nullptr,
                         MessageBoxes& boxes = RealMessageBoxes());
    ~CQuorvexDlg() override;

    enum { IDD = IDD_QUORVEX_DIALOG };

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter, Escape and the close box also stop a run in progress.
    void OnOK() override;
    void OnCancel() override;

    // Window chrome and the About box.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    // The target chooser.
    void OnBnClickedGetAppName();

    // Run and capture controls.
    void OnBnClickedStart();
    void OnBnClickedCancel();
    void OnBnClickedExit();
    void OnBnClickedStartCapture();
    void OnBnClickedStopCapture();
    void OnBnClickedCoreMode();
    void OnCbnSelchangeSamplingRate();
    void OnCbnSelchangeDuration();
    void OnCbnSelchangeGenerateLog();
    void OnCbnSelchangeManualCapture();

    // One measurement with the settings in the members; its results go to
    // the members and, unless cancelled, to the controls.
    int CollectData();
    void PumpWaitingMessages();
    // Dispatches messages until START CAPTURE opens the capture window or the
    // run is cancelled.
    void WaitForCaptureWindow();

    HICON m_hIcon;
    int m_bGuiMode;
    CString m_strSockets, m_strCores, m_strLogicals;
    CEdit m_editSockets, m_editCores, m_editLogicals;
    CString m_strMultiProcessor;
    CEdit m_editMultiProcessor;
    CEdit m_editMultiCore;
    CString m_strMultiCore;
    CEdit m_editSmt;
    CString m_strSmt;
    CButton m_btnCoreMode;
    int m_nCoreMode;
    CEdit m_editAppPath;
    CString m_strAppPath;
    char m_szProcessName[1024] = {};
    char m_szLogFolder[2048] = {};
    CEdit m_editAppParams;
    CString m_strAppParams;
    CComboBox m_comboSamplingRate;
    CString m_strSamplingRate;
    CEdit m_editCpuMin;
    CString m_strCpuMin;
    CEdit m_editCpuAvg;
    CString m_strCpuAvg;
    CEdit m_editCpuMax;
    CString m_strCpuMax;
    CEdit m_editThreadsMin;
    CString m_strThreadsMin;
    CEdit m_editThreadsAvg;
    CString m_strThreadsAvg;
    CEdit m_editThreadsMax;
    CString m_strThreadsMax;
    CEdit m_editElapsed;
    CString m_strElapsedMs;
    CEdit m_editProcessorInfo;
    CString m_strProcessorInfo;
    CEdit m_editFrequency;
    CString m_strFrequency;
    CEdit m_editL2Cache;
    CString m_strL2Cache;
    // Run-control flags; dialog initialisation and the console run set them
    // before use (they start cleared all the same).
    int m_bRunning = 0;
    int m_bCancel = 0;
    int m_bManualCapture = 0;
    int m_bCapturing = 0;
    int m_bCaptureStopped = 0;
    CButton m_btnStart, m_btnCancel, m_btnStartCapture, m_btnStopCapture;
    CEdit m_editSamples;
    CString m_strSamples;
    CComboBox m_comboDuration;
    CString m_strDuration;
    CEdit m_editParallelTime;
    CString m_strParallelTime;
    CComboBox m_comboThreadTable;
    CString m_strThreadTable;
    CComboBox m_comboConcurrency;
    CString m_strConcurrency;
    CComboBox m_comboGenerateLog;
    CString m_strGenerateLog;
    CComboBox m_comboManualCapture;
    CString m_strManualCapture;

    // The machine the processor fields describe: this one, unless a test
    // sets a simulated one (its processors, the root of its files) before
    // the dialog opens.
    CpuPlatform* m_pMachineCpu = nullptr;
    std::filesystem::path m_machineRoot = "/";

    DECLARE_MESSAGE_MAP()

private:
    // From START until its CollectData returns, whatever the flags say.
    bool m_bRunInProgress = false;
    std::unique_ptr<CounterService> m_ownCounters;
    CounterService& m_counters;

    void ShowResults(const RunResult& result);
    void ShowFigures(const RunStatistics& statistics, bool shown);

    // The processor fields, filled once when the dialog opens.
    BOOL ShowTopology();
    void ShowProcessorIdentity();
    void StopRunBeforeClosing();
};
