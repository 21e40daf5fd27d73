// The run and capture controls. A run dispatches waiting messages between its
// samples, so these handlers run nested inside it and steer it only through
// the run-control flags.

#include "QuorvexDlg.h"

void CQuorvexDlg::OnBnClickedStart()
{
    if (m_strAppPath.IsEmpty()) {
        MessageBox("Click the button GET APPLICATION NAME to select application!!!", "Error", MB_OK);
        m_btnStart.SetCheck(BST_UNCHECKED);
        return;
    }
    // A click dispatched by the run in progress starts nothing.
    if (m_bRunning) {
        m_btnStart.SetCheck(BST_CHECKED);
        return;
    }
    // CANCEL has put the controls back to Idle, but the cancelled run is
    // still winding down further up the stack: a run started now would nest
    // inside it.
    if (m_bRunInProgress) {
        m_btnStart.SetCheck(BST_UNCHECKED);
        return;
    }
    m_bRunning = 1;
    m_bCancel = 0;
    m_btnStart.SetWindowText("RUNNING");
    m_bRunInProgress = true;
    CollectData();
    m_bRunInProgress = false;
}

void CQuorvexDlg::OnBnClickedCancel()
{
    if (m_bRunning) {
        m_btnStart.SetCheck(BST_UNCHECKED);
        m_btnStart.SetWindowText("START");
        m_btnCancel.SetCheck(BST_UNCHECKED);
        m_bRunning = 0;
        m_bCapturing = 0;
        m_btnStartCapture.SetCheck(BST_UNCHECKED);
        m_btnStartCapture.SetWindowText("START CAPTURE");
        m_bCaptureStopped = 0;
    }
    m_bCancel = 1;
    m_btnCancel.SetCheck(BST_UNCHECKED);
}

void CQuorvexDlg::OnBnClickedExit()
{
    m_bRunning = 0;
    m_bCancel = 1;
    CDialog::OnOK();
}

void CQuorvexDlg::OnBnClickedStartCapture()
{
    if (m_bRunning) {
        if (m_bCapturing) {
            m_btnStartCapture.SetCheck(BST_CHECKED);
            return;
        }
        if (m_bManualCapture) {
            m_btnStart.SetCheck(BST_CHECKED);
            m_bCapturing = 1;
            m_bCaptureStopped = 0;
            m_btnStartCapture.SetWindowText("CAPTURING");
            return;
        }
    }
    if (m_bCapturing) {
        m_btnStartCapture.SetCheck(BST_CHECKED);
        return;
    }
    if (!m_bRunning)
        MessageBox(" Click the START button first", "Start Capture", MB_OK);
    if (!m_bManualCapture)
        MessageBox(" Select Yes at Manual Capture", "Start Capture", MB_OK);
    m_btnStartCapture.SetCheck(BST_UNCHECKED);
}

void CQuorvexDlg::OnBnClickedStopCapture()
{
    if (m_bRunning && !m_bCaptureStopped && m_bManualCapture) {
        m_bCapturing = 0;
        m_bCaptureStopped = 1;
        m_btnStartCapture.SetCheck(BST_UNCHECKED);
        m_btnStartCapture.SetWindowText("START CAPTURE");
    }
    m_btnStopCapture.SetCheck(BST_UNCHECKED);
}

void CQuorvexDlg::OnBnClickedCoreMode()
{
    if (m_bRunning) {
        m_btnCoreMode.SetCheck(BST_UNCHECKED);
        return;
    }
    m_btnCoreMode.SetWindowText(m_btnCoreMode.GetCheck() == BST_CHECKED ? "Single-core" : "Multi-core");
}

namespace {

// Copies the selected item's text, when there is a selection.
void CopySelection(const CComboBox& combo, CString& value)
{
    const int selected = combo.GetCurSel();
    if (selected != CB_ERR && combo.GetCount() > 0)
        combo.GetLBText(selected, value);
}

} // namespace

void CQuorvexDlg::OnCbnSelchangeSamplingRate()
{
    CopySelection(m_comboSamplingRate, m_strSamplingRate);
}

void CQuorvexDlg::OnCbnSelchangeDuration()
{
    CopySelection(m_comboDuration, m_strDuration);
}

void CQuorvexDlg::OnCbnSelchangeGenerateLog()
{
    m_comboGenerateLog.GetLBText(m_comboGenerateLog.GetCurSel(), m_strGenerateLog);
}

void CQuorvexDlg::OnCbnSelchangeManualCapture()
{
    m_comboManualCapture.GetLBText(m_comboManualCapture.GetCurSel(), m_strManualCapture);
    m_bManualCapture = m_strManualCapture == "Yes" ? 1 : 0;
}
