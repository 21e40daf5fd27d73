#include "AboutDlg.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_BN_CLICKED(IDC_DEVELOPERS, &CAboutDlg::OnBnClickedDevelopers)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg(MessageBoxes& boxes) : CDialog(IDD, nullptr, boxes) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::OnBnClickedDevelopers()
{
    MessageBox("Release 1.0:\nMira Haldane, Tomas Ekberg\n\nRelease 1.1:\nMira Haldane, Priya Natarajan, Jonas Feld",
               "Developers", MB_OK);
}
