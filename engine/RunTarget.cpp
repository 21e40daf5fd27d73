#include "RunTarget.h"

#include "Timing.h"

#include <vector>

bool RunTarget::Start(const std::string& appPath, const std::string& arguments)
{
    End();
    m_arguments = arguments;
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    const std::string commandLine = appPath + " " + arguments;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo,
                        &started))
        return false;
    m_process = started;
    return true;
}

std::optional<std::uint64_t> RunTarget::LifetimeMs() const
{
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(m_process.hProcess, &creation, &exit, &kernel, &user))
        return std::nullopt;
    // A target that still runs (the run ended for another reason) has run
    // until now.
    if (FileTimeValue(exit) == 0)
        GetSystemTimeAsFileTime(&exit);
    return (FileTimeValue(exit) - FileTimeValue(creation)) / 10000;
}

void RunTarget::End()
{
    if (!Started())
        return;
    TerminateProcess(m_process.hProcess, 0);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
    m_process = {};
}
