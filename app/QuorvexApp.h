#pragma once

#include "WinApp.h"

class CQuorvexApp : public CWinApp {
public:
    explicit CQuorvexApp(MessageBoxes& boxes = RealMessageBoxes());
    ~CQuorvexApp() override = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
