#pragma once
// The thread view of one process read from /proc. The per-thread files stay
// open and are re-read in place while descriptors are plentiful; past that, a
// thread's files are opened for each read, so that a low descriptor limit
// slows the reading but never loses a thread. task/ is listed again only
// when the thread count changed or a thread vanished. State R means running
// or waiting to run, so on a busy machine this overstates concurrency. A main thread that
// ended before the others stays listed as a zombie; it is no thread any more.

#include "ProcFiles.h"
#include "ThreadActivity.h"

#include <ctime>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// The reader keeps two descriptors per thread: a program calls this once at
// its start to raise its soft limit on open descriptors to the hard limit.
// False when the limit could not be read or raised.
bool RaiseDescriptorLimit();

class ProcThreadActivity : public ThreadActivitySource {
public:
    // Null when the process no longer carries startTicks (it ended, and its
    // pid may have been reused). procRoot is "/proc" except in tests.
    static std::unique_ptr<ProcThreadActivity> Open(pid_t pid, std::uint64_t startTicks,
                                                    const std::string& procRoot = "/proc");

    Status Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot) override;

private:
    struct ThreadFiles {
        int tid;
        UniqueFd schedstat;  // closed: opened for each read
        UniqueFd stat;
        ThreadActivity last;  // the last reading, standing in while the files cannot be read
    };

    ProcThreadActivity(UniqueFd directory, UniqueFd stat, clockid_t cpuClock);
    bool ListThreads();
    UniqueFd OpenKept(const std::string& path) const;
    ssize_t ReadThreadFile(int tid, const UniqueFd& kept, const char* name, char* buffer, std::size_t size) const;
    bool ReadThreads(std::vector<ThreadActivity>& threads);

    UniqueFd m_directory;  // /proc/<pid>: it stays bound to this process even if the pid is reused
    UniqueFd m_stat;
    UniqueFd m_taskDirectory;
    clockid_t m_cpuClock;
    int m_keptBelow;  // descriptors from this number up are left to the rest of the program
    std::vector<ThreadFiles> m_threads;  // ascending tid
};
