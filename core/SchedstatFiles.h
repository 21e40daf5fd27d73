#pragma once
// The kernel's run-queue wait per thread, from /proc/<pid>/task/<tid>/schedstat
// ("on-CPU ns, waiting ns, switch-ins"), unprivileged. A thread's file is
// kept open and re-read from its start, and closed once the thread is gone;
// past KEPT_FILES threads, files are opened for each read, so that
// thousands of threads do not use up the descriptors quorvex-stat and the
// kernel-clock check need.

#include "DemandAnalysis.h"
#include "ProcFiles.h"

#include <map>
#include <string>
#include <string_view>

// The second field: nanoseconds runnable without a processor.
bool ParseSchedstatRunDelayNs(std::string_view text, std::uint64_t& ns);

class SchedstatFiles : public RunDelaySource {
public:
    static constexpr std::size_t KEPT_FILES = 256;

    explicit SchedstatFiles(std::string procRoot = "/proc") : m_procRoot(std::move(procRoot)) {}
    // False for a thread that is gone (or whose file cannot be read).
    bool Read(int pid, int tid, std::uint64_t& runDelayNs) override;
    void Forget(int tid) override { m_files.erase(tid); }

private:
    static bool ReadOnce(int fd, std::uint64_t& runDelayNs);

    const std::string m_procRoot;
    std::map<int, UniqueFd> m_files;  // by tid
};
