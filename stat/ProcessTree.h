#pragma once
// The command and every process it starts, read from /proc as one source:
// their live threads together, each with its process, and their processor
// time together: each live process's own clock and what the kernel gave it
// for the children it waited for (counted in whole clock ticks), so that a
// process that started and ended between two reads is counted once its
// parent has waited for it. Until then, and below a tick, it is only in the
// total of the reaped command (RUSAGE_CHILDREN), counted at its end.

#include "ProcThreadActivity.h"

#include <map>
#include <memory>

class ProcessTree : public ThreadActivitySource {
public:
    ProcessTree(int pid, std::unique_ptr<ProcThreadActivity> command);
    // Gone once the command is.
    Status Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot) override;
    // Attached to a running process: the children it has now are not
    // measured, only those it starts from here on.
    void LeaveOutPresentChildren(std::uint64_t instantNs);

private:
    struct Process {
        std::unique_ptr<ProcThreadActivity> source;  // null once ended
        std::uint64_t cpuNs = 0;  // its clock and its waited-for children's, at the last read
    };
    void Read(int pid, Process& process, std::uint64_t instantNs, ActivitySnapshot& snapshot,
              std::vector<int>& born);

    const int m_pid;
    std::map<int, Process> m_processes;  // every one seen, by pid
    std::uint64_t m_cpuNs = 0;  // the total last given
};
