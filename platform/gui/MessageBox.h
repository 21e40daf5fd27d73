#pragma once
// Message boxes with a fixed text, a title and an OK button. While a window
// toolkit session exists they are modal windows (owned by the given window);
// without one (console mode) they are written to standard error.

#include "WinTypes.h"
#include "WindowHandles.h"

#include <functional>

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Lets tests record boxes instead of showing them. The hook's result is the
// box's result. Returns the hook it replaces; an empty hook restores the
// real boxes.
using MessageBoxHook = std::function<int(HWND owner, const char* text, const char* caption, UINT type)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
