#pragma once
// The performance counter (CLOCK_MONOTONIC in nanoseconds), sleeping and the
// local clock.

#include "Clock.h"
#include "WinTypes.h"

#include <cstdint>

struct LARGE_INTEGER {
    LONGLONG QuadPart;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTimeAsFileTime(FILETIME* time);

// Process times are stamped on the monotonic clock, so that their differences
// do not jump with the wall clock; this maps them to the wall clock's scale,
// with an offset fixed once per program.
FILETIME FileTimeFromMonotonicNs(std::uint64_t ns);
ULONGLONG FileTimeValue(const FILETIME& time);
FILETIME MakeFileTime(ULONGLONG value);
