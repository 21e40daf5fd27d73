#pragma once
// The kernel's own figures per thread, from /proc/<pid>/task/<tid>/schedstat
// ("on-CPU ns, waiting ns, switch-ins"), unprivileged: its clock of the
// thread's processor time and its run-queue wait. A thread's file is kept
// open and re-read from its start, and closed once the thread is gone; past
// KEPT_FILES threads, files are opened for each read, so that thousands of
// threads do not use up the descriptors quorvex-stat needs. Within one
// round, a kept file is read once, whoever asks: the clock check and the
// demand analysis read the same threads at the same moment.

#include "DemandAnalysis.h"
#include "ProcFiles.h"

#include <cstdint>
#include <map>
#include <string>

struct Schedstat {
    std::uint64_t onCpuNs = 0;
    std::uint64_t runDelayNs = 0;  // runnable without a processor
};

class SchedstatFiles : public RunDelaySource {
public:
    static constexpr std::size_t KEPT_FILES = 256;

    explicit SchedstatFiles(std::string procRoot = "/proc") : m_procRoot(std::move(procRoot)) {}
    // From now on, each file is read afresh once. The files nobody read in
    // the round that ends close: those of threads gone, when each round
    // reads every live thread.
    void NextRound();
    // False for a thread that is gone (or whose file cannot be read).
    bool Read(int pid, int tid, Schedstat& figures);
    bool Read(int pid, int tid, std::uint64_t& runDelayNs) override;
    void Forget(int tid) override { m_files.erase(tid); }

private:
    struct File {
        UniqueFd fd;
        std::uint64_t round;  // when figures were read
        Schedstat figures;
    };
    static bool ReadOnce(int fd, Schedstat& figures);

    const std::string m_procRoot;
    std::map<int, File> m_files;  // by tid
    std::uint64_t m_round = 0;
};
