#include "QuorvexDlg.h"

#include "Cpu.h"
#include "Module.h"
#include "ProcCounterService.h"
#include "ProcessorInfo.h"
#include "Resources.h"
#include "Topology.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <utility>

BEGIN_MESSAGE_MAP(CQuorvexDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_CORE_MODE, &CQuorvexDlg::OnBnClickedCoreMode)
    ON_BN_CLICKED(IDC_GET_APP_NAME, &CQuorvexDlg::OnBnClickedGetAppName)
    ON_CBN_SELCHANGE(IDC_COMBO_SAMPLING_RATE, &CQuorvexDlg::OnCbnSelchangeSamplingRate)
    ON_BN_CLICKED(IDC_START, &CQuorvexDlg::OnBnClickedStart)
    ON_BN_CLICKED(IDC_CANCEL, &CQuorvexDlg::OnBnClickedCancel)
    ON_BN_CLICKED(IDC_EXIT, &CQuorvexDlg::OnBnClickedExit)
    ON_CBN_SELCHANGE(IDC_COMBO_DURATION, &CQuorvexDlg::OnCbnSelchangeDuration)
    ON_CBN_SELCHANGE(IDC_COMBO_GENERATE_LOG, &CQuorvexDlg::OnCbnSelchangeGenerateLog)
    ON_BN_CLICKED(IDC_START_CAPTURE, &CQuorvexDlg::OnBnClickedStartCapture)
    ON_BN_CLICKED(IDC_STOP_CAPTURE, &CQuorvexDlg::OnBnClickedStopCapture)
    ON_CBN_SELCHANGE(IDC_COMBO_MANUAL_CAPTURE, &CQuorvexDlg::OnCbnSelchangeManualCapture)
END_MESSAGE_MAP()

namespace {

// Every 10 s up to 2 minutes, every minute up to 10, then 20 to 60 minutes
// and 2 to 20 hours.
constexpr const char* DURATIONS[] = {"10",   "20",   "30",   "40",   "50",    "60",    "70",    "80",
                                     "90",   "100",  "110",  "120",  "180",   "240",   "300",   "360",
                                     "420",  "480",  "540",  "600",  "1200",  "1800",  "2400",  "3000",
                                     "3600", "7200", "14400", "28800", "36000", "72000"};
constexpr const char* SAMPLING_RATES[] = {"10", "100", "1000"};
constexpr const char* NO_YES[] = {"No", "Yes"};

// Refills a setting list, selects its default and copies that into the
// setting's member.
void FillSettingList(CComboBox& combo, std::span<const char* const> items, int selected, CString& setting)
{
    combo.ResetContent();
    for (const char* item : items)
        combo.AddString(item);
    combo.SetCurSel(selected);
    combo.GetLBText(combo.GetCurSel(), setting);
}

void ExchangeEdit(CDataExchange* pDX, int nIDC, CEdit& edit, CString& text)
{
    DDX_Control(pDX, nIDC, edit);
    DDX_Text(pDX, nIDC, text);
}

void ExchangeList(CDataExchange* pDX, int nIDC, CComboBox& combo, CString& selection)
{
    DDX_Control(pDX, nIDC, combo);
    DDX_CBString(pDX, nIDC, selection);
}

} // namespace

CQuorvexDlg::CQuorvexDlg(CWnd* pParent, CounterService* counters, MessageBoxes& boxes)
    : CDialog(IDD, pParent, boxes), m_hIcon(AfxLoadIcon(IDR_MAINFRAME)), m_bGuiMode(1), m_nCoreMode(0),
      m_ownCounters(counters ? nullptr : std::make_unique<ProcCounterService>()),
      m_counters(counters ? *counters : *m_ownCounters)
{
}

CQuorvexDlg::~CQuorvexDlg() = default;

void CQuorvexDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    ExchangeEdit(pDX, IDC_EDIT_SOCKETS, m_editSockets, m_strSockets);
    ExchangeEdit(pDX, IDC_EDIT_CORES, m_editCores, m_strCores);
    ExchangeEdit(pDX, IDC_EDIT_LOGICALS, m_editLogicals, m_strLogicals);
    ExchangeEdit(pDX, IDC_EDIT_MULTI_PROCESSOR, m_editMultiProcessor, m_strMultiProcessor);
    ExchangeEdit(pDX, IDC_EDIT_MULTI_CORE, m_editMultiCore, m_strMultiCore);
    ExchangeEdit(pDX, IDC_EDIT_SMT, m_editSmt, m_strSmt);
    DDX_Control(pDX, IDC_CORE_MODE, m_btnCoreMode);
    DDX_Check(pDX, IDC_CORE_MODE, m_nCoreMode);
    ExchangeEdit(pDX, IDC_EDIT_APP_PATH, m_editAppPath, m_strAppPath);
    ExchangeEdit(pDX, IDC_EDIT_APP_PARAMS, m_editAppParams, m_strAppParams);
    ExchangeList(pDX, IDC_COMBO_SAMPLING_RATE, m_comboSamplingRate, m_strSamplingRate);

    const std::array<std::pair<CEdit*, CString*>, 3> cpu = {
        {{&m_editCpuMin, &m_strCpuMin}, {&m_editCpuAvg, &m_strCpuAvg}, {&m_editCpuMax, &m_strCpuMax}}};
    for (int i = 0; i < static_cast<int>(cpu.size()); ++i)
        ExchangeEdit(pDX, IDC_EDIT_CPU_MIN + i, *cpu[i].first, *cpu[i].second);
    const std::array<std::pair<CEdit*, CString*>, 4> threadsAndElapsed = {{{&m_editThreadsMin, &m_strThreadsMin},
                                                                           {&m_editThreadsAvg, &m_strThreadsAvg},
                                                                           {&m_editThreadsMax, &m_strThreadsMax},
                                                                           {&m_editElapsed, &m_strElapsedMs}}};
    for (int i = 0; i < static_cast<int>(threadsAndElapsed.size()); ++i)
        ExchangeEdit(pDX, IDC_EDIT_THREADS_MIN + i, *threadsAndElapsed[i].first, *threadsAndElapsed[i].second);

    ExchangeEdit(pDX, IDC_EDIT_PROCESSOR_INFO, m_editProcessorInfo, m_strProcessorInfo);
    ExchangeEdit(pDX, IDC_EDIT_FREQUENCY, m_editFrequency, m_strFrequency);
    ExchangeEdit(pDX, IDC_EDIT_L2_CACHE, m_editL2Cache, m_strL2Cache);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_CANCEL, m_btnCancel);
    DDX_Control(pDX, IDC_START_CAPTURE, m_btnStartCapture);
    DDX_Control(pDX, IDC_STOP_CAPTURE, m_btnStopCapture);
    ExchangeEdit(pDX, IDC_EDIT_SAMPLES, m_editSamples, m_strSamples);
    ExchangeList(pDX, IDC_COMBO_DURATION, m_comboDuration, m_strDuration);
    ExchangeEdit(pDX, IDC_EDIT_PARALLEL_TIME, m_editParallelTime, m_strParallelTime);
    ExchangeList(pDX, IDC_COMBO_THREAD_TABLE, m_comboThreadTable, m_strThreadTable);
    ExchangeList(pDX, IDC_COMBO_CONCURRENCY, m_comboConcurrency, m_strConcurrency);
    ExchangeList(pDX, IDC_COMBO_GENERATE_LOG, m_comboGenerateLog, m_strGenerateLog);
    ExchangeList(pDX, IDC_COMBO_MANUAL_CAPTURE, m_comboManualCapture, m_strManualCapture);
}

