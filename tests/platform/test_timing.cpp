#include "Timing.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sys/time.h>

namespace {

void Ignore(int) {}

// The counter runs in nanoseconds; a sleep lasts to its deadline however
// often signals interrupt it.
TEST(Timing, SleepLastsToItsDeadline)
{
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ(frequency.QuadPart, 1000000000);
    struct sigaction action = {};
    action.sa_handler = Ignore;
    sigaction(SIGALRM, &action, nullptr);
    const itimerval every5ms = {{0, 5000}, {0, 5000}};
    setitimer(ITIMER_REAL, &every5ms, nullptr);
    QueryPerformanceCounter(&before);
    Sleep(100);
    QueryPerformanceCounter(&after);
    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_GE(after.QuadPart - before.QuadPart, 100000000);
    EXPECT_LT(after.QuadPart - before.QuadPart, 2000000000);
}

TEST(Timing, FileTimeCountsFrom1601)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const double unixSeconds = (static_cast<double>(FileTimeValue(now)) - 116444736000000000.0) / 1e7;
    EXPECT_NEAR(unixSeconds, static_cast<double>(time(nullptr)), 2);
    EXPECT_EQ(FileTimeValue(FileTimeFromMonotonicNs(2000000000)) - FileTimeValue(FileTimeFromMonotonicNs(1000000000)),
              10000000u);
}

} // namespace
