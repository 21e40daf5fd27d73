#pragma once
// Icon resources as toolkit images, for the platform's own use.

#include "WinTypes.h"

#include <QIcon>
#include <QPixmap>

constexpr int SYSTEM_ICON_SIZE = 32;

// The icon's image of that size, scaled from the nearest larger one where the
// resource has none; a null pixmap for an icon without images.
QPixmap IconPixmap(HICON icon, int size);
// A window's icon: the big icon's images of the system size and above, the
// small icon's images below it. 0 stands for no icon.
QIcon WindowIcon(HICON big, HICON small);