BOOL CQuorvexDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        const CString strAboutMenu = AfxLoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bRunning = 0;
    m_bCancel = 0;
    m_bManualCapture = 0;
    m_bCapturing = 0;
    m_bCaptureStopped = 0;

    m_strAppPath.Empty();
    m_strAppParams.Empty();
    std::memset(m_szProcessName, 0, sizeof m_szProcessName);

    m_strCpuMin = "0";
    m_strCpuAvg = "0";
    m_strCpuMax = "0";
    m_strParallelTime = "0.00";
    m_comboThreadTable.ResetContent();

    FillSettingList(m_comboDuration, DURATIONS, 1, m_strDuration);
    FillSettingList(m_comboSamplingRate, SAMPLING_RATES, 1, m_strSamplingRate);
    FillSettingList(m_comboGenerateLog, NO_YES, 0, m_strGenerateLog);
    FillSettingList(m_comboManualCapture, NO_YES, 0, m_strManualCapture);
    m_bManualCapture = m_strManualCapture == "Yes" ? 1 : 0;

    m_btnCoreMode.SetCheck(BST_UNCHECKED);

    if (GetCurrentDirectoryA(sizeof m_szLogFolder, m_szLogFolder) == 0) {
        MessageBox("Cannot get current folder\nThe log file will be in the same folder as the application", "Warning",
                   MB_OK);
        // Without its final '/', which the log's name adds; the root keeps it.
        const std::string folder = ProgramFolder();
        const std::string trimmed = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
        std::snprintf(m_szLogFolder, sizeof m_szLogFolder, "%s", trimmed.c_str());
    }

    if (!ShowTopology())
        return FALSE;
    ShowProcessorIdentity();
    return TRUE;
}

// When the processors the process may run on cannot be read, no processor
// field is filled at all.
BOOL CQuorvexDlg::ShowTopology()
{
    DWORD logicals = 0;
    DWORD cores = 0;
    DWORD packages = 0;
    HostCpu hostCpu;
    const BYTE status =
        DetectTopology(m_pMachineCpu ? *m_pMachineCpu : hostCpu, m_machineRoot, &logicals, &cores, &packages);
    if (status == TOPO_AFFINITY_RESTRICTED)
        return FALSE;
    if (const char* twinlane = TopologyTwinlaneText(status)) {
        m_strSmt = twinlane;
        m_strMultiCore = TopologyMultiCoreText(status);
        m_editSmt.SetWindowText(m_strSmt);
        m_editMultiCore.SetWindowText(m_strMultiCore);
    }

    m_strMultiProcessor = packages > 1 ? "Yes" : "No";
    m_editMultiProcessor.SetWindowText(m_strMultiProcessor);
    m_strSockets.Format("%3d", static_cast<int>(packages));
    m_strCores.Format("%3d", static_cast<int>(cores));
    m_strLogicals.Format("%3d", static_cast<int>(logicals));
    m_editSockets.SetWindowText(m_strSockets);
    m_editCores.SetWindowText(m_strCores);
    m_editLogicals.SetWindowText(m_strLogicals);
    return TRUE;
}

void CQuorvexDlg::ShowProcessorIdentity()
{
    CProcessorInfo processorInfo;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = {};
    char identifier[CProcessorInfo::VALUE_CAPACITY] = {};
    if (processorInfo.ReadRegistryInfo(&mhz, name, identifier)) {
        m_strFrequency.Format("%7d", static_cast<int>(mhz));
        m_editFrequency.SetWindowText(m_strFrequency);
        m_strProcessorInfo = ProcessorInfoText(identifier, name);
        m_editProcessorInfo.SetWindowText(m_strProcessorInfo);
    }
    m_strL2Cache.Format("%7u", processorInfo.GetL2CacheSize());
    m_editL2Cache.SetWindowText(m_strL2Cache);
}

void CQuorvexDlg::OnOK()
{
    StopRunBeforeClosing();
    CDialog::OnOK();
}

void CQuorvexDlg::OnCancel()
{
    StopRunBeforeClosing();
    CDialog::OnCancel();
}

// A run in progress dispatches this close from inside its own loop: it is
// told to stop, as Exit tells it, and the framework keeps the window until
// the run has returned.
void CQuorvexDlg::StopRunBeforeClosing()
{
    if (m_bRunning) {
        m_bRunning = 0;
        m_bCancel = 1;
    }
}
