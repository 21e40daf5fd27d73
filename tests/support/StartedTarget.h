#pragma once
// A process started as the engine starts a target (CreateProcessA, which
// attaches the exact thread-state source before the exec), killed and
// released with the object.

#include "Process.h"

#include <cstdint>
#include <string>
#include <vector>

class StartedTarget {
public:
    // attach: what the start attaches instead of the switch records.
    explicit StartedTarget(const std::string& commandLine, ProcessStartHook attach = nullptr);
    // The arguments joined by the runtime's rules.
    explicit StartedTarget(const std::vector<std::string>& argv, ProcessStartHook attach = nullptr);
    ~StartedTarget();

    StartedTarget(const StartedTarget&) = delete;
    StartedTarget& operator=(const StartedTarget&) = delete;

    void Kill();
    void WaitForExit() const;
    // The kernel's processor time of the process so far, threads that ended included.
    std::uint64_t CpuNs() const;
    int Pid() const { return m_process.pid; }
    HANDLE Handle() const { return m_pi.hProcess; }
    // The process as the start recorded it, which names it for good.
    const StartedProcess& Process() const { return m_process; }

private:
    PROCESS_INFORMATION m_pi = {};
    StartedProcess m_process{};
};
