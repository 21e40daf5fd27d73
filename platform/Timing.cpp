#include "Timing.h"

#include <ctime>
#include <sched.h>

namespace {

// From 1 January 1601 to 1 January 1970, in 100-ns units.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

std::uint64_t RealtimeMinusMonotonicNs()
{
    static const std::uint64_t offset = RealtimeNowNs() - MonotonicNowNs();
    return offset;
}

} // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    count->QuadPart = static_cast<LONGLONG>(MonotonicNowNs());
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = static_cast<LONGLONG>(kNsPerSecond);
    return TRUE;
}

// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    SleepUntilNs(MonotonicNowNs() + std::uint64_t{milliseconds} * 1000000);
}

void GetLocalTime(SYSTEMTIME* time)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

FILETIME FileTimeFromMonotonicNs(std::uint64_t ns)
{
    return MakeFileTime(kUnixEpochAsFileTime + (ns + RealtimeMinusMonotonicNs()) / 100);
}

void GetSystemTimeAsFileTime(FILETIME* time)
{
    *time = FileTimeFromMonotonicNs(MonotonicNowNs());
}

ULONGLONG FileTimeValue(const FILETIME& time)
{
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME MakeFileTime(ULONGLONG value)
{
    return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}
