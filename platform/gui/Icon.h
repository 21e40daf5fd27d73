#pragma once
// Icons and the painting of a window. An icon handle names an icon resource;
// its images are drawn at the size the system uses for icons.

#include "Wnd.h"

#include <memory>

constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;

// The system's icon size for SM_CXICON and SM_CYICON; 0 for other indexes.
int GetSystemMetrics(int nIndex);

class CDC {
public:
    HDC GetSafeHdc() const { return m_hDC; }
    // Draws the icon at the system's icon size; FALSE when it has no image.
    BOOL DrawIcon(int x, int y, HICON hIcon);

protected:
    HDC m_hDC = nullptr;
};

// The device context of a window's paint handler; it exists only while the
// window is being painted.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

private:
    std::unique_ptr<QPainter> m_painter;
};
