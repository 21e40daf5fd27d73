#include "Process.h"

#include "CommandLine.h"
#include "LastError.h"
#include "SwitchRecords.h"
#include "Target.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// A started target and what its start hook attached, or why nothing was.
struct StartedTarget {
    std::unique_ptr<Target> target;
    std::mutex mutex;
    std::unique_ptr<ThreadActivitySource> threadStates;
    std::string whyNot;
};

// Both handles of a started process name the same target.
struct Handle {
    std::shared_ptr<StartedTarget> started;
    bool isProcess;
};

struct HandleTable {
    std::mutex mutex;
    std::unordered_set<Handle*> live;
};

HandleTable& Handles()
{
    static HandleTable table;
    return table;
}

HANDLE NewHandle(const std::shared_ptr<StartedTarget>& started, bool isProcess)
{
    auto* handle = new Handle{started, isProcess};
    std::lock_guard lock(Handles().mutex);
    Handles().live.insert(handle);
    return handle;
}

std::shared_ptr<StartedTarget> ProcessTarget(HANDLE object)
{
    std::lock_guard lock(Handles().mutex);
    const auto found = Handles().live.find(static_cast<Handle*>(object));
    if (found == Handles().live.end() || !(*found)->isProcess)
        return nullptr;
    return (*found)->started;
}

void Attach(int pid, const ProcessStartHook& hook, StartedTarget& started)
{
    started.threadStates = hook ? hook(pid, started.whyNot) : SwitchRecordSource::Attach(pid, &started.whyNot);
}

std::vector<std::string> EnvironmentBlock(const char* block)
{
    std::vector<std::string> entries;
    for (const char* entry = block; *entry; entry += std::strlen(entry) + 1)
        entries.emplace_back(entry);
    return entries;
}

BOOL Fail(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
}

// The target's end once the kernel has reported it: a counter may see the
// process gone a moment before the watcher has reaped it and kept its end.
std::optional<TargetExit> ReportedExit(const Target& target)
{
    pollfd ended = {target.PidFd(), POLLIN, 0};
    std::optional<TargetExit> exit = target.Exit();
    while (!exit && poll(&ended, 1, 0) == 1) {
        sched_yield();
        exit = target.Exit();
    }
    return exit;
}

} // namespace

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                    BOOL inheritHandles, DWORD creationFlags, void* environment, LPCSTR currentDirectory,
                    STARTUPINFOA* startupInfo, PROCESS_INFORMATION* processInformation)
{
    if (!processInformation || creationFlags != 0 || (!applicationName && !commandLine))
        return Fail(EINVAL);
    TargetLaunch launch;
    launch.argv = commandLine ? SplitCommandLine(commandLine) : std::vector<std::string>{applicationName};
    launch.program = applicationName ? applicationName : launch.argv.empty() ? "" : launch.argv.front();
    launch.searchPath = true;
    if (environment)
        launch.envp = EnvironmentBlock(static_cast<const char*>(environment));
    launch.workingFolder = currentDirectory ? currentDirectory : "";
    launch.keepDescriptors = inheritHandles;
    auto started = std::make_shared<StartedTarget>();
    const ProcessStartHook hook = startupInfo ? startupInfo->attach : nullptr;
    int error = 0;
    started->target = Target::Start(launch, [&](int pid) { Attach(pid, hook, *started); }, error);
    if (!started->target)
        return Fail(error);
    const int pid = started->target->Pid();
    processInformation->hProcess = NewHandle(started, true);
    processInformation->hThread = NewHandle(started, false);
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

// Processor times are not kept: nothing asks for them.
BOOL GetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel, FILETIME* user)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    if (!started || !creation || !exit || !kernel || !user)
        return Fail(EBADF);
    *creation = FileTimeFromMonotonicNs(started->target->ReleaseNs());
    *kernel = *user = MakeFileTime(0);
    const std::optional<TargetExit> ended = ReportedExit(*started->target);
    *exit = ended ? FileTimeFromMonotonicNs(ended->exitNs) : MakeFileTime(0);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    if (!started || !exitCode)
        return Fail(EBADF);
    const std::optional<TargetExit> ended = ReportedExit(*started->target);
    const int status = ended ? ended->waitStatus : 0;
    *exitCode = !ended ? STILL_ACTIVE : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return TRUE;
}

int ProcessEndSignal(HANDLE process)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    const std::optional<TargetExit> ended = started ? ReportedExit(*started->target) : std::nullopt;
    return ended && WIFSIGNALED(ended->waitStatus) ? WTERMSIG(ended->waitStatus) : 0;
}

BOOL TerminateProcess(HANDLE process, UINT)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    if (!started)
        return Fail(EBADF);
    if (!started->target->End())
        return Fail(ESRCH);
    return TRUE;
}

BOOL CloseHandle(HANDLE object)
{
    auto* handle = static_cast<Handle*>(object);
    {
        std::lock_guard lock(Handles().mutex);
        if (Handles().live.erase(handle) == 0)
            return Fail(EBADF);
    }
    delete handle;
    return TRUE;
}

std::optional<StartedProcess> ProcessOfHandle(HANDLE process)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    if (!started)
        return std::nullopt;
    return StartedProcess{started->target->Pid(), started->target->StartTicks()};
}

std::unique_ptr<ThreadActivitySource> TakeAttachedThreadStates(HANDLE process, std::string& whyNot)
{
    const std::shared_ptr<StartedTarget> started = ProcessTarget(process);
    if (!started) {
        whyNot = "no process was started for this handle";
        return nullptr;
    }
    std::lock_guard lock(started->mutex);
    if (!started->threadStates) {
        whyNot = started->whyNot;
        return nullptr;
    }
    started->whyNot = "the context-switch records of process " + std::to_string(started->target->Pid()) +
                      " serve another query";
    return std::move(started->threadStates);
}

std::string InstanceName(std::string_view path)
{
    std::string_view name = path.substr(path.rfind('/') + 1);
    constexpr std::string_view kExtension = ".exe";
    // A name that is only ".exe" is a hidden file's, with no extension.
    if (name.size() > kExtension.size() && name.ends_with(kExtension))
        name.remove_suffix(kExtension.size());
    return std::string(name);
}
