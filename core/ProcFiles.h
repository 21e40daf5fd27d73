#pragma once
// Reading the kernel's per-process and per-thread files under /proc.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/types.h>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release();

private:
    int m_fd = -1;
};

// The fields of /proc/<pid>/stat (or .../task/<tid>/stat) that we use.
struct ProcStat {
    char state = 0;                    // R running or runnable, S, D, Z zombie, X dead, ...
    int parentPid = 0;
    int processGroup = 0;
    int session = 0;
    std::uint64_t flags = 0;           // the kernel's PF_* flags of the task
    long numThreads = 0;
    std::uint64_t childrenTicks = 0;   // processor time of the children it waited for (cutime + cstime)
    std::uint64_t startTicks = 0;      // since boot; with the pid, names one process for good
};

// The command name may hold blanks and parentheses, so it ends at the last
// ')' of the line.
bool ParseProcStat(std::string_view text, ProcStat& stat);
// /proc/<pid>/task/<tid>/schedstat: nanoseconds on a processor, then more.
bool ParseSchedstatRuntimeNs(std::string_view text, std::uint64_t& ns);
// Its first two fields: time on a processor and time waiting on a run queue.
bool ParseSchedstat(std::string_view text, std::uint64_t& runNs, std::uint64_t& waitNs);

// /proc/stat: the clock ticks the given processors spent idle (idle and
// iowait fields of their "cpuN" lines); false when a line is malformed.
bool ParseIdleTicks(std::string_view text, const cpu_set_t& processors, std::uint64_t& ticks);
// The same in nanoseconds, read now; nullopt when /proc/stat is unreadable.
std::optional<std::uint64_t> ReadIdleNs(const cpu_set_t& processors);

// Re-reads a small kernel file from its start into buffer (the reused
// descriptor sees fresh values). Returns the length, or -1 with errno set;
// a vanished task answers ESRCH or ENOENT.
ssize_t PreadText(int fd, char* buffer, std::size_t size);
bool ReadProcStat(int fd, ProcStat& stat);
// procRoot is "/proc" except in tests.
bool ReadPidStat(pid_t pid, ProcStat& stat, const std::string& procRoot = "/proc");
