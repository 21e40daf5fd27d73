#include "ProcThreadActivity.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;

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
    : m_directory(std::move(directory)), m_stat(std::move(stat)), m_cpuClock(cpuClock)
{
}

ThreadActivitySource::Status ProcThreadActivity::Collect(std::uint64_t, ActivitySnapshot& snapshot)
{
    ProcStat process;
    timespec cpu;
    if (!ReadProcStat(m_stat.Get(), process) || HasEnded(process) || clock_gettime(m_cpuClock, &cpu) != 0)
        return Status::Gone;
    snapshot.processCpuNs = Nanoseconds(cpu);
    snapshot.threads.clear();
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
        ThreadFiles files{tid, {}, {}};
        if (kept != m_threads.end() && kept->tid == tid)
            files = std::move(*kept);
        else if (!OpenThread(tid, files))
            continue;
        threads.push_back(std::move(files));
    }
    m_threads = std::move(threads);
    return true;
}

bool ProcThreadActivity::OpenThread(int tid, ThreadFiles& files) const
{
    const std::string directory = std::to_string(tid) + "/";
    files.schedstat = UniqueFd(openat(m_taskDirectory.Get(), (directory + "schedstat").c_str(), kOpenFlags));
    files.stat = UniqueFd(openat(m_taskDirectory.Get(), (directory + "stat").c_str(), kOpenFlags));
    return files.schedstat.IsOpen() && files.stat.IsOpen();
}

// Leaves out the threads that have ended since the last listing (their files
// answer ESRCH; false when there were any) and a zombie main thread, which
// stays listed, and counted in the process's thread count, until the last
// thread ends.
bool ProcThreadActivity::ReadThreads(std::vector<ThreadActivity>& threads) const
{
    char buffer[512];
    bool allThere = true;
    for (const ThreadFiles& files : m_threads) {
        const ssize_t length = PreadText(files.schedstat.Get(), buffer, sizeof buffer);
        std::uint64_t cpuNs;
        ProcStat stat;
        if (length > 0 && ParseSchedstatRuntimeNs(std::string_view(buffer, static_cast<size_t>(length)), cpuNs) &&
            ReadProcStat(files.stat.Get(), stat)) {
            if (!IsDead(stat))
                threads.push_back({files.tid, stat.state == 'R', cpuNs});
        } else {
            allThere = false;
        }
    }
    return allThere;
}
