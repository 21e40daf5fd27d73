#pragma once
// Message boxes with a fixed text, a title and an OK button. While a window
// toolkit session exists they are modal windows (owned by the given window);
// without one (console mode) they are written to standard error.

#include "WinTypes.h"
#include "WindowHandles.h"

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Where the boxes of a window or an application go: the real ones unless its
// owner passes others (tests record them). The result is the box's result.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual int Show(HWND owner, const char* text, const char* caption, UINT type);
};

MessageBoxes& RealMessageBoxes();
