#include "Clock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace {

std::uint64_t NowNs(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
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

// The slack goes back after the sleep: a process forked later inherits it,
// and a target must not run with the sampler's.
void SleepUntilNs(std::uint64_t deadlineNs)
{
    const int slack = prctl(PR_GET_TIMERSLACK);
    prctl(PR_SET_TIMERSLACK, 1UL);
    const timespec until = {static_cast<time_t>(deadlineNs / kNsPerSecond),
                            static_cast<long>(deadlineNs % kNsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    if (slack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack));
}
