#pragma once
// The console of console mode. A program started from a terminal already has
// one; "allocating" it only makes sure standard output leads somewhere.

#include "WinTypes.h"

// TRUE when standard output is open, or could be bound to the controlling
// terminal.
BOOL AllocConsole();
[[noreturn]] void ExitProcess(UINT exitCode);
