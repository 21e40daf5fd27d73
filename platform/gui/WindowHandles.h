#pragma once
// Windows are the toolkit's widgets, reached through these handles; a device
// context is the painter of a window being painted.

class QWidget;
using HWND = QWidget*;
class QPainter;
using HDC = QPainter*;
