#include "Process.h"

#include "CommandLine.h"
#include "LastError.h"
#include "ProcFiles.h"
#include "SwitchRecords.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// What the watcher learns when the process ends. Shared by the handles and the
// watcher, which may outlive them.
struct ExitRecord {
    pid_t pid = 0;
    UniqueFd pidfd;
    std::mutex mutex;
    bool exited = false;
    std::uint64_t exitNs = 0;
};

void WatchForExit(const std::shared_ptr<ExitRecord>& record)
{
    pollfd exited = {record->pidfd.Get(), POLLIN, 0};
    while (poll(&exited, 1, -1) < 0 && errno == EINTR) {
    }
    const std::uint64_t exitNs = MonotonicNowNs();
    int status;
    while (waitpid(record->pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(record->mutex);
    record->exited = true;
    record->exitNs = exitNs;
}

// What the start hook attached, or why nothing was.
struct Attached {
    std::unique_ptr<ThreadActivitySource> threadStates;
    std::string whyNot;
};

class Target {
public:
    Target(pid_t pid, UniqueFd pidfd, std::uint64_t startTicks, std::uint64_t creationNs, Attached attached)
        : m_record(std::make_shared<ExitRecord>()), m_startTicks(startTicks), m_creationNs(creationNs),
          m_attached(std::move(attached))
    {
        m_record->pid = pid;
        m_record->pidfd = std::move(pidfd);
        m_watcher = std::thread(WatchForExit, m_record);
    }

    // A process still running when its last handle closes keeps running; its
    // watcher then reaps it on its own.
    ~Target()
    {
        if (!m_watcher.joinable())
            return;
        if (HasExited())
            m_watcher.join();
        else
            m_watcher.detach();
    }

    bool HasExited() const
    {
        std::lock_guard lock(m_record->mutex);
        return m_record->exited;
    }

    BOOL Kill()
    {
        if (syscall(SYS_pidfd_send_signal, m_record->pidfd.Get(), SIGKILL, nullptr, 0) != 0) {
            SetLastError(static_cast<DWORD>(errno));
            return FALSE;
        }
        if (m_watcher.joinable())
            m_watcher.join();
        return TRUE;
    }

    void Times(FILETIME& creation, FILETIME& exit, FILETIME& kernel, FILETIME& user) const;

    std::uint64_t StartTicks() const { return m_startTicks; }

    // Once; the caller holds the start registry's lock.
    std::unique_ptr<ThreadActivitySource> TakeThreadStates(std::string& whyNot)
    {
        if (!m_attached.threadStates) {
            whyNot = m_attached.whyNot;
            return nullptr;
        }
        m_attached.whyNot = "the context-switch records of process " + std::to_string(m_record->pid) +
                            " serve another query";
        return std::move(m_attached.threadStates);
    }

private:
    std::shared_ptr<ExitRecord> m_record;
    std::thread m_watcher;
    std::uint64_t m_startTicks;
    std::uint64_t m_creationNs;
    Attached m_attached;
};

// Processor times are not kept: nothing asks for them.
void Target::Times(FILETIME& creation, FILETIME& exit, FILETIME& kernel, FILETIME& user) const
{
    creation = FileTimeFromMonotonicNs(m_creationNs);
    kernel = user = MakeFileTime(0);
    std::lock_guard lock(m_record->mutex);
    exit = m_record->exited ? FileTimeFromMonotonicNs(m_record->exitNs) : MakeFileTime(0);
}

// Both handles of a started process name the same target.
struct Handle {
    std::shared_ptr<Target> target;
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

HANDLE NewHandle(const std::shared_ptr<Target>& target, bool isProcess)
{
    auto* handle = new Handle{target, isProcess};
    std::lock_guard lock(Handles().mutex);
    Handles().live.insert(handle);
    return handle;
}

std::shared_ptr<Target> ProcessTarget(HANDLE object)
{
    std::lock_guard lock(Handles().mutex);
    const auto found = Handles().live.find(static_cast<Handle*>(object));
    if (found == Handles().live.end() || !(*found)->isProcess)
        return nullptr;
    return (*found)->target;
}

struct StartRegistry {
    std::mutex mutex;
    std::map<std::string, StartedProcess> latest;
    std::map<int, std::weak_ptr<Target>> targets;  // by pid, while a handle is open
    ProcessStartHook hook;
};

StartRegistry& Registry()
{
    static StartRegistry registry;
    return registry;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Like execvp, but before the fork.
bool ResolveProgram(const std::string& name, std::string& path)
{
    if (name.empty())
        return false;
    if (name.find('/') != std::string::npos) {
        path = name;
        return true;
    }
    const char* searchPath = std::getenv("PATH");
    std::string_view directories = searchPath ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t end = directories.find(':');
        const std::string_view directory = directories.substr(0, end);
        const std::string candidate = (directory.empty() ? std::string(".") : std::string(directory)) + "/" + name;
        if (IsExecutableFile(candidate)) {
            path = candidate;
            return true;
        }
        if (end == std::string_view::npos)
            return false;
        directories.remove_prefix(end + 1);
    }
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<char*> CallerEnvironment()
{
    std::vector<char*> pointers;
    for (char** entry = environ; *entry; ++entry)
        pointers.push_back(*entry);
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> EnvironmentBlock(const char* block)
{
    std::vector<std::string> entries;
    for (const char* entry = block; *entry; entry += std::strlen(entry) + 1)
        entries.emplace_back(entry);
    return entries;
}

// Everything the child needs, built before the fork.
struct ExecPlan {
    std::string path;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;
    const char* directory;
    bool inheritHandles;
};

// The child waits on the hold pipe until the parent releases it, and reports
// a failed exec through the report pipe. Both close on exec.
struct ChildPipes {
    UniqueFd holdRead, holdWrite, reportRead, reportWrite;

    bool Open()
    {
        int hold[2], report[2];
        if (pipe2(hold, O_CLOEXEC) != 0)
            return false;
        holdRead = UniqueFd(hold[0]);
        holdWrite = UniqueFd(hold[1]);
        if (pipe2(report, O_CLOEXEC) != 0)
            return false;
        reportRead = UniqueFd(report[0]);
        reportWrite = UniqueFd(report[1]);
        return true;
    }
};

[[noreturn]] void ExitReportingErrno(int report)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
    _exit(127);
}

// Only async-signal-safe calls from here on.
[[noreturn]] void RunChild(const ExecPlan& plan, pid_t parent, const ChildPipes& pipes)
{
    close(pipes.holdWrite.Get());
    close(pipes.reportRead.Get());
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    char go;
    ssize_t got;
    while ((got = read(pipes.holdRead.Get(), &go, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1)
        _exit(127);
    const int report = pipes.reportWrite.Get();
    if (!plan.inheritHandles && close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
        ExitReportingErrno(report);
    if (plan.directory && chdir(plan.directory) != 0)
        ExitReportingErrno(report);
    execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
    ExitReportingErrno(report);
}

BOOL Fail(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
}

void Reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

Attached CallStartHook(pid_t pid)
{
    ProcessStartHook hook;
    {
        std::lock_guard lock(Registry().mutex);
        hook = Registry().hook;
    }
    Attached attached;
    attached.threadStates =
        hook ? hook(pid, attached.whyNot) : SwitchRecordSource::Attach(pid, &attached.whyNot);
    return attached;
}

void RecordStart(const std::string& path, const StartedProcess& started, const std::shared_ptr<Target>& target)
{
    std::lock_guard lock(Registry().mutex);
    Registry().latest[InstanceName(path)] = started;
    std::erase_if(Registry().targets, [](const auto& entry) { return entry.second.expired(); });
    Registry().targets[started.pid] = target;
}

// The exec's outcome: 0 when it succeeded (the report pipe closed on exec).
int ExecError(int report)
{
    int error = 0;
    ssize_t got;
    while ((got = read(report, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    return got == sizeof error ? error : 0;
}

// The child waits: attach to it, release it, and learn whether its exec worked.
BOOL Release(const ExecPlan& plan, pid_t pid, ChildPipes& pipes, PROCESS_INFORMATION& info)
{
    UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    ProcStat stat;
    if (!pidfd.IsOpen() || !ReadPidStat(pid, stat)) {
        const int error = errno;
        kill(pid, SIGKILL);
        Reap(pid);
        return Fail(error);
    }
    Attached attached = CallStartHook(pid);
    const std::uint64_t creationNs = MonotonicNowNs();
    [[maybe_unused]] const ssize_t released = write(pipes.holdWrite.Get(), "g", 1);
    pipes.holdWrite = UniqueFd();
    if (const int error = ExecError(pipes.reportRead.Get())) {
        Reap(pid);
        return Fail(error);
    }
    const auto target =
        std::make_shared<Target>(pid, std::move(pidfd), stat.startTicks, creationNs, std::move(attached));
    RecordStart(plan.path, {pid, stat.startTicks}, target);
    info.hProcess = NewHandle(target, true);
    info.hThread = NewHandle(target, false);
    info.dwProcessId = static_cast<DWORD>(pid);
    info.dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

BOOL Spawn(const ExecPlan& plan, PROCESS_INFORMATION& info)
{
    ChildPipes pipes;
    if (!pipes.Open())
        return Fail(errno);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(plan, parent, pipes);
    if (pid < 0)
        return Fail(errno);
    pipes.holdRead = UniqueFd();
    pipes.reportWrite = UniqueFd();
    return Release(plan, pid, pipes, info);
}

} // namespace

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                    BOOL inheritHandles, DWORD creationFlags, void* environment, LPCSTR currentDirectory,
                    STARTUPINFOA*, PROCESS_INFORMATION* processInformation)
{
    if (!processInformation || creationFlags != 0 || (!applicationName && !commandLine))
        return Fail(EINVAL);
    ExecPlan plan;
    plan.args = commandLine ? SplitCommandLine(commandLine) : std::vector<std::string>{applicationName};
    const std::string program = applicationName ? applicationName : plan.args.empty() ? "" : plan.args.front();
    if (!ResolveProgram(program, plan.path))
        return Fail(ENOENT);
    if (environment) {
        plan.env = EnvironmentBlock(static_cast<const char*>(environment));
        plan.envp = Pointers(plan.env);
    } else {
        plan.envp = CallerEnvironment();
    }
    plan.argv = Pointers(plan.args);
    plan.directory = currentDirectory;
    plan.inheritHandles = inheritHandles;
    return Spawn(plan, *processInformation);
}

BOOL GetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel, FILETIME* user)
{
    const std::shared_ptr<Target> target = ProcessTarget(process);
    if (!target || !creation || !exit || !kernel || !user)
        return Fail(EBADF);
    target->Times(*creation, *exit, *kernel, *user);
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT)
{
    const std::shared_ptr<Target> target = ProcessTarget(process);
    if (!target)
        return Fail(EBADF);
    return target->Kill();
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

ProcessStartHook SetProcessStartHook(ProcessStartHook hook)
{
    std::lock_guard lock(Registry().mutex);
    return std::exchange(Registry().hook, std::move(hook));
}

std::optional<StartedProcess> LatestStartedProcess(const std::string& instanceName)
{
    std::lock_guard lock(Registry().mutex);
    const auto found = Registry().latest.find(instanceName);
    if (found == Registry().latest.end())
        return std::nullopt;
    return found->second;
}

std::unique_ptr<ThreadActivitySource> TakeAttachedThreadStates(const StartedProcess& process, std::string& whyNot)
{
    std::lock_guard lock(Registry().mutex);
    const auto found = Registry().targets.find(process.pid);
    const std::shared_ptr<Target> target = found == Registry().targets.end() ? nullptr : found->second.lock();
    if (!target || target->StartTicks() != process.startTicks) {
        whyNot = "no context-switch records were attached to process " + std::to_string(process.pid);
        return nullptr;
    }
    return target->TakeThreadStates(whyNot);
}
