#include "ProcThreadActivity.h"

#include "Clock.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
// Left free for the logs and whatever else the program opens while it samples.
constexpr int kSpareDescriptors = 32;

int KeptBelow()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const auto soft = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, std::numeric_limits<int>::max()));
    return soft - kSpareDescriptors;
}

std::uint64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000 + static_cast<std::uint64_t>(time.tv_nsec);
}

bool IsDead(const ProcStat& stat)
{
    return stat.state == 'Z' || stat.state == 'X';
}

// A zombie leader whose thread group still runs is not the process's end:
// the group is gone when the leader is a zombie on its own.
bool HasEnded(const ProcStat& stat)
{
    return IsDead(stat) && stat.numThreads <= 1;
}

// The tids in a task/ directory, ascending.
std::vector<int> TaskIds(int directory)
{
    std::vector<int> tids;
    if (lseek(directory, 0, SEEK_SET) != 0)
        return tids;
    char buffer[8192];
    ssize_t length;
    while ((length = getdents64(directory, buffer, sizeof buffer)) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            int tid = 0;
            const char* name = entry->d_name;
            const char* end = name + std::strlen(name);
            if (std::from_chars(name, end, tid).ptr == end && end != name)
                tids.push_back(tid);
            offset += entry->d_reclen;
        }
    }
    std::sort(tids.begin(), tids.end());
    return tids;
}

} // namespace

bool RaiseDescriptorLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::unique_ptr<ProcThreadActivity> ProcThreadActivity::Open(pid_t pid, std::uint64_t startTicks,
                                                             const std::string& procRoot)
{
    const std::string path = procRoot + "/" + std::to_string(pid);
    UniqueFd directory(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.IsOpen())
        return nullptr;
    UniqueFd stat(openat(directory.Get(), "stat", kOpenFlags));
    ProcStat current;
    clockid_t cpuClock;
    if (!stat.IsOpen() || !ReadProcStat(stat.Get(), current) || current.startTicks != startTicks ||
        clock_getcpuclockid(pid, &cpuClock) != 0)
        return nullptr;
    return std::unique_ptr<ProcThreadActivity>(
        new ProcThreadActivity(std::move(directory), std::move(stat), cpuClock));
}

ProcThreadActivity::ProcThreadActivity(UniqueFd directory, UniqueFd stat, clockid_t cpuClock)
    : m_directory(std::move(directory)), m_stat(std::move(stat)), m_cpuClock(cpuClock), m_keptBelow(KeptBelow())
{
}

ThreadActivitySource::Status ProcThreadActivity::Collect(std::uint64_t, ActivitySnapshot& snapshot)
{
    ProcStat process;
    timespec cpu;
    if (!ReadProcStat(m_stat.Get(), process) || clock_gettime(m_cpuClock, &cpu) != 0)
        return Status::Gone;
    snapshot.processCpuNs = Nanoseconds(cpu);
    snapshot.processReadNs = MonotonicNowNs();
    snapshot.childrenCpuNs = process.childrenTicks * (1'000'000'000 / static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK)));
    snapshot.threads.clear();
    // An exited process not yet reaped still tells its final processor time.
    if (HasEnded(process))
        return Status::Gone;
    if (process.numThreads != static_cast<long>(m_threads.size()) && !ListThreads())
        return Status::Gone;
    if (!ReadThreads(snapshot.threads)) {
        // Another thread may have taken the place of the one that vanished.
        snapshot.threads.clear();
        if (!ListThreads())
            return Status::Gone;
        ReadThreads(snapshot.threads);
    }
    return Status::Ok;
}

// Keeps the files of the threads that remain, opens those of new ones.
bool ProcThreadActivity::ListThreads()
{
    if (!m_taskDirectory.IsOpen())
        m_taskDirectory = UniqueFd(openat(m_directory.Get(), "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_taskDirectory.IsOpen())
        return false;
    std::vector<ThreadFiles> threads;
    auto kept = m_threads.begin();
    for (const int tid : TaskIds(m_taskDirectory.Get())) {
        while (kept != m_threads.end() && kept->tid < tid)
            ++kept;
        if (kept != m_threads.end() && kept->tid == tid) {
            threads.push_back(std::move(*kept));
            continue;
        }
        const std::string directory = std::to_string(tid) + "/";
        threads.push_back({tid, OpenKept(directory + "schedstat"), OpenKept(directory + "stat"), {tid, false, 0, 0, 0}});
    }
    m_threads = std::move(threads);
    return true;
}

// Not open when the descriptor would eat into the spare ones.
UniqueFd ProcThreadActivity::OpenKept(const std::string& path) const
{
    UniqueFd fd(openat(m_taskDirectory.Get(), path.c_str(), kOpenFlags));
    return fd.Get() < m_keptBelow ? std::move(fd) : UniqueFd();
}

ssize_t ProcThreadActivity::ReadThreadFile(int tid, const UniqueFd& kept, const char* name, char* buffer,
                                           std::size_t size) const
{
    if (kept.IsOpen())
        return PreadText(kept.Get(), buffer, size);
    const std::string path = std::to_string(tid) + "/" + name;
    const UniqueFd once(openat(m_taskDirectory.Get(), path.c_str(), kOpenFlags));
    return once.IsOpen() ? PreadText(once.Get(), buffer, size) : -1;
}

// Leaves out a zombie main thread, which stays listed, and counted in the
// process's thread count, until the last thread ends. A thread whose files
// cannot be read is still counted, with its last reading, and the answer is
// false: it may have ended since the last listing (its files answer ESRCH),
// or no descriptor was to be had.
bool ProcThreadActivity::ReadThreads(std::vector<ThreadActivity>& threads)
{
    char buffer[1024];
    bool allRead = true;
    for (ThreadFiles& files : m_threads) {
        const ssize_t length = ReadThreadFile(files.tid, files.schedstat, "schedstat", buffer, sizeof buffer);
        const std::uint64_t readNs = MonotonicNowNs();
        std::uint64_t cpuNs;
        std::uint64_t waitingNs;
        ProcStat stat;
        if (length > 0 && ParseSchedstat(std::string_view(buffer, static_cast<size_t>(length)), cpuNs, waitingNs)) {
            const ssize_t statLength = ReadThreadFile(files.tid, files.stat, "stat", buffer, sizeof buffer);
            if (statLength > 0 && ParseProcStat(std::string_view(buffer, static_cast<size_t>(statLength)), stat)) {
                if (!IsDead(stat)) {
                    files.last = {files.tid, stat.state == 'R', cpuNs, readNs, waitingNs};
                    threads.push_back(files.last);
                }
                continue;
            }
        }
        allRead = false;
        threads.push_back({files.tid, false, files.last.cpuNs, files.last.readNs, files.last.waitingNs});
    }
    return allRead;
}
