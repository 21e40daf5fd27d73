#pragma once

#include "WinApp.h"

class CQuorvexApp : public CWinApp {
public:
    CQuorvexApp();
    ~CQuorvexApp() override = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
