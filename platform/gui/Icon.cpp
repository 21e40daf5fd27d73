#include "Icon.h"

#include "IconImages.h"
#include "Resources.h"

#include <QPainter>
#include <QWidget>

namespace {

QPixmap Image(const IconImage& image)
{
    return QPixmap(image.xpm);
}

} // namespace

QPixmap IconPixmap(HICON icon, int size)
{
    const IconImage* best = nullptr;
    for (const IconImage& image : AfxFindIconImages(icon)) {
        if (image.size >= size && (!best || image.size < best->size))
            best = &image;
    }
    if (!best)
        return {};
    const QPixmap pixmap = Image(*best);
    return best->size == size ? pixmap : pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon WindowIcon(HICON big, HICON small)
{
    QIcon icon;
    for (const IconImage& image : AfxFindIconImages(big)) {
        if (image.size >= SYSTEM_ICON_SIZE)
            icon.addPixmap(Image(image));
    }
    for (const IconImage& image : AfxFindIconImages(small)) {
        if (image.size < SYSTEM_ICON_SIZE)
            icon.addPixmap(Image(image));
    }
    return icon;
}

int GetSystemMetrics(int nIndex)
{
    return nIndex == SM_CXICON || nIndex == SM_CYICON ? SYSTEM_ICON_SIZE : 0;
}

BOOL CDC::DrawIcon(int x, int y, HICON hIcon)
{
    const QPixmap pixmap = IconPixmap(hIcon, SYSTEM_ICON_SIZE);
    if (!m_hDC || pixmap.isNull())
        return FALSE;
    m_hDC->drawPixmap(x, y, pixmap);
    return TRUE;
}

CPaintDC::CPaintDC(CWnd* pWnd)
{
    if (pWnd && pWnd->m_hWnd) {
        m_painter = std::make_unique<QPainter>(pWnd->m_hWnd);
        m_hDC = m_painter.get();
    }
}

CPaintDC::~CPaintDC() = default;
