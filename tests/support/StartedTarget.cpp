#include "StartedTarget.h"

#include "CommandLine.h"

#include <gtest/gtest.h>

#include <ctime>
#include <unistd.h>
#include <utility>

StartedTarget::StartedTarget(const std::string& commandLine, ProcessStartHook attach)
{
    STARTUPINFOA startupInfo = {sizeof startupInfo, std::move(attach)};
    std::string writable = commandLine;
    EXPECT_TRUE(CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo,
                               &m_pi))
        << commandLine;
    if (m_pi.hProcess)
        m_process = ProcessOfHandle(m_pi.hProcess).value_or(StartedProcess{});
}

StartedTarget::StartedTarget(const std::vector<std::string>& argv, ProcessStartHook attach)
    : StartedTarget(JoinCommandLine(argv), std::move(attach))
{
}

StartedTarget::~StartedTarget()
{
    Kill();
}

void StartedTarget::Kill()
{
    if (!m_pi.hProcess)
        return;
    TerminateProcess(m_pi.hProcess, 0);
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
    m_pi = {};
}

void StartedTarget::WaitForExit() const
{
    FILETIME creation, exit, kernel, user;
    while (GetProcessTimes(m_pi.hProcess, &creation, &exit, &kernel, &user) && FileTimeValue(exit) == 0)
        usleep(1000);
}

std::uint64_t StartedTarget::CpuNs() const
{
    clockid_t clock;
    timespec used = {};
    if (clock_getcpuclockid(m_process.pid, &clock) == 0)
        clock_gettime(clock, &used);
    return static_cast<std::uint64_t>(used.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(used.tv_nsec);
}
