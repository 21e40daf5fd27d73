#include "ProcessTree.h"

#include "MachineFiles.h"

#include <algorithm>
#include <sstream>

ProcessTree::ProcessTree(int pid, std::unique_ptr<ProcThreadActivity> command) : m_pid(pid)
{
    m_processes[pid].source = std::move(command);
}

ThreadActivitySource::Status ProcessTree::Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot)
{
    snapshot = {};
    std::vector<int> born;
    for (auto& [pid, process] : m_processes)
        if (process.source)
            Read(pid, process, instantNs, snapshot, born);
    // The processes found are read in the same pass, and theirs in turn.
    while (!born.empty()) {
        const int pid = born.back();
        born.pop_back();
        ProcStat stat;
        if (m_processes.count(pid) || !ReadPidStat(pid, stat))
            continue;
        Process& process = m_processes[pid];
        process.source = ProcThreadActivity::Open(pid, stat.startTicks);
        if (process.source)
            Read(pid, process, instantNs, snapshot, born);
    }
    std::uint64_t cpuNs = 0;
    for (const auto& [pid, process] : m_processes)
        cpuNs += process.source ? process.cpuNs : 0;
    // A parent's figure for its children grows in whole ticks when it waits
    // for them: more than the processors could run since the last read. The
    // sampler books the excess where they had room before.
    m_cpuNs = std::max(m_cpuNs, cpuNs);
    snapshot.processCpuNs = m_cpuNs;
    std::sort(snapshot.threads.begin(), snapshot.threads.end(),
              [](const ThreadActivity& a, const ThreadActivity& b) { return a.tid < b.tid; });
    return m_processes.at(m_pid).source ? Status::Ok : Status::Gone;
}

void ProcessTree::LeaveOutPresentChildren(std::uint64_t instantNs)
{
    ActivitySnapshot present;
    Collect(instantNs, present);
    // Kept without a source, so that they are never read again.
    for (auto& [pid, process] : m_processes)
        if (pid != m_pid)
            process.source.reset();
    m_cpuNs = m_processes.at(m_pid).cpuNs;
}

void ProcessTree::Read(int pid, Process& process, std::uint64_t instantNs, ActivitySnapshot& snapshot,
                       std::vector<int>& born)
{
    ActivitySnapshot own;
    const Status status = process.source->Collect(instantNs, own);
    if (status != Status::Ok) {
        process.source.reset();
        return;
    }
    process.cpuNs = own.processCpuNs + own.childrenCpuNs;
    snapshot.processReadNs = std::max(snapshot.processReadNs, own.processReadNs);
    for (ThreadActivity& thread : own.threads) {
        thread.pid = pid;
        std::istringstream children(
            ReadMachineLine("/proc", std::to_string(pid) + "/task/" + std::to_string(thread.tid) + "/children")
                .value_or(""));
        for (int child = 0; children >> child;)
            born.push_back(child);
        snapshot.threads.push_back(thread);
    }
}
