#include "Clock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace {

constexpr std::uint64_t kNsPerSecond = 1000000000;

std::uint64_t NowNs(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
}

void UseLeastTimerSlack()
{
    thread_local const bool set = prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)set;
}

} // namespace

std::uint64_t MonotonicNowNs()
{
    return NowNs(CLOCK_MONOTONIC);
}

std::uint64_t RealtimeNowNs()
{
    return NowNs(CLOCK_REALTIME);
}

void SleepUntilNs(std::uint64_t deadlineNs)
{
    UseLeastTimerSlack();
    const timespec until = {static_cast<time_t>(deadlineNs / kNsPerSecond),
                            static_cast<long>(deadlineNs % kNsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
