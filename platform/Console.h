#pragma once
// The console of console mode. A program started from a terminal already has
// one; "allocating" it only makes sure standard output leads somewhere.

#include "WinTypes.h"

// TRUE when standard output is open, or could be bound to the controlling
// terminal.
BOOL AllocConsole();
[[noreturn]] void ExitProcess(UINT exitCode);
// Waits until the user presses Enter, where standard input is a terminal that
// a user can press it at; returns at once on a pipe, a file or a closed input.
void WaitForEnter();
