#pragma once
// The window toolkit session of dialog mode. Console mode never starts one,
// so its engine runs without any toolkit object.

#include "WinTypes.h"
#include "WindowHandles.h"

#include <string>

// Why no window can be shown here, or empty when one can. Looked at before
// the toolkit is started, so that a missing display is a clear error and not
// a toolkit abort.
std::string DisplayProblem();

// Starts the session unless one exists (a test may have started its own).
// FALSE, with the reason on standard error, when there is no usable display.
BOOL EnsureGuiSession();
BOOL HasGuiSession();
// Ends the session that EnsureGuiSession started.
void EndGuiSession();

// The thread's message queue: PeekMessageA tells whether the toolkit may have
// events waiting (it cannot be asked without taking them), PumpMessage
// dispatches every waiting one without blocking, and WaitMessage blocks until
// at least one event arrived and was dispatched.
constexpr UINT PM_NOREMOVE = 0x0000;
struct MSG {
    HWND hwnd;
    UINT message;
};
BOOL PeekMessageA(MSG* msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeMsg);
BOOL AfxPumpMessage();
void WaitMessage();
