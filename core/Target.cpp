#include "Target.h"

#include "Clock.h"
#include "ProcFiles.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <linux/close_range.h>
#include <mutex>
#include <poll.h>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Everything the child needs, built before the fork.
struct ExecPlan {
    std::string path;
    std::vector<std::string> args;
    std::vector<std::string> shellArgs;  // /bin/sh path args...: for ENOEXEC, or empty
    std::vector<char*> shellArgv;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;
    const char* folder;
    bool keepDescriptors;
    bool guarded;
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
    if (plan.guarded)
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    setpgid(0, 0);
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
    if (!plan.keepDescriptors && close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
        ExitReportingErrno(report);
    if (plan.folder && chdir(plan.folder) != 0)
        ExitReportingErrno(report);
    execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
    if (errno == ENOEXEC && !plan.shellArgv.empty()) {
        execve(plan.shellArgv[0], plan.shellArgv.data(), plan.envp.data());
        errno = ENOEXEC;
    }
    ExitReportingErrno(report);
}

// The guard lives in the target's process group and waits for the end of a
// pipe that only this process writes to: when this process dies, however it
// dies, the guard kills the group (itself with it). The parent-death signal
// reaches only the target itself, not what it started.
[[noreturn]] void RunGuard(pid_t group, int waitFd)
{
    setpgid(0, group);
    close_range(0, static_cast<unsigned>(waitFd) - 1, 0);
    close_range(static_cast<unsigned>(waitFd) + 1, ~0U, 0);
    char ignored;
    while (read(waitFd, &ignored, 1) < 0 && errno == EINTR) {
    }
    kill(-group, SIGKILL);
    _exit(0);
}

// The guard's pid, and the pipe end whose closing sets it off; -1 on failure.
pid_t StartGuard(pid_t group, UniqueFd& trigger)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    const pid_t guard = fork();
    if (guard == 0)
        RunGuard(group, ends[0]);
    close(ends[0]);
    trigger = UniqueFd(ends[1]);
    if (guard > 0)
        setpgid(guard, group);
    return guard;
}

void Reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// A start that failed: the child, its group and its guard go.
void Abandon(pid_t pid, int pidfd, pid_t guard)
{
    if (pidfd >= 0)
        close(pidfd);
    kill(-pid, SIGKILL);
    Reap(pid);
    if (guard > 0)
        Reap(guard);
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

ExecPlan PlanFor(const TargetLaunch& launch, std::string path)
{
    ExecPlan plan;
    plan.path = std::move(path);
    plan.args = launch.argv;
    plan.argv = Pointers(plan.args);
    if (launch.envp) {
        plan.env = *launch.envp;
        plan.envp = Pointers(plan.env);
    } else {
        for (char** entry = environ; *entry; ++entry)
            plan.envp.push_back(*entry);
        plan.envp.push_back(nullptr);
    }
    plan.folder = launch.workingFolder.empty() ? nullptr : launch.workingFolder.c_str();
    plan.keepDescriptors = launch.keepDescriptors;
    plan.guarded = launch.guarded;
    if (launch.shellRunsScripts) {
        plan.shellArgs = {"/bin/sh", plan.path};
        plan.shellArgs.insert(plan.shellArgs.end(), plan.args.begin() + (plan.args.empty() ? 0 : 1), plan.args.end());
        plan.shellArgv = Pointers(plan.shellArgs);
    }
    return plan;
}

} // namespace

// What the watcher learns when the process ends.
struct Target::Watch {
    UniqueFd pidfd;
    pid_t guard = -1;
    UniqueFd guardTrigger;
    std::mutex mutex;
    std::optional<TargetExit> exit;
    std::thread watcher;
};

void Target::WatchForExit(int pid, const std::shared_ptr<Watch>& watch)
{
    pollfd exited = {watch->pidfd.Get(), POLLIN, 0};
    while (poll(&exited, 1, -1) < 0 && errno == EINTR) {
    }
    const std::uint64_t exitNs = MonotonicNowNs();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(watch->mutex);
    watch->exit = TargetExit{exitNs, status};
}

namespace {

// The first of the folders along searchPath whose name/ passes accept.
std::optional<std::string> SearchAlong(const std::string& name, const char* searchPath,
                                       bool (*accept)(const std::string& path))
{
    std::string_view folders = searchPath ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t end = folders.find(':');
        const std::string_view folder = folders.substr(0, end);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        if (accept(candidate))
            return candidate;
        if (end == std::string_view::npos)
            return std::nullopt;
        folders.remove_prefix(end + 1);
    }
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

} // namespace

std::optional<std::string> FindProgram(const std::string& name, const char* searchPath)
{
    if (name.empty())
        return std::nullopt;
    if (name.find('/') != std::string::npos)
        return name;
    return SearchAlong(name, searchPath, IsExecutableFile);
}

int SearchError(const std::string& name, const char* searchPath)
{
    return !name.empty() && SearchAlong(name, searchPath, Exists) ? EACCES : ENOENT;
}

