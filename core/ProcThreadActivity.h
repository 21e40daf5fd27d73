#pragma once
// The thread view of one process read from /proc. The per-thread files stay
// open and are re-read in place; task/ is listed again only when the thread
// count changed or a thread vanished. State R means running or waiting to
// run, so on a busy machine this overstates concurrency. A main thread that
// ended before the others stays listed as a zombie; it is no thread any more.

#include "ProcFiles.h"
#include "ThreadActivity.h"

#include <ctime>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

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
        UniqueFd schedstat;
        UniqueFd stat;
    };

    ProcThreadActivity(UniqueFd directory, UniqueFd stat, clockid_t cpuClock);
    bool ListThreads();
    bool OpenThread(int tid, ThreadFiles& files) const;
    bool ReadThreads(std::vector<ThreadActivity>& threads) const;

    UniqueFd m_directory;  // /proc/<pid>: it stays bound to this process even if the pid is reused
    UniqueFd m_stat;
    UniqueFd m_taskDirectory;
    clockid_t m_cpuClock;
    std::vector<ThreadFiles> m_threads;  // ascending tid
};
