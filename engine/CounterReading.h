#pragma once
// Timing a sample and reading a counter's value the way both runs do.

#include "Pdh.h"
#include "Timing.h"

inline ULONGLONG Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<ULONGLONG>(now.QuadPart);
}

// Sleeps for the interval and returns the sleep's end in ticks: the instant
// the sample that follows belongs to.
inline LONGLONG SleepInterval(DWORD milliseconds)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto end = static_cast<LONGLONG>(Ticks()) + LONGLONG{milliseconds} * frequency.QuadPart / 1000;
    Sleep(milliseconds);
    return end;
}

inline bool ReadCounterValue(PDH_HCOUNTER counter, double& value)
{
    PDH_FMT_COUNTERVALUE formatted;
    if (PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &formatted) != ERROR_SUCCESS)
        return false;
    value = formatted.doubleValue;
    return true;
}
