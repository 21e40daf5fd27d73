#pragma once
// The calling thread's last error code: the errno of the failing call.

#include "WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD error);
