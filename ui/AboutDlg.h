#pragma once
// The About box: the program's name, version and icon, and who made it.

#include "Dialog.h"
#include "Resource.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(MessageBoxes& boxes = RealMessageBoxes());
    ~CAboutDlg() override;

    enum { IDD = IDD_ABOUTBOX };

    void OnBnClickedDevelopers();

    DECLARE_MESSAGE_MAP()
};
