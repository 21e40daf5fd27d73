#include "ProcSampler.h"

#include <algorithm>

namespace {

SwitchRecord Record(std::uint64_t timeNs, RecordKind kind, int pid, int tid)
{
    SwitchRecord record;
    record.timeNs = timeNs;
    record.kind = kind;
    record.pid = pid;
    record.tid = tid;
    record.cpu = -1;  // /proc does not say
    return record;
}

} // namespace

ProcSampler::ProcSampler(int pid, ThreadActivitySource& source, bool countFromFirstSample)
    : m_pid(pid), m_source(source), m_baseNeeded(countFromFirstSample)
{
    m_threads[pid] = {};
}

bool ProcSampler::Sample(std::uint64_t instantNs, ProfileBuilder& builder)
{
    ActivitySnapshot snapshot;
    if (m_source.Collect(instantNs, snapshot) != ThreadActivitySource::Status::Ok)
        return false;
    std::map<int, Seen> now;
    for (const ThreadActivity& thread : snapshot.threads) {
        const auto before = m_threads.find(thread.tid);
        if (before == m_threads.end())
            builder.Add(Record(instantNs, RecordKind::Fork, m_pid, thread.tid));
        if (before == m_threads.end() ? thread.onProcessor : before->second.onProcessor != thread.onProcessor)
            builder.Add(Record(instantNs, thread.onProcessor ? RecordKind::SwitchIn : RecordKind::SwitchOut, m_pid,
                               thread.tid));
        now[thread.tid] = {thread.onProcessor, thread.cpuNs};
        m_lastCpuNs[thread.tid] = thread.cpuNs;
        if (m_baseNeeded)
            m_baseCpuNs[thread.tid] = thread.cpuNs;
    }
    m_baseNeeded = false;
    std::uint64_t used = 0;
    for (const auto& [tid, cpuNs] : m_lastCpuNs) {
        const auto base = m_baseCpuNs.find(tid);
        used += cpuNs - (base != m_baseCpuNs.end() ? base->second : 0);
    }
    m_usedAt.emplace_back(instantNs, used);
    for (const auto& [tid, seen] : m_threads)
        if (!now.count(tid))
            builder.Add(Record(instantNs, RecordKind::Exit, m_pid, tid));
    m_threads = std::move(now);
    return true;
}

void ProcSampler::PatchOnCpu(Profile& profile) const
{
    for (ThreadProfile& thread : profile.threads)
        if (const auto cpu = m_lastCpuNs.find(thread.tid); cpu != m_lastCpuNs.end()) {
            const auto base = m_baseCpuNs.find(thread.tid);
            thread.onCpuNs = cpu->second - (base != m_baseCpuNs.end() ? base->second : 0);
        }
    for (WindowProfile& window : profile.windows) {
        const std::uint64_t from = profile.startNs + window.startNs;
        window.onCpuNs = UsedAt(from + window.lengthNs, profile.startNs) - UsedAt(from, profile.startNs);
    }
}

// The processor time used by the instant, spread evenly between two samples:
//   start(0) ---- sample 1 ---- sample 2 ---- ... last sample, then flat
// An attached process counts from its first sample, so nothing comes before it.
std::uint64_t ProcSampler::UsedAt(std::uint64_t timeNs, std::uint64_t startNs) const
{
    std::uint64_t fromNs = startNs;
    std::uint64_t fromUsed = 0;
    for (const auto& [sampleNs, used] : m_usedAt) {
        if (timeNs < sampleNs) {
            if (timeNs <= fromNs || used <= fromUsed)
                return fromUsed;
            const double share = static_cast<double>(timeNs - fromNs) / static_cast<double>(sampleNs - fromNs);
            return fromUsed + static_cast<std::uint64_t>(share * static_cast<double>(used - fromUsed));
        }
        fromNs = sampleNs;
        fromUsed = std::max(fromUsed, used);  // never less than before: a reused tid may start low
    }
    return fromUsed;
}
