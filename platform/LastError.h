#pragma once
// The calling thread's last error code, and the codes the platform reports.

#include "WinTypes.h"

constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

DWORD GetLastError();
void SetLastError(DWORD errorCode);
