#pragma once
// A target: a program started held, then released, measured and ended.
//
// Start forks a child that puts itself in its own process group and waits
// on a pipe; while it waits, the caller's whileHeld attaches what must see
// the target from its first instruction on (the switch records), then the
// child is released and execs. An exec failure comes back through a second
// pipe, so a start that cannot exec fails synchronously with its errno. The
// child dies with the thread that started it (PR_SET_PDEATHSIG).
//
// A watcher thread stamps the exit the moment the kernel reports it, keeps
// the wait status and reaps the process. This program becomes a child
// subreaper, so descendants of the target that lose their parent are
// adopted here. End kills the target's process group, every descendant
// (also those that left the group or the session) and those adopted
// orphans, and reaps them all. A small guard process in the target's group
// kills the group when this program dies, however it dies (unless the
// launch asks for no guard: then nothing is ended but by End). (A set-uid
// target cannot be signalled by an unprivileged user once this program has
// died: the kernel clears its parent-death signal.)

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TargetLaunch {
    std::string program;  // a path; with searchPath, a name without '/' is looked for as execvp does
    bool searchPath = false;
    std::vector<std::string> argv;
    std::optional<std::vector<std::string>> envp;  // "name=value" entries; nullopt: the caller's environment
    std::string workingFolder;                     // empty: the caller's
    bool keepDescriptors = false;                  // else only standard input, output and error pass on
    // false: no guard and no parent-death signal, so nothing the target
    // leaves running (nor the target, should this program die) is ended
    // unless End is called.
    bool guarded = true;
    bool shellRunsScripts = false;  // execvp's rule: a file the kernel cannot execute is run by /bin/sh
};

struct TargetExit {
    std::uint64_t exitNs;  // CLOCK_MONOTONIC, when the kernel reported the exit
    int waitStatus;        // as waitpid gives it
};

class Target {
public:
    using WhileHeld = std::function<void(int pid)>;

    // Null on failure, with the errno in error.
    static std::unique_ptr<Target> Start(const TargetLaunch& launch, const WhileHeld& whileHeld, int& error);
    // A target still running keeps running; its watcher reaps it when it ends.
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    int Pid() const { return m_pid; }
    int PidFd() const;
    int ProcessGroup() const { return m_pid; }
    // /proc's start time, which with the pid names this process for good.
    std::uint64_t StartTicks() const { return m_startTicks; }
    // CLOCK_MONOTONIC, when the child was released to exec.
    std::uint64_t ReleaseNs() const { return m_releaseNs; }

    // Nullopt while the target runs.
    std::optional<TargetExit> Exit() const;
    // Kills the target, its group and its descendants (SIGKILL: a target may
    // ignore anything else) and reaps them; false when the target itself had
    // already ended. Ending one target also ends orphans adopted from
    // another that left the session: a program runs one target at a time.
    bool End();

private:
    struct Watch;
    static void WatchForExit(int pid, const std::shared_ptr<Watch>& watch);
    static void EndDescendants(int target, int guard);
    void EndGuard();
    Target(int pid, int pidfd, std::uint64_t startTicks, std::uint64_t releaseNs);

    int m_pid;
    std::uint64_t m_startTicks;
    std::uint64_t m_releaseNs;
    std::shared_ptr<Watch> m_watch;  // shared with the watcher, which may outlive the target
};

// The path execvp would run for name along searchPath (PATH's format);
// nullopt when none is found. A name holding '/' is its own path.
std::optional<std::string> FindProgram(const std::string& name, const char* searchPath);
// Why FindProgram found nothing, as execvp says it: EACCES when a file of
// that name was there but could not be executed, else ENOENT.
int SearchError(const std::string& name, const char* searchPath);
// The live processes that descend from this one, other than except (the
// target that just ended, a guard): what a command left running.
std::vector<int> LiveDescendants(const std::vector<int>& except);
