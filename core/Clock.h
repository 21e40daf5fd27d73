#pragma once
// The clocks a measurement runs on. Every instant of the core is
// CLOCK_MONOTONIC in nanoseconds: the kernel's switch records are stamped on
// it (use_clockid), so instants and records compare directly.

#include <cstdint>

constexpr std::uint64_t kNsPerSecond = 1'000'000'000;

std::uint64_t MonotonicNowNs();
std::uint64_t RealtimeNowNs();

// Sleeps to an absolute CLOCK_MONOTONIC deadline, so that a signal neither
// shortens nor stretches the sleep. The sleep runs with the least timer
// slack the kernel allows (the default 50 us would cost a sampler at 1 ms a
// twentieth of its samples).
void SleepUntilNs(std::uint64_t deadlineNs);