std::unique_ptr<Target> Target::Start(const TargetLaunch& launch, const WhileHeld& whileHeld, int& error)
{
    // Descendants whose parent ends are adopted here, not by init, so that
    // End can still find and reap them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::optional<std::string> path =
        launch.searchPath ? FindProgram(launch.program, std::getenv("PATH")) : std::optional(launch.program);
    if (!path || path->empty()) {
        error = ENOENT;
        return nullptr;
    }
    const ExecPlan plan = PlanFor(launch, *path);
    ChildPipes pipes;
    if (!pipes.Open()) {
        error = errno;
        return nullptr;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(plan, parent, pipes);
    if (pid < 0) {
        error = errno;
        return nullptr;
    }
    pipes.holdRead = UniqueFd();
    pipes.reportWrite = UniqueFd();
    // Either side may set the group first; both are done before the release.
    setpgid(pid, pid);
    UniqueFd guardTrigger;
    const pid_t guard = launch.guarded ? StartGuard(pid, guardTrigger) : 0;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ProcStat stat;
    if (guard < 0 || pidfd < 0 || !ReadPidStat(pid, stat)) {
        error = errno;
        Abandon(pid, pidfd, guard);
        return nullptr;
    }
    if (whileHeld)
        whileHeld(pid);
    const std::uint64_t releaseNs = MonotonicNowNs();
    [[maybe_unused]] const ssize_t released = write(pipes.holdWrite.Get(), "g", 1);
    pipes.holdWrite = UniqueFd();
    if ((error = ExecError(pipes.reportRead.Get())) != 0) {
        Abandon(pid, pidfd, guard);
        return nullptr;
    }
    std::unique_ptr<Target> target(new Target(pid, pidfd, stat.startTicks, releaseNs));
    target->m_watch->guard = guard;
    target->m_watch->guardTrigger = std::move(guardTrigger);
    return target;
}

Target::Target(int pid, int pidfd, std::uint64_t startTicks, std::uint64_t releaseNs)
    : m_pid(pid), m_startTicks(startTicks), m_releaseNs(releaseNs), m_watch(std::make_shared<Watch>())
{
    m_watch->pidfd = UniqueFd(pidfd);
    m_watch->watcher = std::thread(WatchForExit, pid, m_watch);
}

Target::~Target()
{
    if (!Exit()) {
        // Kept open: the guard still ends the group when this process dies.
        m_watch->guardTrigger.Release();
        m_watch->watcher.detach();
        return;
    }
    // Ended without End: a guard ends what it left in its group.
    EndGuard();
    if (m_watch->watcher.joinable())
        m_watch->watcher.join();
}

void Target::EndGuard()
{
    if (m_watch->guard <= 0)
        return;
    m_watch->guardTrigger = UniqueFd();
    Reap(std::exchange(m_watch->guard, -1));
}

int Target::PidFd() const
{
    return m_watch->pidfd.Get();
}

std::optional<TargetExit> Target::Exit() const
{
    std::lock_guard lock(m_watch->mutex);
    return m_watch->exit;
}

bool Target::End()
{
    const bool signalled = syscall(SYS_pidfd_send_signal, PidFd(), SIGKILL, nullptr, 0) == 0;
    EndDescendants(m_pid, m_watch->guard);
    if (m_watch->watcher.joinable())
        m_watch->watcher.join();
    EndGuard();
    return signalled;
}

namespace {

struct ProcessEntry {
    int parent;
    int group;
    int session;
    char state;
};

std::map<int, ProcessEntry> ListProcesses()
{
    std::map<int, ProcessEntry> processes;
    DIR* proc = opendir("/proc");
    if (!proc)
        return processes;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        ProcStat stat;
        if (pid > 0 && *end == '\0' && ReadPidStat(static_cast<pid_t>(pid), stat))
            processes[static_cast<int>(pid)] = {stat.parentPid, stat.processGroup, stat.session, stat.state};
    }
    closedir(proc);
    return processes;
}

bool DescendsFrom(const std::map<int, ProcessEntry>& processes, int pid, int ancestor)
{
    for (int hops = 0; pid > 1 && hops < 4096; ++hops) {
        const auto found = processes.find(pid);
        if (found == processes.end())
            return false;
        pid = found->second.parent;
        if (pid == ancestor)
            return true;
    }
    return false;
}

// What ending the target must also end: its group, its descendants (which
// may have left the group), and the orphans adopted here that left this
// program's session (setsid). Orphans that stayed in the session are
// members of the group.
std::vector<int> Stragglers(int target, int guard)
{
    const std::map<int, ProcessEntry> processes = ListProcesses();
    const int self = getpid();
    const int session = getsid(0);
    std::vector<int> found;
    for (const auto& [pid, entry] : processes) {
        const bool adopted = entry.parent == self && entry.session != session;
        if (pid != guard && (entry.group == target || adopted || DescendsFrom(processes, pid, target)))
            found.push_back(pid);
    }
    return found;
}

} // namespace

std::vector<int> LiveDescendants(const std::vector<int>& except)
{
    const std::map<int, ProcessEntry> processes = ListProcesses();
    const int self = getpid();
    std::vector<int> found;
    for (const auto& [pid, entry] : processes)
        if (entry.state != 'Z' && entry.state != 'X' && std::find(except.begin(), except.end(), pid) == except.end() &&
            DescendsFrom(processes, pid, self))
            found.push_back(pid);
    return found;
}

// Rounds of kill and reap until nothing is left: a descendant whose parent
// dies in one round is adopted here and reaped in the next. Each is killed
// through a pidfd, so a pid reused meanwhile is never hit.
void Target::EndDescendants(int target, int guard)
{
    kill(-target, SIGKILL);
    const std::uint64_t giveUp = MonotonicNowNs() + 2'000'000'000;
    for (std::vector<int> left = Stragglers(target, guard); !left.empty() && MonotonicNowNs() < giveUp;
         left = Stragglers(target, guard)) {
        for (const int pid : left) {
            if (pid == target)
                continue;  // the watcher reaps it
            const UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
            if (pidfd.IsOpen())
                syscall(SYS_pidfd_send_signal, pidfd.Get(), SIGKILL, nullptr, 0);
            waitpid(pid, nullptr, WNOHANG);
        }
        usleep(1000);
    }
}
