#include "QuorvexDlg.h"

#include "Resources.h"

BEGIN_MESSAGE_MAP(CQuorvexDlg, CDialog)
    ON_BN_CLICKED(IDC_CORE_MODE, &CQuorvexDlg::OnBnClickedCoreMode)
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

CQuorvexDlg::CQuorvexDlg(CWnd* pParent)
    : CDialog(IDD, pParent), m_hIcon(AfxLoadIcon(IDR_MAINFRAME)), m_bGuiMode(1), m_nCoreMode(0)
{
}

CQuorvexDlg::~CQuorvexDlg() = default;
